#include "db_label.h"

#include <QMouseEvent>
#include <QTimer>

db_label::db_label(QWidget *parent)
    : QLabel(parent)
    , m_click_timer(new QTimer(this))
{
    connect(m_click_timer, &QTimer::timeout, this, &db_label::singleClick);
}

void db_label::mousePressEvent(QMouseEvent *)
{
    // Not passed on to QLabel: the click is decided by the timer.
    m_click_timer->setSingleShot(true);
    m_click_timer->start(kClickDelayMs);
}

void db_label::mouseDoubleClickEvent(QMouseEvent *)
{
    m_click_timer->stop();
    emit QlabelDoubleClick();
}

void db_label::singleClick()
{
    m_click_timer->stop();
    emit QlabelClick();
}

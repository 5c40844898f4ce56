#pragma once

#include <QLabel>

class QMouseEvent;
class QTimer;

// A label that tells a single tap from a double tap on the touch panel: a double click
// emits QlabelDoubleClick at once; a single click emits QlabelClick only once 300 ms have
// passed without a second click, so a double tap never also counts as a tap.
class db_label : public QLabel
{
    Q_OBJECT
public:
    static constexpr int kClickDelayMs = 300;

    explicit db_label(QWidget *parent = nullptr);

signals:
    void QlabelDoubleClick();
    void QlabelClick();

public slots:
    void singleClick();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QTimer *m_click_timer;
};

#include "PlcSetup.h"

#include "DesktopActions.h"
#include "ModbusLink.h"
#include "PlcState.h"
#include "ui_PlcSetup.h"

#include <QHeaderView>
#include "BoundedIntValidator.h"
#include <QLineEdit>
#include <QPushButton>

PlcSetup::PlcSetup(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
    , ui(std::make_unique<Ui::PlcSetup>())
    , m_editor(g_modbus)
{
    ui->setupUi(this);
    m_editor.load();

    QTableWidget *table = ui->tableWidget;
    table->setColumnCount(kColumns);
    table->setHorizontalHeaderLabels({QStringLiteral("功能描述"), QStringLiteral("读数值"), QStringLiteral("读操作"),
                                      QStringLiteral("写数值"), QStringLiteral("写操作"), QStringLiteral("保存"),
                                      QStringLiteral("备注")});
    const int widths[kColumns] = {200, 100, 50, 100, 50, 50, 390};
    for (int c = 0; c < kColumns; ++c)
        table->setColumnWidth(c, widths[c]);
    table->verticalHeader()->setVisible(false);

    const QList<PlcParam> &params = m_editor.params();
    table->setRowCount(params.size());
    for (int row = 0; row < params.size(); ++row) {
        table->setItem(row, kName, new QTableWidgetItem(PlcParams::text(params[row].name)));
        table->setItem(row, kRead, new QTableWidgetItem());
        table->setItem(row, kRemark, new QTableWidgetItem(PlcParams::text(params[row].remark)));
        const struct { Column column; const char *text; void (PlcSetup::*slot)(); } buttons[] = {
            {kReadButton, "读", &PlcSetup::click_read},
            {kWriteButton, "写", &PlcSetup::click_write},
            {kSaveButton, "保存", &PlcSetup::click_save},
        };
        for (const auto &b : buttons) {
            auto *button = new QPushButton(QString::fromUtf8(b.text));
            connect(button, &QPushButton::released, this, b.slot);
            table->setCellWidget(row, b.column, button);
        }
        auto *edit = new QLineEdit;
        edit->setValidator(new BoundedIntValidator(0, 100000, edit));
        table->setCellWidget(row, kWrite, edit);
    }

    connect(&m_timer, &QTimer::timeout, this, &PlcSetup::handleTimeout);
    m_timer.start(kPollMs);
}

PlcSetup::~PlcSetup() = default;

int PlcSetup::rowOf(QObject *button) const
{
    auto *widget = qobject_cast<QWidget *>(button);
    return widget ? ui->tableWidget->indexAt(widget->pos()).row() : -1;
}

QLineEdit *PlcSetup::writeEdit(int row) const
{
    return qobject_cast<QLineEdit *>(ui->tableWidget->cellWidget(row, kWrite));
}

void PlcSetup::showRead(int row, const QString &text)
{
    if (!text.isNull())
        ui->tableWidget->item(row, kRead)->setText(text);
}

void PlcSetup::click_read()
{
    const int row = rowOf(sender());
    if (row >= 0)
        showRead(row, m_editor.readText(row));
}

void PlcSetup::click_write()
{
    const int row = rowOf(sender());
    if (row >= 0)
        m_editor.write(row, writeEdit(row)->text());
}

void PlcSetup::click_save()
{
    const int row = rowOf(sender());
    if (row >= 0)
        m_editor.writeAndSave(row, writeEdit(row)->text());
}

void PlcSetup::on_toolButton_batch_read_released()
{
    const QStringList texts = m_editor.readAll();
    for (int row = 0; row < texts.size(); ++row)
        showRead(row, texts[row]);
    m_ticksToSkip = texts.contains(PlcParamEditor::readFailedText()) ? kTicksSkippedAfterFailure : 0;
}

void PlcSetup::on_toolButton_keyboard_released()
{
    DesktopActions::startKeyboard();
}

void PlcSetup::on_toolButton_close_released()
{
    g_plc_setup_open = false;
    close();
}

void PlcSetup::handleTimeout()
{
    if (m_ticksToSkip > 0) {
        --m_ticksToSkip;
        return;
    }
    on_toolButton_batch_read_released();
}

void PlcSetup::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    g_plc_setup_open = true;
    if (!m_timer.isActive())
        m_timer.start(kPollMs);
}

void PlcSetup::hideEvent(QHideEvent *event)
{
    m_timer.stop();
    g_plc_setup_open = false;
    QDialog::hideEvent(event);
}

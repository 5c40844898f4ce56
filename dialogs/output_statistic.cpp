#include "output_statistic.h"

#include "StationPaths.h"
#include "ui_output_statistic.h"

#include <QFile>
#include <QTextBrowser>
#include <QTextCodec>

output_statistic::output_statistic(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::output_statistic>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
}

output_statistic::~output_statistic() = default;

void output_statistic::recMsgFromDialogSetup()
{
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QTextBrowser *views[] = {ui->textBrowser_1, ui->textBrowser_2};
    for (int position = 0; position < 2; ++position) {
        QFile file(StationPaths::statisticFile(position));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        const QByteArray bytes = file.readAll();
        views[position]->setPlainText(gbk ? gbk->toUnicode(bytes) : QString::fromLocal8Bit(bytes));
    }
    show();
}

// The settings dialog and its recipe, shift-times and statistics dialogs, clicked as the
// administrator does, in a throw-away station folder.
#include "AnsweredMessages.h"
#include "DialogSetup.h"
#include "Passwords.h"
#include "PlcParam.h"
#include "StationPaths.h"
#include "StdoutCapture.h"
#include "SysConf.h"
#include "TempStation.h"
#include "camera_glue.h"
#include "change_shift.h"
#include "output_statistic.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTextBrowser>
#include <QtTest>

namespace {
template <typename T = QWidget>
T *child(QObject *parent, const QString &name)
{
    T *w = parent->findChild<T *>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

void click(QObject *parent, const QString &name)
{
    QTest::mouseClick(child(parent, name), Qt::LeftButton);
}

void type(QObject *parent, const QString &name, const QString &text)
{
    auto *edit = child<QLineEdit>(parent, name);
    edit->clear();
    QTest::keyClicks(edit, text);
}
} // namespace

class TstDialogSetup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void validators_data();
    void validators();
    void buttonsStoreInRecord_data();
    void buttonsStoreInRecord();
    void passwordChange_data();
    void passwordChange();
    void exitQuestion_data();
    void exitQuestion();
    void recipe_data();
    void recipe();
    void shiftTimes_data();
    void shiftTimes();
    void statistics();
    void desktopButtons_data();
    void desktopButtons();

private:
    std::unique_ptr<TempStation> m_station;
    std::unique_ptr<AnsweredMessages> m_messages;
    std::unique_ptr<DialogSetup> m_dialog;
};

void TstDialogSetup::init()
{
    m_station = std::make_unique<TempStation>();
    QVERIFY(m_station->isValid());
    SysConf &c = g_sys_conf;
    c.SAVE = 0;
    c.AUTO_OPEN = c.AUTO_WORK = 1;
    c.SHIFT_A = QTime(6, 30);
    c.SHIFT_B = QTime(14, 30);
    c.SHIFT_C = QTime(22, 30);
    for (int k = 0; k < 4; ++k) {
        c.EXPO[k] = 2000 + k;
        c.GAIN[k] = k;
        c.FILTER[k] = 500 + k;
        for (int i = 0; i < 3; ++i)
            c.NO[k][i] = 2 * k + i;
    }
    g_admin_pswd = Passwords::digest(QStringLiteral("123456"));
    g_op_pswd = Passwords::digest(QStringLiteral("1234"));
    m_messages = std::make_unique<AnsweredMessages>();
    m_dialog = std::make_unique<DialogSetup>();
    m_dialog->show();
}

void TstDialogSetup::cleanup()
{
    m_dialog.reset();
    m_messages.reset();
    m_station.reset();
}

void TstDialogSetup::validators_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("gain 65 refused") << "lineEdit_gain_1" << "65" << "6";
    QTest::newRow("gain 64") << "lineEdit_gain_4" << "64" << "64";
    QTest::newRow("gain no letters") << "lineEdit_gain_2" << "a1" << "1";
    QTest::newRow("exposure 1000000") << "lineEdit_expo_3" << "1000000" << "1000000";
    QTest::newRow("exposure 1000001 refused") << "lineEdit_expo_3" << "1000001" << "100000";
    QTest::newRow("filter no minus") << "lineEdit_filter_2" << "-5" << "5";
}

void TstDialogSetup::validators()
{
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    type(m_dialog.get(), edit, typed);
    QCOMPARE(child<QLineEdit>(m_dialog.get(), edit)->text(), shown);
}

void TstDialogSetup::buttonsStoreInRecord_data()
{
    QTest::addColumn<QString>("steps");     // "name" clicks, "name=text" types
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("record");    // SAVE EXPO1 GAIN1 FILTER4 AUTO_OPEN AUTO_WORK afterwards
    QTest::addColumn<QString>("fileLines"); // lines the file must hold; "-" no file
    const QString set = QStringLiteral("提示|设置成功");
    const QString saved = QStringLiteral("提示|保存参数成功,部分配置需要重启程序后生效");
    QTest::newRow("save with 存NG") << "radioButton_ng" << "pushButton_save" << saved << "1 2000 0 503 1 1"
                                   << "SAVE=1";
    QTest::newRow("save takes the edits") << "lineEdit_expo_1=1500 lineEdit_gain_1= lineEdit_filter_4=42"
                                           << "pushButton_save" << saved << "0 1500 0 42 1 1"
                                           << "EXPO1=1500 GAIN1=0 FILTER4=42";
    QTest::newRow("image button: record, no file") << "radioButton_all" << "pushButton_image" << set
                                                   << "2 2000 0 503 1 1" << "-";
    QTest::newRow("exposure button leaves filters") << "lineEdit_expo_1=7 lineEdit_gain_1=64 lineEdit_filter_4=9"
                                                    << "pushButton_expo" << set << "0 7 64 503 1 1" << "-";
    QTest::newRow("filter button leaves exposure") << "lineEdit_expo_1=7 lineEdit_filter_4=9" << "pushButton_filter"
                                                   << set << "0 2000 0 9 1 1" << "-";
    QTest::newRow("start-up boxes at once") << "checkBox_auto_open checkBox_auto_work" << "" << ""
                                            << "0 2000 0 503 0 0" << "-";
    QTest::newRow("unwritable conf.txt is no success") << "radioButton_ng !conf" << "pushButton_save"
                                                       << "提示|保存参数失败，无法写入配置文件" << "1 2000 0 503 1 1"
                                                       << "-";
}

void TstDialogSetup::buttonsStoreInRecord()
{
    QFETCH(QString, steps);
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(QString, record);
    QFETCH(QString, fileLines);
    QSignalSpy saved(m_dialog.get(), &DialogSetup::fileSaved);
    for (const QString &step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("!conf"))
            QVERIFY(QDir(m_station->root()).rmdir(QStringLiteral("conf")));
        else if (step.contains(QLatin1Char('=')))
            type(m_dialog.get(), step.section(QLatin1Char('='), 0, 0), step.section(QLatin1Char('='), 1));
        else
            click(m_dialog.get(), step);
    }
    if (!button.isEmpty())
        click(m_dialog.get(), button);
    QCOMPARE(m_messages->shown.join(QLatin1Char(';')), box);
    const SysConf &c = g_sys_conf;
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6").arg(c.SAVE).arg(c.EXPO[0]).arg(c.GAIN[0]).arg(c.FILTER[3])
                 .arg(c.AUTO_OPEN).arg(c.AUTO_WORK),
             record);
    const QByteArray file = TempStation::read(StationPaths::confFile());
    // Only a file written whole is said to the window, which then stops holding work.
    QCOMPARE(saved.count(), fileLines == QLatin1String("-") ? 0 : 1);
    if (fileLines == QLatin1String("-")) {
        QVERIFY(file.isEmpty());
        return;
    }
    QCOMPARE(file.count('\n'), 41);
    for (const QString &line : fileLines.split(QLatin1Char(' ')))
        QVERIFY2(file.split('\n').contains(line.toLatin1()), qPrintable(line));
}

void TstDialogSetup::passwordChange_data()
{
    QTest::addColumn<bool>("op");
    QTest::addColumn<QString>("old");
    QTest::addColumn<QString>("fresh");
    QTest::addColumn<QString>("confirm");
    QTest::addColumn<bool>("unwritable");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("inForce");   // the password whose digest is stored afterwards
    for (bool op : {false, true}) {
        const QByteArray who = op ? "operator " : "admin ";
        const QString old = op ? QStringLiteral("1234") : QStringLiteral("123456");
        const QString role = op ? QStringLiteral("操作员") : QStringLiteral("管理员");
        QTest::newRow(who + "changed") << op << old << "777" << "777" << false
                                       << "提示|" + role + "密码修改成功" << "777";
        QTest::newRow(who + "wrong old") << op << "999" << "777" << "777" << false
                                         << "提示消息|原密码错误，请重新输入" << old;
        QTest::newRow(who + "confirmation differs") << op << old << "777" << "778" << false
                                                    << "提示消息|新密码两次输入不一致，请重新输入" << old;
        QTest::newRow(who + "unwritable file keeps the old one") << op << old << "777" << "777" << true
                                                                 << "提示|" + role + "密码修改失败，无法写入密码文件"
                                                                 << old;
    }
}

void TstDialogSetup::passwordChange()
{
    QFETCH(bool, op);
    QFETCH(QString, old);
    QFETCH(QString, fresh);
    QFETCH(QString, confirm);
    QFETCH(bool, unwritable);
    QFETCH(QString, box);
    QFETCH(QString, inForce);
    const QString file = op ? StationPaths::operatorPasswordFile() : StationPaths::adminPasswordFile();
    if (unwritable)
        QVERIFY(QDir().mkdir(file));   // a folder in the file's place
    const QString suffix = op ? QStringLiteral("_op") : QString();
    type(m_dialog.get(), "lineEdit_old" + suffix, old);
    type(m_dialog.get(), "lineEdit_new" + suffix, fresh);
    type(m_dialog.get(), "lineEdit_confirm" + suffix, confirm);
    QSignalSpy saved(m_dialog.get(), &DialogSetup::fileSaved);
    click(m_dialog.get(), "pushButton_pswd" + suffix);

    QCOMPARE(m_messages->shown, QStringList{box});
    QCOMPARE(op ? g_op_pswd : g_admin_pswd, Passwords::digest(inForce));
    QCOMPARE(op ? g_admin_pswd : g_op_pswd, Passwords::digest(op ? QStringLiteral("123456") : QStringLiteral("1234")));
    const bool changed = inForce == fresh;
    QCOMPARE(TempStation::read(file), changed ? Passwords::digest(fresh).toLatin1() : QByteArray());
    QCOMPARE(saved.count() == 1 && saved.at(0).at(0).toString() == file, changed);
}

void TstDialogSetup::exitQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TstDialogSetup::exitQuestion()
{
    QFETCH(bool, yes);
    AnsweredMessages answer(yes);
    QSignalSpy exits(m_dialog.get(), &DialogSetup::system_exit);
    click(m_dialog.get(), QStringLiteral("pushButton_exit"));
    QCOMPARE(answer.shown, QStringList{QStringLiteral("退出系统|确定退出系统?")});
    QCOMPARE(exits.count(), yes ? 1 : 0);
    QCOMPARE(m_dialog->isVisible(), !yes);
}

void TstDialogSetup::recipe_data()
{
    QTest::addColumn<int>("no1First");   // NO1[0] in the record before
    QTest::addColumn<bool>("apply");
    QTest::addColumn<int>("shown");      // spinBox_11
    QTest::addColumn<int>("after");      // NO1[0] afterwards
    QTest::newRow("12 shows and comes back as 10") << 12 << true << 10 << 10;
    QTest::newRow("-1 shows and comes back as 0") << -1 << true << 0 << 0;
    QTest::newRow("closed without 应用") << 12 << false << 10 << 12;
}

void TstDialogSetup::recipe()
{
    QFETCH(int, no1First);
    QFETCH(bool, apply);
    QFETCH(int, shown);
    QFETCH(int, after);
    g_sys_conf.NO[0][0] = no1First;
    click(m_dialog.get(), QStringLiteral("pushButton_config"));
    click(m_dialog.get(), QStringLiteral("pushButton_config"));
    QCOMPARE(m_dialog->findChildren<camera_glue *>().size(), 1);   // the first one is gone
    camera_glue *recipe = m_dialog->recipeDialog();
    QVERIFY(recipe && recipe->isVisible() && !recipe->isModal());
    QVERIFY((recipe->frameGeometry().center() - m_dialog->frameGeometry().center()).manhattanLength() <= 1);
    QCOMPARE(child<QSpinBox>(recipe, QStringLiteral("spinBox_11"))->value(), shown);
    QCOMPARE(child<QSpinBox>(recipe, QStringLiteral("spinBox_43"))->value(), 8);
    child<QSpinBox>(recipe, QStringLiteral("spinBox_23"))->setValue(0);
    if (apply)
        click(recipe, QStringLiteral("pushButton_take"));
    else
        recipe->close();
    QVERIFY(!recipe->isVisible());
    QCOMPARE(g_sys_conf.NO[0][0], after);
    QCOMPARE(g_sys_conf.NO[1][2], apply ? 0 : 4);
    for (int k = 2; k < 4; ++k)   // below the visible area, passed through
        for (int i = 0; i < 3; ++i)
            QCOMPARE(g_sys_conf.NO[k][i], 2 * k + i);
}

void TstDialogSetup::shiftTimes_data()
{
    QTest::addColumn<bool>("apply");
    QTest::addColumn<int>("newAHour");   // -1: unchanged; typed values beyond the range are clamped
    QTest::addColumn<QString>("after");
    QTest::newRow("06:30 14:30 22:30 round trip") << true << -1 << "06:30 14:30 22:30";
    QTest::newRow("typing 24 stops at 2") << true << 24 << "02:30 14:30 22:30";
    QTest::newRow("closed without 应用") << false << 7 << "06:30 14:30 22:30";
}

void TstDialogSetup::shiftTimes()
{
    QFETCH(bool, apply);
    QFETCH(int, newAHour);
    QFETCH(QString, after);
    click(m_dialog.get(), QStringLiteral("pushButton_change"));
    change_shift *shift = m_dialog->shiftDialog();
    QVERIFY(shift && shift->isVisible());
    QStringList spins;
    for (const char *name : {"A_hour", "A_minute", "B_hour", "B_minute", "C_hour", "C_minute"})
        spins << QString::number(child<QSpinBox>(shift, QLatin1String(name))->value());
    QCOMPARE(spins.join(QLatin1Char(' ')), QStringLiteral("6 30 14 30 22 30"));
    if (newAHour >= 0) {
        auto *hour = child<QSpinBox>(shift, QStringLiteral("A_hour"));
        hour->selectAll();
        QTest::keyClicks(hour, QString::number(newAHour));
        hour->interpretText();
    }
    if (apply)
        click(shift, QStringLiteral("pushButton"));
    else
        shift->close();
    const SysConf &c = g_sys_conf;
    QCOMPARE(QStringList({c.SHIFT_A.toString(QStringLiteral("hh:mm")), c.SHIFT_B.toString(QStringLiteral("hh:mm")),
                          c.SHIFT_C.toString(QStringLiteral("hh:mm"))})
                 .join(QLatin1Char(' ')),
             after);
}

void TstDialogSetup::statistics()
{
    const QString line = QStringLiteral("A     总产量:0000001000      剔除率:2.50000%");
    QVERIFY(TempStation::write(StationPaths::statisticFile(0), PlcParams::gbk(line)));
    QVERIFY(TempStation::write(StationPaths::statisticFile(2), "camera 3"));
    click(m_dialog.get(), QStringLiteral("pushButton_statistic"));
    output_statistic *view = m_dialog->statisticDialog();
    QVERIFY(view && view->isVisible());
    QCOMPARE(child<QTextBrowser>(view, QStringLiteral("textBrowser_1"))->toPlainText(), line);
    QCOMPARE(child<QTextBrowser>(view, QStringLiteral("textBrowser_2"))->toPlainText(), QString());
    QCOMPARE(view->findChildren<QTextBrowser *>().size(), 2);
}

void TstDialogSetup::desktopButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("program");   // the stand-in put on PATH; empty: none
    QTest::addColumn<QString>("started");   // its arguments as it recorded them
    QTest::addColumn<QByteArray>("printed");
    QTest::newRow("keyboard") << "toolButton_keyboard" << "florence" << "florence" << QByteArray();
    QTest::newRow("show desktop") << "pushButton_desktop" << "wmctrl" << "wmctrl -k on" << QByteArray();
    QTest::newRow("no keyboard") << "toolButton_keyboard" << "" << ""
                                 << QByteArray("No on-screen keyboard found (onboard, florence, matchbox-keyboard, xvkbd).\n");
    QTest::newRow("no show-desktop program") << "pushButton_desktop" << "" << ""
                                             << QByteArray("No show-desktop program found (wmctrl).\n");
}

void TstDialogSetup::desktopButtons()
{
    QFETCH(QString, button);
    QFETCH(QString, program);
    QFETCH(QString, started);
    QFETCH(QByteArray, printed);
    const QString bin = m_station->path(QStringLiteral("fakebin"));
    QVERIFY(QDir().mkpath(bin));
    const QString record = m_station->path(QStringLiteral("started.txt"));
    if (!program.isEmpty()) {
        const QString path = bin + QLatin1Char('/') + program;
        QVERIFY(TempStation::write(path, "#!/bin/sh\necho \"${0##*/} $*\" > '" + record.toUtf8() + "'\n"));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.toUtf8());
    {
        StdoutCapture out;
        click(m_dialog.get(), button);
        QCOMPARE(out.text(), printed);
    }
    qputenv("PATH", path);
    if (!started.isEmpty())
        QTRY_COMPARE(TempStation::read(record).trimmed(), started.toUtf8());
    QVERIFY(m_messages->shown.isEmpty());
}

QTEST_MAIN(TstDialogSetup)
#include "tst_dialogsetup.moc"

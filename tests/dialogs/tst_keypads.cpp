// The two login keypads, clicked as the operator does.
#include "AnsweredMessages.h"
#include "DialogSetupPasswd.h"
#include "Dialogin.h"
#include "Passwords.h"
#include "StationState.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TstKeypads : public QObject
{
    Q_OBJECT

private slots:
    void keys_data();
    void keys();
};

void TstKeypads::keys_data()
{
    QTest::addColumn<bool>("admin");
    QTest::addColumn<QString>("password");   // the stored one
    QTest::addColumn<QString>("keys");       // button suffixes: digits, clr, ok, close
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("entry");      // the line edit afterwards
    QTest::addColumn<int>("boxes");          // "密码错误，请重新输入" shown

    for (bool admin : {false, true}) {
        const QByteArray who = admin ? "admin: " : "operator: ";
        QTest::newRow(who + "1 2 CLR 3 4 OK checks 34") << admin << "34" << "1 2 clr 3 4 ok" << true << false << "**" << 0;
        QTest::newRow(who + "12 is wrong for 34") << admin << "34" << "1 2 ok" << false << true << "" << 1;
        QTest::newRow(who + "after a wrong one the next digit starts anew")
            << admin << "34" << "3 ok 3 4 ok" << true << false << "**" << 1;
        QTest::newRow(who + "close after typing") << admin << "34" << "3 4 close" << false << false << "**" << 0;
        QTest::newRow(who + "digits shown as stars") << admin << "34" << "0 9 8 7" << false << true << "****" << 0;
        QTest::newRow(who + "OK with nothing typed") << admin << "34" << "ok" << false << true << "" << 1;
        QTest::newRow(who + "empty password stored") << admin << "" << "ok" << true << false << "" << 0;
    }
    QTest::newRow("the other role's password does not open") << true << "5" << "6 ok" << false << true << "" << 1;
}

void TstKeypads::keys()
{
    QFETCH(bool, admin);
    QFETCH(QString, password);
    QFETCH(QString, keys);
    QFETCH(bool, loggedIn);
    QFETCH(bool, open);
    QFETCH(QString, entry);
    QFETCH(int, boxes);

    AnsweredMessages messages;
    g_admin_login = g_op_login = false;
    g_admin_pswd = Passwords::digest(admin ? password : QStringLiteral("6"));
    g_op_pswd = Passwords::digest(admin ? QStringLiteral("6") : password);

    std::unique_ptr<QDialog> dialog;
    std::unique_ptr<QSignalSpy> entered;
    if (admin) {
        auto *d = new DialogSetupPasswd;
        entered = std::make_unique<QSignalSpy>(d, &DialogSetupPasswd::enter_admin);
        dialog.reset(d);
    } else {
        auto *d = new Dialogin;
        entered = std::make_unique<QSignalSpy>(d, &Dialogin::enter_op);
        dialog.reset(d);
    }
    QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
    dialog->show();
    for (const QString &key : keys.split(QLatin1Char(' '))) {
        auto *button = dialog->findChild<QPushButton *>(QStringLiteral("pushButton_") + key);
        QVERIFY2(button, qPrintable(key));
        QTest::mouseClick(button, Qt::LeftButton);
    }

    QCOMPARE(admin ? g_admin_login : g_op_login, loggedIn);
    QVERIFY(!(admin ? g_op_login : g_admin_login));
    QCOMPARE(entered->count(), loggedIn ? 1 : 0);
    QCOMPARE(dialog->isVisible(), open);
    QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->text(), entry);
    QCOMPARE(messages.shown.size(), boxes);
    QCOMPARE(messages.shown.count(QStringLiteral("提示消息|密码错误，请重新输入")), boxes);
}

QTEST_MAIN(TstKeypads)
#include "tst_keypads.moc"

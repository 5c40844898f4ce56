#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

// Debian's mosquitto broker on loopback, on a free port of its own, for tests. Restarted
// on the same port; persistent (sessions kept over a kill, saved every second) when asked,
// so that a subscriber with a session of its own misses nothing while the broker is down.
class MqttBroker
{
public:
    struct Options
    {
        bool persistent = false;
        QString user;      // a login is required when set
        QString password;
    };

    MqttBroker() = default;
    explicit MqttBroker(Options options)
        : m_options(options)
    {
    }
    ~MqttBroker() { kill(); }

    static QString executable()
    {
        const QString found = QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                                             {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
        return found;
    }

    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    QString log() const
    {
        QFile f(m_dir.filePath(QStringLiteral("broker.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    bool start(QString *error)
    {
        if (executable().isEmpty()) {
            *error = QStringLiteral("mosquitto is not installed (scripts/install-deps.sh installs it)");
            return false;
        }
        if (m_port == 0) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0)) {
                *error = QStringLiteral("no free port on loopback");
                return false;
            }
            m_port = probe.serverPort();
        }
        QByteArray conf = "listener " + QByteArray::number(m_port) + " 127.0.0.1\n";
        conf += "log_dest file " + m_dir.filePath(QStringLiteral("broker.log")).toUtf8() + "\n";
        conf += "log_type error\nlog_type warning\nlog_type notice\n";
        // Run as root it would become the mosquitto user, who may not write this folder.
        if (geteuid() == 0)
            conf += "user root\n";
        if (m_options.user.isEmpty()) {
            conf += "allow_anonymous true\n";
        } else {
            const QString passwords = m_dir.filePath(QStringLiteral("passwords"));
            QFile::remove(passwords);
            QFile(passwords).open(QIODevice::WriteOnly);
            if (QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                  {QStringLiteral("-b"), passwords, m_options.user, m_options.password})
                != 0) {
                *error = QStringLiteral("mosquitto_passwd failed");
                return false;
            }
            conf += "allow_anonymous false\npassword_file " + passwords.toUtf8() + "\n";
        }
        if (m_options.persistent)
            conf += "persistence true\npersistence_location " + m_dir.path().toUtf8()
                + "/\nautosave_interval 1\nmax_queued_messages 0\n";
        QFile file(m_dir.filePath(QStringLiteral("broker.conf")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(conf) != conf.size()) {
            *error = QStringLiteral("cannot write the broker's configuration");
            return false;
        }
        file.close();
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("broker.log")), QIODevice::Append);
        m_process.start(executable(), {QStringLiteral("-c"), file.fileName()});
        if (!m_process.waitForStarted(5000)) {
            *error = QStringLiteral("mosquitto did not start: ") + m_process.errorString();
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
            if (socket.waitForConnected(200))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                break;
            QThread::msleep(50);
        }
        *error = QStringLiteral("mosquitto does not listen on port %1: %2").arg(m_port).arg(log());
        return false;
    }

    // As a crash: no goodbye to anyone.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    Options m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

// In a test function: starts `broker`, skipping the test where mosquitto is not installed
// and failing it where it is but does not start.
#define GLUEBOX_START_BROKER(broker)                                                           \
    do {                                                                                       \
        QString startError;                                                                    \
        if (!(broker).start(&startError)) {                                                    \
            if (MqttBroker::executable().isEmpty())                                            \
                QSKIP(qPrintable(startError));                                                 \
            QFAIL(qPrintable(startError));                                                     \
        }                                                                                      \
    } while (false)

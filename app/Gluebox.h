#pragma once

#include <QMainWindow>
#include <QString>

class CLog;
class QThread;

namespace Ui {
class Gluebox;
}

// The station's main window. Its constructor runs the start-up sequence; the
// destructor stops what the constructor started.
class Gluebox : public QMainWindow
{
    Q_OBJECT
public:
    explicit Gluebox(QWidget *parent = nullptr);
    ~Gluebox() override;

signals:
    // Every operation-log line; written by CLog on its own thread.
    void sengMsgToClog(QString message);

private:
    void startLog();
    void stopLog();

    Ui::Gluebox *ui;
    QThread *m_log_thread = nullptr;
    CLog *m_log = nullptr;
};

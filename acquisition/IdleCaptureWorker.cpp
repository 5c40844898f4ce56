#include "IdleCaptureWorker.h"

#include <QCoreApplication>
#include <QThread>

void IdleCaptureWorker::process()
{
    while (!m_stop) {
        QThread::msleep(50);
        QCoreApplication::processEvents();
    }
}

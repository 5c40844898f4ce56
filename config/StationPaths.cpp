#include "StationPaths.h"

#include <QByteArray>
#include <QtGlobal>

namespace StationPaths {

QString confFile() { return QStringLiteral("../conf/conf.txt"); }
QString modbusFile() { return QStringLiteral("../conf/modbus.txt"); }
QString rotateFile() { return QStringLiteral("../conf/rotate.txt"); }
QString plcParamFile() { return QStringLiteral("../conf/plc.txt"); }
QString statisticFile(int position)
{
    return QStringLiteral("../conf/camera%1_statistic.txt").arg(position);
}
QString monitorFile() { return QStringLiteral("../conf/monitor.txt"); }
QString cameraSimFile() { return QStringLiteral("../conf/camsim.txt"); }
QString adminPasswordFile() { return QStringLiteral("pswd.txt"); }
QString operatorPasswordFile() { return QStringLiteral("pswd_op.txt"); }
QString splashImage() { return QStringLiteral("splash.jpg"); }
QString warmUpImage() { return QStringLiteral("alg_jd.jpg"); }
QString modelConfig() { return QStringLiteral("../model/jd.cfg"); }
QString modelWeights() { return QStringLiteral("../model/jd.weights"); }
QString modelNames() { return QStringLiteral("../model/jd.names"); }

#ifdef Q_OS_WIN
QString imageRoot() { return QStringLiteral("D:/image/"); }
QString logRoot() { return QStringLiteral("D:/log/"); }
#else
QString imageRoot() { return QStringLiteral("../data/image/"); }
QString logRoot() { return QStringLiteral("../data/log/"); }
#endif

#ifdef Q_OS_WIN
QString plcPort() { return QStringLiteral("COM1"); }
#else
QString plcPort()
{
    const QByteArray port = qgetenv("GLUEBOX_PLC_PORT");
    return port.isEmpty() ? QStringLiteral("/dev/ttyS0") : QString::fromLocal8Bit(port);
}
#endif

} // namespace StationPaths

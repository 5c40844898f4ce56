#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

bool PseudoTerminal::open(QString *error)
{
    close();
    auto fail = [this, error](const char *what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail("ptsname");
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail("open slave");
    // Raw from the start: no echo of requests back to the simulator, no line editing,
    // even before the station has set up the line.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    return true;
}

void PseudoTerminal::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
    m_slavePath.clear();
}

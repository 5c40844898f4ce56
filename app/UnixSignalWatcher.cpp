#include "UnixSignalWatcher.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalFds[2] = {-1, -1};

void onSignal(int signalNumber)
{
    // Only async-signal-safe work here: hand the number to the event loop.
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] ssize_t n = ::write(g_signalFds[0], &byte, 1);
}
} // namespace
#endif

void UnixSignalWatcher::catchEarly()
{
#ifndef Q_OS_WIN
    if (g_signalFds[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
#endif
}

UnixSignalWatcher::UnixSignalWatcher(QObject *parent)
    : QObject(parent)
{
#ifndef Q_OS_WIN
    catchEarly();
    if (g_signalFds[1] < 0)
        return;
    // A signal that came before this watcher is waiting in the socket and is read now.
    m_notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalWatcher::onReadable);
#endif
}

UnixSignalWatcher::~UnixSignalWatcher()
{
#ifndef Q_OS_WIN
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
#endif
}

void UnixSignalWatcher::onReadable()
{
#ifndef Q_OS_WIN
    char byte = 0;
    if (::read(g_signalFds[1], &byte, 1) == 1)
        emit terminationRequested(byte);
#endif
}

#include "DesktopActions.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <cstdlib>
#include <thread>
#include <windows.h>
#include <shldisp.h>
#else
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>
#endif

#ifdef Q_OS_WIN

bool DesktopActions::startKeyboard()
{
    std::thread([] { std::system("start /b C:\\Windows\\system32\\osk.exe"); }).detach();
    return true;
}

bool DesktopActions::showDesktop()
{
    const HRESULT init = CoInitialize(nullptr);
    IShellDispatch4 *shell = nullptr;
    const CLSID shellApplication = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
    const HRESULT created = CoCreateInstance(shellApplication, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IShellDispatch4, reinterpret_cast<void **>(&shell));
    const bool done = SUCCEEDED(created) && shell && SUCCEEDED(shell->ToggleDesktop());
    if (shell)
        shell->Release();
    if (SUCCEEDED(init))
        CoUninitialize();
    return done;
}

#else

namespace {
// Started, not waited for: a keyboard stays until it is closed.
bool startFirst(const QStringList &programs, const QStringList &arguments, const char *what)
{
    for (const QString &program : programs) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty() && QProcess::startDetached(path, arguments))
            return true;
    }
    std::printf("No %s found (%s).\n", what, qPrintable(programs.join(QStringLiteral(", "))));
    std::fflush(stdout);
    return false;
}
} // namespace

bool DesktopActions::startKeyboard()
{
    return startFirst({QStringLiteral("onboard"), QStringLiteral("florence"), QStringLiteral("matchbox-keyboard"),
                       QStringLiteral("xvkbd")},
                      {}, "on-screen keyboard");
}

bool DesktopActions::showDesktop()
{
    return startFirst({QStringLiteral("wmctrl")}, {QStringLiteral("-k"), QStringLiteral("on")}, "show-desktop program");
}

#endif

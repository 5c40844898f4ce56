#include "Gluebox.h"
#include "MatMetaType.h"
#include "StationFonts.h"
#include "StationPaths.h"
#include "UnixSignalWatcher.h"

#include <QApplication>
#include <QPixmap>
#include <QSplashScreen>

#ifndef Q_OS_WIN
namespace {
// Runs before the shared libraries' initialisers (OpenCV's and its helpers' take a while),
// so that a stop request during loading is kept for the station instead of killing it.
void catchSignalsAtLoad(int, char **, char **)
{
    UnixSignalWatcher::catchEarly();
}
__attribute__((section(".preinit_array"), used)) void (*const g_catchSignalsAtLoad)(int, char **, char **) =
    catchSignalsAtLoad;
} // namespace
#endif

int main(int argc, char *argv[])
{
    UnixSignalWatcher::catchEarly();
    qRegisterMetaType<cv::Mat>("cv::Mat");

    QApplication app(argc, argv);
    StationFonts::install();

    // Before anything slow: a stop request during start-up still ends the station in order.
    // quit() does nothing before the event loop runs, so a request seen while starting up
    // is remembered and the loop is then not entered at all.
    bool stopRequested = false;
    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &app,
                     [&stopRequested, &app] {
                         stopRequested = true;
                         app.quit();
                     });

    QSplashScreen *splash = new QSplashScreen(QPixmap(StationPaths::splashImage()));
    splash->show();
    app.processEvents();

    Gluebox *window = new Gluebox;
    window->showFullScreen();
    splash->finish(window);

    const int exitCode = stopRequested ? 0 : app.exec();
    delete window;
    delete splash;
    return exitCode;
}

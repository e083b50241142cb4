// gearvane-gui: the window of gearvane for Linux. It drives nothing itself: the daemon keeps
// the lever and the keys, and the window talks to it through its control socket.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include "window.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    app.setApplicationName("gearvane-gui");
    app.setApplicationVersion(GEARVANE_VERSION);
    app.setDesktopFileName("gearvane-gui");
    app.setWindowIcon(QIcon::fromTheme("gearvane", QIcon(":/gearvane.png")));

    QCommandLineParser options;
    options.setApplicationDescription("The window of gearvane: see the lever, choose it, learn its gates and set "
                                      "gearvane up. gearvane itself must run (the window offers to start it).");
    options.addHelpOption();
    options.addVersionOption();
    QCommandLineOption hidden("hidden", "Start in the tray, with the window closed (where the desktop has a tray).");
    options.addOption(hidden);
    options.process(app);

    Window window;
    // With a tray, closing the window leaves it there; Quit ends it.
    app.setQuitOnLastWindowClosed(!window.HasTray());
    if (!(options.isSet(hidden) && window.HasTray()))
        window.show();
    window.Connect();
    return app.exec();
}

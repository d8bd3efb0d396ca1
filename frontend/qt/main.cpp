// velmora: restores the MPEG header of each follow-up file of a recording as
// soon as the file may be written. Reads "header.mpeg" from the current
// directory at start.
#include <QApplication>
#include <QIcon>

#include "file_chooser.h"
#include "main_window.h"
#include "platform_choice.h"
#include "posix_repair_files.h"
#include "termination_signals.h"

int main(int argc, char* argv[]) {
    PreferX11UnderWayland();
    QApplication application(argc, argv);
    // The window decides when the program ends: not while a message box is
    // still open over a hidden window.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    QApplication::setWindowIcon(ApplicationIcon());
    QuitOnTerminationSignals(&application);

    PosixRepairFiles files;
    DialogFileChooser chooser;
    MainWindow window(files, chooser);
    if (!window.Start()) {
        return 0;
    }
    QObject::connect(&window, &MainWindow::ended, &application, &QCoreApplication::quit);
    // Logging out or a termination signal quits without a close request; the
    // window ends all the same, once every running event has returned.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &window,
                     &MainWindow::RequestEnd);
    window.show();
    QApplication::exec();
    return 0;
}

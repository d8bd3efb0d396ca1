#include "program.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include "file_chooser.h"
#include "linux_repair_files.h"
#include "main_window.h"
#include "termination_signals.h"

int RunProgram(FileChooser& chooser, const std::function<void(MainWindow&)>& whenShown) {
    // The window decides when the program ends: not while a message box is
    // still open over a hidden window.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    QApplication::setWindowIcon(ApplicationIcon());

    LinuxRepairFiles files;
    MainWindow window(files, chooser);
    // A termination signal ends the window even from inside a message box,
    // the one at start-up too, before the main loop runs.
    CallOnTerminationSignals(&window, [&window] { window.EndClosingDialogs(); });
    if (!window.Start()) {
        return 0;
    }
    QObject::connect(&window, &MainWindow::ended, qApp, &QCoreApplication::quit);
    // Ending the session quits without a close request; the window ends all
    // the same, once every running event has returned.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, &MainWindow::RequestEnd);
    window.show();
    if (whenShown) {
        QTimer::singleShot(0, &window, [&window, &whenShown] { whenShown(window); });
    }
    QApplication::exec();
    return 0;
}

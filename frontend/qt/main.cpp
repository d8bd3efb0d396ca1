// velmora: restores the MPEG header of each follow-up file of a recording as
// soon as the file may be written. Reads "header.mpeg" from the current
// directory at start.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "file_chooser.h"
#include "platform_choice.h"
#include "program.h"

int main(int argc, char* argv[]) {
    if (!HasDisplay(std::getenv("QT_QPA_PLATFORM"), std::getenv("WAYLAND_DISPLAY"),
                    std::getenv("DISPLAY"))) {
        std::fputs(kNoDisplayMessage, stderr);
        return 1;
    }
    PreferX11UnderWayland();
    QApplication application(argc, argv);
    DialogFileChooser chooser;
    return RunProgram(chooser);
}

// The program's run from a ready application object to its end: the window
// over the Linux file layer, shown until the user or a signal ends it.
#pragma once

#include <functional>

class FileChooser;
class MainWindow;

// Runs the window until it ends and returns the exit code, 0 in every case.
// whenShown, if given, runs once the window is shown, inside the event loop;
// tools that play the user (the measurements) act on the window there.
int RunProgram(FileChooser& chooser, const std::function<void(MainWindow&)>& whenShown = {});

// Ending the program by signal as by its close box: a logout (SIGHUP,
// SIGTERM) or Ctrl+C in the terminal (SIGINT) is taken in by whichever event
// loop runs at the time, the main one or a message box's, so the window
// still ends in order: its position saved, the template let go.
#pragma once

#include <functional>

class QObject;

// Takes over the signals and calls whenSignalled from the running event
// loop each time one arrives, for as long as context exists. Call once,
// after the application object exists. Returns false when the signals could
// not be taken over; they then end the program as usual.
bool CallOnTerminationSignals(QObject* context, std::function<void()> whenSignalled);

// Ending the program by signal as by its close box: a logout (SIGHUP,
// SIGTERM) or Ctrl+C in the terminal (SIGINT) quits the event loop, so the
// window still saves its position and lets go of the template.
#pragma once

class QObject;

// Call once, after the application object exists. Returns false when the
// signals could not be taken over; they then end the program as usual.
bool QuitOnTerminationSignals(QObject* owner);

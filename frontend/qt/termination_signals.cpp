#include "termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <utility>

namespace {

// The handler may only write to a pipe; the event loop reads it.
int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int /*signal*/) {
    const char byte = 1;
    const ssize_t ignored = write(signalPipe[1], &byte, 1);
    static_cast<void>(ignored);  // a full pipe already holds a request
}

}  // namespace

bool CallOnTerminationSignals(QObject* context, std::function<void()> whenSignalled) {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    // A socket notifier is served by nested loops too, unlike
    // QCoreApplication::quit, which does nothing before the main loop runs.
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [whenSignalled = std::move(whenSignalled)] {
                         char bytes[16];
                         while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
                         }
                         whenSignalled();
                     });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    return true;
}

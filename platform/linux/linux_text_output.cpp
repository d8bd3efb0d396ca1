#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text_output.h"

TextWriteResult WriteTextTo(int descriptor, const std::string& text, std::string* error) {
    const char* bytes = text.data();
    std::size_t size = text.size();
    while (size > 0) {
        const ssize_t written = write(descriptor, bytes, size);
        const int reason = written < 0 ? errno : EIO;
        if (written < 0 && reason == EINTR) {
            continue;
        }
        if (written < 0 && reason == EAGAIN) {
            // Left non-blocking by the program that made it: wait as a
            // blocking write would.
            pollfd ready{descriptor, POLLOUT, 0};
            poll(&ready, 1, -1);
            continue;
        }
        if (written <= 0) {
            *error = std::strerror(reason);
            return reason == EPIPE ? TextWriteResult::ReaderGone : TextWriteResult::Failed;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return TextWriteResult::Written;
}

void StartQuietThreads(const std::function<void()>& start) {
    signal(SIGPIPE, SIG_IGN);
    // A thread starts with the signal mask of the thread that makes it.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    start();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

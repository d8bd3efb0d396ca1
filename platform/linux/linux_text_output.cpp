#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "linux_file_checks.h"
#include "text_output.h"

TextWriteResult WriteTextTo(int descriptor, const std::string& text, std::string* error) {
    const int reason = WriteAll(descriptor, text.data(), text.size());
    if (reason != 0) {
        *error = std::strerror(reason);
        return reason == EPIPE ? TextWriteResult::ReaderGone : TextWriteResult::Failed;
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

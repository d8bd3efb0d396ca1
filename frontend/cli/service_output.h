// The watch service's standard output and error. Each stream has a writer
// thread of its own and a bounded queue, so that a reader that is slow,
// stalled or gone never holds up a repair, nor the service's answer to a
// request to stop.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

enum class OutputStream { Out, Err };

struct ServiceOutputState;  // the queues, shared with the writers

// The text queued per stream at most. Past it, lines are left out until the
// writer has caught up; then one line tells how many.
inline constexpr std::size_t kOutputQueueBytes = 1024 * 1024;

// How long the service's end waits for its queued lines to get out.
inline constexpr int kOutputFinishMs = 500;

class ServiceOutput {
public:
    // Writes to the C library's descriptors `out` and `err` (1 and 2 for
    // the service).
    ServiceOutput(int out, int err);
    ~ServiceOutput();  // Finish(kOutputFinishMs) when not finished yet
    ServiceOutput(const ServiceOutput&) = delete;
    ServiceOutput& operator=(const ServiceOutput&) = delete;

    // Starts the writers. `onReaderGone` is called from a writer's thread
    // when it finds its reader gone (FolderEvents::Wake: the service's wait
    // ends at once); never after Finish. *error holds the reason.
    bool Start(std::function<void()> onReaderGone, std::string* error);

    // Queues `text` (UTF-8, without its line end) as one line of `stream`;
    // never waits for the reader.
    void Line(OutputStream stream, const std::string& text);

    // Whether the reader of either stream has gone (a closed pipe). That of
    // standard output is reported on standard error; the service then ends
    // with exit code 1.
    bool ReaderGone() const;

    // Lets the queued lines out for at most deadlineMs and returns, even
    // while a writer still waits on its reader (it is left to the process's
    // end). Later lines are dropped. True when every line queued was
    // written, and both readers are still there.
    bool Finish(int deadlineMs);

private:
    std::shared_ptr<ServiceOutputState> state_;
    std::thread writers_[2];
    bool finished_ = false;
};

#include "service_output.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>

#include "text_output.h"

namespace {

struct StreamQueue {
    int descriptor = -1;
    std::deque<std::string> lines;  // each with its line end
    std::size_t bytes = 0;
    // Lines left out since the queue was last full. While nonzero, every
    // line is left out: the gap is told of in one line, once the writer
    // has caught up, rather than once per line that squeezed in.
    unsigned long long leftOut = 0;
    bool running = false;  // its writer thread has not ended
    bool gone = false;     // nobody reads it any more
    std::condition_variable news;
};

}  // namespace

struct ServiceOutputState {
    std::mutex mutex;
    StreamQueue streams[2];  // by OutputStream
    std::condition_variable writerEnded;
    std::function<void()> onReaderGone;
    bool finishing = false;  // the writers end once their queues are empty
    bool abandoned = false;  // Finish has returned: nothing more is written, nobody woken
    bool lost = false;       // a write failed: its line is lost
};

namespace {

constexpr int kOut = static_cast<int>(OutputStream::Out);
constexpr int kErr = static_cast<int>(OutputStream::Err);

std::string LeftOutNote(unsigned long long count) {
    return "(" + std::to_string(count) + (count == 1 ? " Zeile" : " Zeilen") +
           " ausgelassen: die Ausgabe wurde nicht schnell genug gelesen)\n";
}

// Under the lock. A stream without a reader takes no more lines; the end of
// standard output is told on standard error, past its limit.
void OnReaderGone(ServiceOutputState& state, int index, const std::string& reason) {
    StreamQueue& queue = state.streams[index];
    queue.gone = true;
    queue.lines.clear();
    queue.bytes = 0;
    queue.leftOut = 0;
    StreamQueue& err = state.streams[kErr];
    if (index == kOut && !err.gone) {
        err.lines.push_back("Die Standardausgabe hat keinen Leser mehr (" + reason + "), Ende.\n");
        err.bytes += err.lines.back().size();
        err.news.notify_one();
    }
    if (!state.abandoned && state.onReaderGone) {
        state.onReaderGone();
    }
}

// The next line for the writer; false when it is to end.
bool TakeLine(ServiceOutputState& state, StreamQueue& queue, std::string* line) {
    if (state.abandoned || queue.gone) {
        return false;
    }
    if (!queue.lines.empty()) {
        *line = std::move(queue.lines.front());
        queue.lines.pop_front();
        queue.bytes -= line->size();
        return true;
    }
    if (queue.leftOut > 0) {
        *line = LeftOutNote(queue.leftOut);
        queue.leftOut = 0;
        return true;
    }
    return false;  // finishing, and all written
}

void WriteStream(std::shared_ptr<ServiceOutputState> state, int index) {
    StreamQueue& queue = state->streams[index];
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        queue.news.wait(lock, [&] {
            return !queue.lines.empty() || queue.leftOut > 0 || state->finishing ||
                   state->abandoned;
        });
        std::string line;
        if (!TakeLine(*state, queue, &line)) {
            break;
        }
        // Unlocked while the reader takes its time.
        lock.unlock();
        std::string reason;
        const TextWriteResult result = WriteTextTo(queue.descriptor, line, &reason);
        lock.lock();
        if (result == TextWriteResult::ReaderGone) {
            OnReaderGone(*state, index, reason);
        } else if (result == TextWriteResult::Failed) {
            state->lost = true;  // a full disk, say: the next line may get through
        }
    }
    queue.running = false;
    state->writerEnded.notify_all();
}

}  // namespace

ServiceOutput::ServiceOutput(int out, int err) : state_(std::make_shared<ServiceOutputState>()) {
    state_->streams[kOut].descriptor = out;
    state_->streams[kErr].descriptor = err;
}

ServiceOutput::~ServiceOutput() {
    if (!finished_) {
        Finish(kOutputFinishMs);
    }
}

bool ServiceOutput::Start(std::function<void()> onReaderGone, std::string* error) {
    state_->onReaderGone = std::move(onReaderGone);
    bool started = true;
    StartQuietThreads([&] {
        for (int index : {kOut, kErr}) {
            state_->streams[index].running = true;
            try {
                writers_[index] = std::thread(WriteStream, state_, index);
            } catch (const std::system_error& failure) {
                state_->streams[index].running = false;
                *error = failure.what();
                started = false;
                return;
            }
        }
    });
    return started;
}

void ServiceOutput::Line(OutputStream stream, const std::string& text) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    StreamQueue& queue = state_->streams[static_cast<int>(stream)];
    if (queue.gone || state_->abandoned) {
        return;
    }
    if (queue.leftOut > 0 || queue.bytes + text.size() + 1 > kOutputQueueBytes) {
        ++queue.leftOut;
        return;
    }
    queue.lines.push_back(text + '\n');
    queue.bytes += text.size() + 1;
    queue.news.notify_one();
}

bool ServiceOutput::ReaderGone() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->streams[kOut].gone || state_->streams[kErr].gone;
}

bool ServiceOutput::Finish(int deadlineMs) {
    if (finished_) {
        return false;
    }
    finished_ = true;
    std::unique_lock<std::mutex> lock(state_->mutex);
    StreamQueue* streams = state_->streams;
    state_->finishing = true;
    streams[kOut].news.notify_one();
    streams[kErr].news.notify_one();
    const bool ended = state_->writerEnded.wait_for(
        lock, std::chrono::milliseconds(deadlineMs),
        [&] { return !streams[kOut].running && !streams[kErr].running; });
    // A writer that still waits on its reader writes nothing more once
    // that returns, and wakes nobody: the service may be gone by then.
    state_->abandoned = true;
    bool complete = ended && !state_->lost;
    for (int index : {kOut, kErr}) {
        complete = complete && !streams[index].gone && streams[index].lines.empty() &&
                   streams[index].leftOut == 0;
    }
    const bool running[2] = {streams[kOut].running, streams[kErr].running};
    lock.unlock();
    for (int index : {kOut, kErr}) {
        if (!writers_[index].joinable()) {
            continue;
        }
        if (running[index]) {
            writers_[index].detach();  // it holds the state it needs
        } else {
            writers_[index].join();
        }
    }
    return complete;
}

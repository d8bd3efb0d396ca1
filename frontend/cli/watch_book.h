// The watch service's bookkeeping, without any system call: which files are
// due for a look, which wait (busy, empty, not leased yet) and are retried
// once a second, and which are parked after an error until they change.
// A file that is finished (repaired, or nothing to do) is forgotten, so the
// book holds only files that are still open matters.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

// What the folder told about a file. Written is what Windows tells instead
// of the closes: that the file was written to, not whether it is let go.
enum class FileNews { Arrived, WriterClosed, ReaderClosed, AttributesChanged, Written, Left };

// What a look at a file came to.
enum class AttemptOutcome {
    Finished,  // repaired, already repaired, not a follow-up file, or gone
    Waiting,   // busy, empty or not writable yet: tried again each retry period
    Parked,    // an error was reported: tried again only when the file changes
};

class WatchBook {
public:
    // Waiting files are tried again retryPeriodMs after the round that left
    // them waiting.
    WatchBook(int folderCount, long long retryPeriodMs);

    // A change makes the file due (a parked one too); a reader's close
    // makes only a waiting file due; a write makes due neither a waiting
    // file (its round comes) nor one parked after its own failed write (the
    // write may be its own echo); a file that left is forgotten.
    void OnFileNews(int folder, const char* name, FileNews news);

    // The next due file, in the order they became due.
    bool TakeDue(int* folder, std::string* name);

    // What the look at a file taken with TakeDue came to. The events read
    // right after it, until EndOfEchoes, are partly its own: its reads'
    // closes and, when it wroteFile, one writer's close. Those are not news.
    void RecordAttempt(int folder, const std::string& name, AttemptOutcome outcome, bool wroteFile,
                       long long nowMs);
    void EndOfEchoes();

    // Milliseconds until the next retry round; -1 while nothing waits.
    int MillisecondsToRetry(long long nowMs) const;
    // When the round is due, every waiting file becomes due.
    void StartRetryRoundIfDue(long long nowMs);

    // A folder that is gone: its files are forgotten.
    void ForgetFolder(int folder);

    // A file parked for a reason outside itself (its base file gave no
    // template) whose reason may have gone: due again. One that is no
    // longer in the book stays out.
    void MakeDueAgain(int folder, const std::string& name);

    std::size_t WaitingCount() const { return waiting_; }
    std::size_t ParkedCount() const { return parked_; }
    std::size_t TrackedCount() const;

private:
    enum class State { New, Waiting, Parked };
    struct Entry {
        State state = State::New;
        bool queued = false;
        bool parkedAfterWrite = false;
    };
    struct DueFile {
        int folder;
        std::string name;
    };
    struct Echo {
        bool active = false;
        int folder = -1;
        std::string name;
        bool writerCloseExpected = false;
    };
    using Folder = std::unordered_map<std::string, Entry>;

    bool IsOwnEcho(int folder, const char* name, FileNews news);
    void MakeDue(int folder, const std::string& name, Entry& entry);
    void SetState(Entry& entry, State state);
    void Erase(Folder& files, Folder::iterator entry);

    std::vector<Folder> folders_;
    std::deque<DueFile> due_;
    Echo echo_;
    std::size_t waiting_ = 0;
    std::size_t parked_ = 0;
    long long retryPeriodMs_;
    long long nextRetryMs_ = -1;
};

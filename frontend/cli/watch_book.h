// The watch service's bookkeeping, without any system call of its own. Each
// file it knows is in one of three states:
// - due: to be looked at next, in the order the files became due;
// - waiting: busy, empty or not writable yet; looked at again after each
//   retry period (kWaitingFileRetryMs: 1 s on Linux, which also tells of
//   every close, 200 ms on Windows, which does not);
// - parked: an error was reported for it; looked at again only when the file
//   changes.
// A file that is finished (repaired, or nothing to do) is forgotten, so the
// book holds only files that still need a look.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "file_reads.h"
#include "folder_events.h"

// What a look at a file came to.
enum class AttemptOutcome {
    Finished,  // repaired, already repaired, not a follow-up file, or gone
    Waiting,   // busy, empty or not writable yet: looked at again each retry period
    Parked,    // an error was reported: looked at again only when the file changes
};

// The state of a file in a folder now; false when it cannot be told.
using StampOfFile = std::function<bool(int folder, const std::string& name, FileStamp* stamp)>;

class WatchBook {
public:
    // Waiting files are tried again retryPeriodMs after the round that left
    // them waiting. stampOf tells whether a file changed since its own
    // failed write.
    WatchBook(int folderCount, long long retryPeriodMs, StampOfFile stampOf);

    // What a folder told about one of its files (events of the folder
    // itself are ignored). A change makes the file due (a parked one too); a
    // reader's close makes only a waiting file due; a write does not make a
    // waiting file due (the next retry round comes for it); a file that left
    // is forgotten.
    void OnFileEvent(int folder, const char* name, FolderEventKind kind);

    // The next due file, in the order they became due. A file parked after
    // the service's own failed write is passed over while it is as that
    // write left it: the event was caused by that write itself, or was a
    // close that came before it.
    bool TakeDue(int* folder, std::string* name);

    // What the look at a file taken with TakeDue came to. The events read
    // right after it, until EndOfOwnEvents, are partly caused by the look
    // itself (the closes of its own reads) and are ignored. A file parked
    // after the look wroteFile is stamped as the write left it.
    void RecordAttempt(int folder, const std::string& name, AttemptOutcome outcome, bool wroteFile,
                       long long nowMs);
    void EndOfOwnEvents();

    // Milliseconds until the next retry round; -1 while nothing waits.
    int MillisecondsToRetry(long long nowMs) const;
    // When the round is due, every waiting file becomes due.
    void StartRetryRoundIfDue(long long nowMs);

    // A folder watched from now on (a subfolder that came); its number may
    // be one a forgotten folder had.
    void AddFolder(int folder);
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
        std::optional<FileStamp> leftByFailedWrite;
    };
    struct DueFile {
        int folder;
        std::string name;
    };
    struct OwnLook {  // the file just looked at, whose own reads' closes are ignored
        bool active = false;
        int folder = -1;
        std::string name;
    };
    using Folder = std::unordered_map<std::string, Entry>;

    bool IsOwnEvent(int folder, const char* name, FolderEventKind kind) const;
    bool IsAsItsFailedWriteLeftIt(int folder, const std::string& name, const Entry& entry) const;
    void MakeDue(int folder, const std::string& name, Entry& entry);
    void SetState(Entry& entry, State state);
    void Erase(Folder& files, Folder::iterator entry);

    std::vector<Folder> folders_;
    std::deque<DueFile> due_;
    OwnLook ownLook_;
    std::size_t waiting_ = 0;
    std::size_t parked_ = 0;
    long long retryPeriodMs_;
    StampOfFile stampOf_;
    long long nextRetryMs_ = -1;
};

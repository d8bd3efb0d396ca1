#include "watch_book.h"

#include <utility>

WatchBook::WatchBook(int folderCount, long long retryPeriodMs, StampOfFile stampOf)
    : folders_(static_cast<std::size_t>(folderCount)),
      retryPeriodMs_(retryPeriodMs),
      stampOf_(std::move(stampOf)) {}

// Only its reads' closes (the look at the head, the probe for other opens)
// are set aside. A writer's close is not: the kernel merges a writer's close
// with an identical one still unread, so after a repair the recorder's may
// hide behind the repair's own, and before a failed write a recorder's close
// still unread looks just like that write's own.
bool WatchBook::IsOwnEvent(int folder, const char* name, FolderEventKind kind) const {
    return ownLook_.active && ownLook_.folder == folder && ownLook_.name == name &&
           kind == FolderEventKind::ReaderClosed;
}

bool WatchBook::IsAsItsFailedWriteLeftIt(int folder, const std::string& name,
                                         const Entry& entry) const {
    FileStamp now;
    return entry.state == State::Parked && entry.leftByFailedWrite.has_value() &&
           stampOf_(folder, name, &now) && now == *entry.leftByFailedWrite;
}

void WatchBook::OnFileEvent(int folder, const char* name, FolderEventKind kind) {
    if (folder < 0 || static_cast<std::size_t>(folder) >= folders_.size() || name[0] == '\0' ||
        IsOwnEvent(folder, name, kind)) {
        return;
    }
    Folder& files = folders_[static_cast<std::size_t>(folder)];
    switch (kind) {
    case FolderEventKind::Arrived:
    case FolderEventKind::WriterClosed:
    case FolderEventKind::ReaderClosed:
    case FolderEventKind::AttributesChanged:
    case FolderEventKind::Written:
    case FolderEventKind::Left:
        break;
    case FolderEventKind::SubfolderArrived:
    case FolderEventKind::SubfolderLeft:
    case FolderEventKind::FolderGone:
    case FolderEventKind::Overflow:
        return;  // not of one file
    }
    if (kind == FolderEventKind::Left) {
        const auto found = files.find(name);
        if (found != files.end()) {
            Erase(files, found);
        }
        return;
    }
    if (kind == FolderEventKind::ReaderClosed) {
        // Only a file that waits for others to let go cares about a reader.
        const auto found = files.find(name);
        if (found != files.end() && found->second.state == State::Waiting) {
            MakeDue(folder, found->first, found->second);
        }
        return;
    }
    if (kind == FolderEventKind::Written) {
        const auto found = files.find(name);
        if (found != files.end() && found->second.state == State::Waiting) {
            return;
        }
    }
    const auto [entry, added] = files.try_emplace(name);
    MakeDue(folder, entry->first, entry->second);
}

void WatchBook::MakeDue(int folder, const std::string& name, Entry& entry) {
    if (!entry.queued) {
        entry.queued = true;
        due_.push_back({folder, name});
    }
}

bool WatchBook::TakeDue(int* folder, std::string* name) {
    while (!due_.empty()) {
        DueFile next = std::move(due_.front());
        due_.pop_front();
        // A file that left, or whose folder went, since it became due is
        // no longer in the book; one queued twice is taken once.
        Folder& files = folders_[static_cast<std::size_t>(next.folder)];
        const auto found = files.find(next.name);
        if (found == files.end() || !found->second.queued) {
            continue;
        }
        found->second.queued = false;
        if (IsAsItsFailedWriteLeftIt(next.folder, found->first, found->second)) {
            continue;
        }
        *folder = next.folder;
        *name = std::move(next.name);
        return true;
    }
    return false;
}

void WatchBook::RecordAttempt(int folder, const std::string& name, AttemptOutcome outcome,
                              bool wroteFile, long long nowMs) {
    ownLook_.active = true;
    ownLook_.folder = folder;
    ownLook_.name = name;
    Folder& files = folders_[static_cast<std::size_t>(folder)];
    const auto found = files.find(name);
    if (found == files.end()) {
        return;  // its folder went meanwhile
    }
    switch (outcome) {
    case AttemptOutcome::Finished:
        if (found->second.queued) {
            SetState(found->second, State::New);  // due again: looked at once more
        } else {
            Erase(files, found);
        }
        return;
    case AttemptOutcome::Waiting:
        SetState(found->second, State::Waiting);
        if (nextRetryMs_ < 0) {
            nextRetryMs_ = nowMs + retryPeriodMs_;
        }
        return;
    case AttemptOutcome::Parked:
        SetState(found->second, State::Parked);
        found->second.leftByFailedWrite.reset();
        if (FileStamp left; wroteFile && stampOf_(folder, name, &left)) {
            found->second.leftByFailedWrite = left;
        }
        return;
    }
}

void WatchBook::EndOfOwnEvents() {
    ownLook_.active = false;
}

int WatchBook::MillisecondsToRetry(long long nowMs) const {
    if (waiting_ == 0 || nextRetryMs_ < 0) {
        return -1;
    }
    return nextRetryMs_ <= nowMs ? 0 : static_cast<int>(nextRetryMs_ - nowMs);
}

void WatchBook::StartRetryRoundIfDue(long long nowMs) {
    if (nextRetryMs_ < 0 || nowMs < nextRetryMs_) {
        return;
    }
    nextRetryMs_ = -1;  // set again by the first file that is left waiting
    for (std::size_t folder = 0; folder < folders_.size(); ++folder) {
        for (auto& [name, entry] : folders_[folder]) {
            if (entry.state == State::Waiting) {
                MakeDue(static_cast<int>(folder), name, entry);
            }
        }
    }
}

void WatchBook::AddFolder(int folder) {
    if (folders_.size() <= static_cast<std::size_t>(folder)) {
        folders_.resize(static_cast<std::size_t>(folder) + 1);
    }
}

void WatchBook::ForgetFolder(int folder) {
    Folder& files = folders_[static_cast<std::size_t>(folder)];
    while (!files.empty()) {
        Erase(files, files.begin());
    }
}

void WatchBook::MakeDueAgain(int folder, const std::string& name) {
    Folder& files = folders_[static_cast<std::size_t>(folder)];
    const auto found = files.find(name);
    if (found != files.end()) {
        MakeDue(folder, found->first, found->second);
    }
}

std::size_t WatchBook::TrackedCount() const {
    std::size_t count = 0;
    for (const Folder& files : folders_) {
        count += files.size();
    }
    return count;
}

void WatchBook::SetState(Entry& entry, State state) {
    waiting_ -= entry.state == State::Waiting;
    parked_ -= entry.state == State::Parked;
    entry.state = state;
    waiting_ += state == State::Waiting;
    parked_ += state == State::Parked;
}

void WatchBook::Erase(Folder& files, Folder::iterator entry) {
    SetState(entry->second, State::New);
    files.erase(entry);
}

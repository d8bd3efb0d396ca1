// The watch service's subfolders (watch --recursive): each folder below a
// given one is held and watched under a number of its own, like a given
// one, from the start or from the moment it comes, and forgotten without a
// word when it goes.
#include "cli_command.h"
#include "paths.h"
#include "system_text.h"
#include "watch_service.h"

namespace {

// A message names at most this many folders that were left out, and how
// many more there were.
constexpr std::size_t kLeftOutNamed = 20;

std::string FolderList(const std::vector<std::string>& paths) {
    std::string list;
    for (std::size_t index = 0; index < paths.size() && index < kLeftOutNamed; ++index) {
        list += (index == 0 ? "" : ", ") + NameAsText(paths[index]);
    }
    if (paths.size() > kLeftOutNamed) {
        list += " und " + std::to_string(paths.size() - kLeftOutNamed) + " weitere";
    }
    return list;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

}  // namespace

bool WatchService::IsGiven(int folder) const {
    return static_cast<std::size_t>(folder) < settings_.folders.size();
}

void WatchService::ReadEvents() {
    events_.ReadEvents([this](const FolderEvent& event) { OnFolderEvent(event); });
}

// Watches each subfolder met and everything below it, and looks at every
// file in them; one at a time, so that a deep tree needs no deep calls.
// Never while events are being handled: each scan reads the events that
// came meanwhile (its own listing's among them), so that thousands of
// folders never fill the kernel's queue of events.
void WatchService::WatchNewSubfolders() {
    while (!subfoldersToWatch_.empty()) {
        const auto [parent, name] = std::move(subfoldersToWatch_.back());
        subfoldersToWatch_.pop_back();
        const int folder = WatchSubfolder(parent, name);
        std::string error;
        // One that cannot be read is gone already, or is not ours to look into.
        if (folder >= 0) {
            ScanFolder(folder, &subfoldersToWatch_, &error);
        }
        ReadEvents();
    }
}

// The number of the subfolder now held and watched, or -1 when it is not:
// watched already (under this or another name), gone meanwhile, a link
// (never followed), or left out at a limit (told by TellLeftOut).
int WatchService::WatchSubfolder(int parent, const std::string& name) {
    const WatchedFolder& above = folders_[static_cast<std::size_t>(parent)];
    if (!above.present) {
        return -1;
    }
    const int root = above.root;
    std::string path = above.held.path + name + kPathSeparator;
    // A folder renamed onto the name of an empty watched one takes its place
    // without a word about the old one, which is still held: forgotten now.
    if (const auto known = folderByPath_.find(path); known != folderByPath_.end()) {
        const int old = known->second;
        if (IsGiven(old) ||
            files_.NameLeadsToHeldFolder(folders_[static_cast<std::size_t>(old)].held.handle)) {
            return -1;
        }
        OnFolderGone(old);
    }
    if (!FolderPathFits(path)) {
        tooLong_.push_back(std::move(path));
        return -1;
    }
    bool outOfDescriptors = false;
    const FolderHandle handle =
        files_.HoldSubfolder(above.held.handle, name.c_str(), &outOfDescriptors);
    if (handle == kNoFolder) {
        if (outOfDescriptors) {
            outOfDescriptors_.push_back(std::move(path));
        }
        return -1;
    }
    const int folder = NewFolderNumber();
    int watchedAs = -1;
    WatchResult watched = events_.WatchSubfolder(folder, root, path, &watchedAs);
    // Renamed within the tree, it is met under its new name before the
    // event of its old name leaving is read: watched anew.
    if (watched == WatchResult::AlreadyWatched && !IsGiven(watchedAs) &&
        !files_.NameLeadsToHeldFolder(folders_[static_cast<std::size_t>(watchedAs)].held.handle)) {
        OnFolderGone(watchedAs);
        watched = events_.WatchSubfolder(folder, root, path, &watchedAs);
    }
    if (watched != WatchResult::Watched) {
        if (watched == WatchResult::LimitReached) {
            leftOut_.push_back(path);
        }
        files_.ReleaseFolder(handle);
        freeNumbers_.push_back(folder);
        return -1;
    }
    book_.AddFolder(folder);
    series_.AddFolder(folder);
    folderByPath_.emplace(path, folder);
    folders_[static_cast<std::size_t>(folder)] = {{handle, std::move(path)}, root, true};
    return folder;
}

// A forgotten subfolder's number is given again, so that a tree's churn
// over months does not grow the service.
int WatchService::NewFolderNumber() {
    if (!freeNumbers_.empty()) {
        const int folder = freeNumbers_.back();
        freeNumbers_.pop_back();
        return folder;
    }
    folders_.emplace_back();
    return static_cast<int>(folders_.size() - 1);
}

// Deleted, or moved elsewhere (within the tree it comes again as a new
// subfolder under its new name). A given folder's loss is told by its own
// watch.
void WatchService::OnSubfolderLeft(int parent, const std::string& name) {
    const WatchedFolder& above = folders_[static_cast<std::size_t>(parent)];
    if (!above.present) {
        return;
    }
    const std::string path = above.held.path + name + kPathSeparator;
    const auto found = folderByPath_.find(path);
    if (found == folderByPath_.end() || IsGiven(found->second)) {
        return;
    }
    const int folder = found->second;
    ForgetSubfoldersBelow(path);
    ForgetSubfolder(folder);
}

// Every subfolder below `path` (a given folder within is left to its own
// watch).
void WatchService::ForgetSubfoldersBelow(const std::string& path) {
    std::vector<int> below;
    for (auto entry = folderByPath_.upper_bound(path);
         entry != folderByPath_.end() && StartsWith(entry->first, path); ++entry) {
        if (!IsGiven(entry->second)) {
            below.push_back(entry->second);
        }
    }
    for (const int folder : below) {
        ForgetSubfolder(folder);
    }
}

void WatchService::ForgetSubfolder(int folder) {
    WatchedFolder& watched = folders_[static_cast<std::size_t>(folder)];
    if (!watched.present) {
        return;
    }
    events_.Unwatch(folder);
    book_.ForgetFolder(folder);
    series_.ForgetFolder(folder);
    files_.ReleaseFolder(watched.held.handle);
    folderByPath_.erase(watched.held.path);
    watched = WatchedFolder();
    freeNumbers_.push_back(folder);
}

// Once for all the folders a batch of events or a scan left out.
void WatchService::TellLeftOut() {
    if (!leftOut_.empty()) {
        std::string setting = kWatchLimitSetting;
        Message(OutputStream::Err,
                "Grenze der beobachtbaren Ordner erreicht" +
                    (setting.empty() ? std::string() : " (" + setting + " erh\xC3\xB6hen)") +
                    ", nicht beobachtet: " + FolderList(leftOut_));
        leftOut_.clear();
    }
    if (!outOfDescriptors_.empty()) {
        Message(OutputStream::Err,
                "Grenze der offenen Dateien erreicht (ulimit -n, im Dienst LimitNOFILE "
                "erh\xC3\xB6hen), nicht beobachtet: " +
                    FolderList(outOfDescriptors_));
        outOfDescriptors_.clear();
    }
    if (!tooLong_.empty()) {
        Message(OutputStream::Err,
                "Pfad des Ordners zu lang, nicht beobachtet: " + FolderList(tooLong_));
        tooLong_.clear();
    }
}

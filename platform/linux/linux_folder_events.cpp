#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "folder_events.h"
#include "unique_fd.h"

const int kWaitingFileRetryMs = 1000;
const char* const kWatchLimitSetting = "fs.inotify.max_user_watches";

struct FolderEvents::Source {
    int FolderOfWatch(int watch) const;
    int FolderNamedInParent(int watch, const char* name) const;
    bool NameLeadsToFolder(int folder) const;
    bool IsAncestorWatch(int watch) const;
    void Remember(int folder, int watch);

    UniqueFd inotifyFd;
    UniqueFd signalFd;
    UniqueFd wakeFd;           // an eventfd: written by Wake, drained by WaitForEvents
    std::vector<int> watches;  // by folder number; -1 when not watched
    std::unordered_map<int, int> folderOfWatch;
    // The watch of each folder's parent and the folder's name in it: a
    // folder that is held open is reported deleted only by its parent (its
    // own deletion event waits for the last descriptor of it), and a folder
    // or link renamed onto its name is told only there. The path and the
    // folder it led to at the start tell whether it still does.
    struct ParentWatch {
        int watch;
        std::string name;
        std::string path;
        dev_t device;
        ino_t inode;
    };
    std::vector<ParentWatch> parents;  // by folder number; watch -1 when none
    // Every folder above a watched one, each of which, moved, takes the
    // watched folder's name away with it.
    struct AncestorWatch {
        int watch;
        int folder;
    };
    std::vector<AncestorWatch> ancestors;
    alignas(8) char buffer[16384];
};

namespace {

// No IN_MODIFY: a recorder's every write would wake the service.
constexpr std::uint32_t kFolderMask = IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE |
                                      IN_ATTRIB | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF |
                                      IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

bool KindOfEvent(std::uint32_t mask, FolderEventKind* kind) {
    if (mask & IN_ISDIR) {
        if (mask & (IN_CREATE | IN_MOVED_TO)) {
            *kind = FolderEventKind::SubfolderArrived;
        } else if (mask & (IN_DELETE | IN_MOVED_FROM)) {
            *kind = FolderEventKind::SubfolderLeft;
        } else {
            return false;
        }
        return true;
    }
    if (mask & (IN_CREATE | IN_MOVED_TO)) {
        *kind = FolderEventKind::Arrived;
    } else if (mask & IN_CLOSE_WRITE) {
        *kind = FolderEventKind::WriterClosed;
    } else if (mask & IN_CLOSE_NOWRITE) {
        *kind = FolderEventKind::ReaderClosed;
    } else if (mask & IN_ATTRIB) {
        *kind = FolderEventKind::AttributesChanged;
    } else if (mask & (IN_DELETE | IN_MOVED_FROM)) {
        *kind = FolderEventKind::Left;
    } else {
        return false;
    }
    return true;
}

// Every watched folder is held open by the file layer: with its subfolders
// the service may need thousands of descriptors, more than the usual soft
// limit of 1024, so it takes what the hard limit allows.
void RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

FolderEvents::FolderEvents() : source_(std::make_unique<Source>()) {}

FolderEvents::~FolderEvents() = default;

bool FolderEvents::Open(std::string* error, bool subfolders) {
    if (subfolders) {
        RaiseOpenFileLimit();
    }
    source_->inotifyFd.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    source_->wakeFd.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!source_->inotifyFd.valid() || !source_->wakeFd.valid()) {
        *error = std::strerror(errno);
        return false;
    }
    // Blocked signals wait in the signalfd until the loop reads them, so a
    // signal never interrupts a repair halfway.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    source_->signalFd.reset(signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!source_->signalFd.valid()) {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

bool FolderEvents::Watch(int folder, const char* path, std::string* error) {
    const int watch = inotify_add_watch(source_->inotifyFd.get(), path, kFolderMask);
    if (watch < 0) {
        *error = std::strerror(errno);
        return false;
    }
    // The kernel gives the same watch for the same folder under another name.
    if (source_->FolderOfWatch(watch) >= 0) {
        *error = "derselbe Ordner wie ein anderer der Liste";
        return false;
    }
    source_->Remember(folder, watch);
    WatchParent(folder, path);
    return true;
}

// A subfolder needs no watch of its parent: the parent is watched itself
// and tells of its subfolders leaving. Added to a watch the folder may
// already have as the parent of a given folder.
WatchResult FolderEvents::WatchSubfolder(int folder, int /*root*/, const std::string& path,
                                         int* watchedAs) {
    const int watch = inotify_add_watch(source_->inotifyFd.get(), path.c_str(),
                                        kFolderMask | IN_DONT_FOLLOW | IN_MASK_ADD);
    if (watch < 0) {
        return errno == ENOSPC ? WatchResult::LimitReached : WatchResult::Failed;
    }
    *watchedAs = source_->FolderOfWatch(watch);
    if (*watchedAs >= 0) {
        return WatchResult::AlreadyWatched;
    }
    source_->Remember(folder, watch);
    return WatchResult::Watched;
}

void FolderEvents::Source::Remember(int folder, int watch) {
    if (watches.size() <= static_cast<std::size_t>(folder)) {
        watches.resize(static_cast<std::size_t>(folder) + 1, -1);
    }
    watches[static_cast<std::size_t>(folder)] = watch;
    folderOfWatch[watch] = folder;
}

void FolderEvents::WatchParent(int folder, const char* path) {
    std::string parent = path;
    while (parent.size() > 1 && parent.back() == '/') {
        parent.pop_back();
    }
    const std::size_t slash = parent.rfind('/');
    if (slash == std::string::npos || slash + 1 >= parent.size()) {
        return;  // the root has no parent
    }
    const std::string name = parent.substr(slash + 1);
    parent.erase(slash == 0 ? 1 : slash);
    // Added to whatever else watches the parent (another watched folder).
    const int watch = inotify_add_watch(
        source_->inotifyFd.get(), parent.c_str(),
        IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD);
    if (source_->parents.size() <= static_cast<std::size_t>(folder)) {
        source_->parents.resize(static_cast<std::size_t>(folder) + 1, {-1, "", "", 0, 0});
    }
    struct stat status {};
    stat(path, &status);
    source_->parents[static_cast<std::size_t>(folder)] = {watch, name, path, status.st_dev,
                                                          status.st_ino};
    source_->ancestors.push_back({watch, folder});
    // The folders further up tell only of their own moves: a quiet watch.
    while (parent.size() > 1) {
        const std::size_t up = parent.rfind('/');
        parent.erase(up == 0 ? 1 : up);
        const int ancestor = inotify_add_watch(source_->inotifyFd.get(), parent.c_str(),
                                               IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD);
        if (ancestor >= 0) {
            source_->ancestors.push_back({ancestor, folder});
        }
    }
}

void FolderEvents::Unwatch(int folder) {
    if (folder < 0 || static_cast<std::size_t>(folder) >= source_->watches.size()) {
        return;
    }
    // A parent's watch stays: it may serve another folder, and it only
    // tells of folders leaving.
    if (static_cast<std::size_t>(folder) < source_->parents.size()) {
        source_->parents[static_cast<std::size_t>(folder)].watch = -1;
    }
    std::erase_if(source_->ancestors,
                  [folder](const Source::AncestorWatch& entry) { return entry.folder == folder; });
    int& watch = source_->watches[static_cast<std::size_t>(folder)];
    if (watch >= 0) {
        source_->folderOfWatch.erase(watch);
        // Kept while it still watches the folder above a given one; a removal
        // fails harmlessly when the kernel did it.
        if (!source_->IsAncestorWatch(watch)) {
            inotify_rm_watch(source_->inotifyFd.get(), watch);
        }
        watch = -1;
    }
}

bool FolderEvents::Source::IsAncestorWatch(int watch) const {
    return std::any_of(ancestors.begin(), ancestors.end(),
                       [watch](const AncestorWatch& entry) { return entry.watch == watch; });
}

int FolderEvents::Source::FolderNamedInParent(int watch, const char* name) const {
    for (std::size_t folder = 0; folder < parents.size(); ++folder) {
        if (parents[folder].watch == watch && parents[folder].name == name) {
            return static_cast<int>(folder);
        }
    }
    return -1;
}

bool FolderEvents::Source::NameLeadsToFolder(int folder) const {
    const ParentWatch& parent = parents[static_cast<std::size_t>(folder)];
    struct stat status {};
    return stat(parent.path.c_str(), &status) == 0 && status.st_dev == parent.device &&
           status.st_ino == parent.inode;
}

int FolderEvents::Source::FolderOfWatch(int watch) const {
    const auto found = folderOfWatch.find(watch);
    return found == folderOfWatch.end() ? -1 : found->second;
}

void FolderEvents::WaitForEvents(int timeoutMs) {
    pollfd sources[3] = {{source_->inotifyFd.get(), POLLIN, 0},
                         {source_->signalFd.get(), POLLIN, 0},
                         {source_->wakeFd.get(), POLLIN, 0}};
    poll(sources, 3, timeoutMs);  // EINTR or not: the caller looks at what is pending
    if (sources[2].revents & POLLIN) {
        std::uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t drained = read(source_->wakeFd.get(), &wakes, sizeof wakes);
    }
}

void FolderEvents::Wake() {
    const std::uint64_t one = 1;
    if (source_->wakeFd.valid()) {
        [[maybe_unused]] const ssize_t written = write(source_->wakeFd.get(), &one, sizeof one);
    }
}

void FolderEvents::ReadEvents(const std::function<void(const FolderEvent&)>& onEvent) {
    for (;;) {
        const ssize_t length =
            read(source_->inotifyFd.get(), source_->buffer, sizeof source_->buffer);
        if (length <= 0) {
            if (length < 0 && errno == EINTR) {
                continue;
            }
            return;  // EAGAIN: nothing more queued
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(source_->buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                onEvent({-1, FolderEventKind::Overflow, ""});
                continue;
            }
            if (event->mask & IN_MOVE_SELF) {
                // Collected first: a folder that is gone has its watches given up.
                std::vector<int> gone;
                for (const Source::AncestorWatch& entry : source_->ancestors) {
                    if (entry.watch == event->wd) {
                        gone.push_back(entry.folder);
                    }
                }
                for (const int folder : gone) {
                    onEvent({folder, FolderEventKind::FolderGone, ""});
                }
            }
            // A given folder's name deleted or moved away, or another folder
            // or link renamed onto it (a link given as the folder may be
            // pointed back at the same folder).
            if ((event->mask & (IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) && event->len > 0) {
                const int named = source_->FolderNamedInParent(event->wd, event->name);
                if (named >= 0 &&
                    ((event->mask & IN_MOVED_TO) == 0 || !source_->NameLeadsToFolder(named))) {
                    onEvent({named, FolderEventKind::FolderGone, ""});
                }
            }
            const int folder = source_->FolderOfWatch(event->wd);
            if (folder < 0) {
                continue;  // a parent's watch, or a watch given up a moment ago
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                onEvent({folder, FolderEventKind::FolderGone, ""});
                continue;
            }
            FolderEventKind kind;
            // Events of the folder itself (no name) are of no interest.
            if (event->len == 0 || !KindOfEvent(event->mask, &kind)) {
                continue;
            }
            onEvent({folder, kind, event->name});
        }
    }
}

ServiceSignal FolderEvents::TakeSignal() {
    signalfd_siginfo info{};
    while (read(source_->signalFd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGHUP) {
            return ServiceSignal::Reload;
        }
        if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
            return ServiceSignal::Stop;
        }
    }
    return ServiceSignal::None;
}

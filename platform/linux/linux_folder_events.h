// What happens in watched folders (inotify) and the service's signals
// (signalfd), waited for together in one poll: the event source of
// `velmora-cli watch`. Nothing here decides what to do with a file.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum class FolderEventKind {
    Arrived,            // created in the folder or moved into it
    WriterClosed,       // a program that had it open for writing closed it
    ReaderClosed,       // a program that had it open for reading closed it
    AttributesChanged,  // permissions, owner, link count
    Left,               // deleted or moved out
    FolderGone,         // the folder itself was deleted, moved or unmounted
    Overflow,           // the kernel dropped events: every folder must be looked at again
};

struct FolderEvent {
    int folder;  // as given to Watch; -1 for Overflow
    FolderEventKind kind;
    const char* name;  // the file's name in the folder; "" for folder events
};

enum class ServiceSignal { None, Stop, Reload };

class LinuxFolderEvents {
public:
    LinuxFolderEvents() = default;
    ~LinuxFolderEvents();
    LinuxFolderEvents(const LinuxFolderEvents&) = delete;
    LinuxFolderEvents& operator=(const LinuxFolderEvents&) = delete;

    // Makes the inotify instance and takes SIGTERM, SIGINT and SIGHUP out of
    // normal delivery into a signalfd. *error holds the system's reason.
    bool Open(std::string* error);

    // Watches the folder at `path` (a folder, not a file) under the number
    // `folder`. *error holds the system's reason.
    bool Watch(int folder, const char* path, std::string* error);
    void Unwatch(int folder);

    // Blocks until a folder event or a signal is pending, or until timeoutMs
    // has passed; -1 waits without any time limit.
    void WaitForNews(int timeoutMs);

    // Hands each event already queued to onEvent, without waiting.
    void ReadEvents(const std::function<void(const FolderEvent&)>& onEvent);

    // The next pending signal, without waiting; None when there is none.
    ServiceSignal TakeSignal();

private:
    int FolderOfWatch(int watch) const;

    int inotifyFd_ = -1;
    int signalFd_ = -1;
    std::vector<int> watches_;  // by folder number; -1 when not watched
    alignas(8) char buffer_[16384];
};

// The names in the folder at `path` that may be files (not subfolders), in
// the order the file system gives them. False, with the reason, when the
// folder cannot be read.
bool ListFolderFiles(const char* path, const std::function<void(const char* name)>& onName,
                     std::string* error);

// A clock that only goes forward, in milliseconds.
long long MonotonicMilliseconds();

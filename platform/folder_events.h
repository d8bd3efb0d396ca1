// What happens in watched folders and the service's requests to stop (or
// reload), waited for together: the event source of `velmora-cli watch`.
// Nothing here decides what to do with a file. One implementation per
// platform: inotify and a signalfd on Linux, directory change notifications
// and the console's control events on Windows.
#pragma once

#include <functional>
#include <memory>
#include <string>

enum class FolderEventKind {
    Arrived,            // created in the folder or moved into it
    WriterClosed,       // a program that had it open for writing closed it (Linux)
    ReaderClosed,       // a program that had it open for reading closed it (Linux)
    AttributesChanged,  // permissions, owner, link count
    Written,            // written to, without a word on who still holds it (Windows)
    Left,               // deleted or moved out
    SubfolderArrived,   // a folder created in the folder or moved into it
    SubfolderLeft,      // a subfolder deleted or moved out
    FolderGone,         // the folder itself was deleted, moved or unmounted
    Overflow,           // the kernel dropped events: every folder must be looked at again
};

struct FolderEvent {
    int folder;  // as given to Watch; -1 for Overflow
    FolderEventKind kind;
    const char* name;  // the file's or subfolder's name in the folder; "" for folder events
};

enum class WatchResult {
    Watched,
    AlreadyWatched,  // the same folder is watched under another name or number
    LimitReached,    // the system watches no more folders (kWatchLimitSetting)
    Failed,          // gone meanwhile, a link, or not readable
};

// The system setting that limits how many folders can be watched, to be
// named when the limit is reached; "" where there is none.
extern const char* const kWatchLimitSetting;

enum class ServiceSignal { None, Stop, Reload };

// How often a file that waits on another program is tried again. Linux
// tells of every close, so this is only a safety net; Windows tells of no
// close, so a waiting file is tried as often as the window tries it.
extern const int kWaitingFileRetryMs;

class FolderEvents {
public:
    FolderEvents();
    ~FolderEvents();
    FolderEvents(const FolderEvents&) = delete;
    FolderEvents& operator=(const FolderEvents&) = delete;

    // Makes the event source and takes the requests to stop (SIGTERM and
    // SIGINT, and SIGHUP to reload; on Windows Ctrl+C, Ctrl+Break and the
    // console's close) out of their normal handling, so that they are taken
    // between repairs. With `subfolders`, the folders given to Watch are
    // watched with everything below them (WatchSubfolder). *error holds the
    // system's reason.
    bool Open(std::string* error, bool subfolders = false);

    // Watches the folder at `path` (a folder, not a file) under the number
    // `folder`. *error holds the system's reason.
    bool Watch(int folder, const char* path, std::string* error);

    // Watches the folder at `path` (absolute, with its separator), a
    // subfolder somewhere below the folder `root` given to Watch, under the
    // number `folder`; a link in its place is not followed. Its loss comes
    // as SubfolderLeft from the folder above it, or as FolderGone.
    // AlreadyWatched sets *watchedAs to the number it is watched under.
    WatchResult WatchSubfolder(int folder, int root, const std::string& path, int* watchedAs);
    void Unwatch(int folder);

    // Blocks until a folder event or a signal is pending, or until timeoutMs
    // has passed; -1 waits without any time limit.
    void WaitForEvents(int timeoutMs);

    // Ends the WaitForEvents under way at once, or else the next one; from
    // any thread (a writer of the service's output whose reader has gone).
    void Wake();

    // Hands each event already queued to onEvent, without waiting.
    void ReadEvents(const std::function<void(const FolderEvent&)>& onEvent);

    // The next pending request, without waiting; None when there is none.
    ServiceSignal TakeSignal();

private:
    void WatchParent(int folder, const char* path);

    struct Source;  // the platform's handles
    std::unique_ptr<Source> source_;
};

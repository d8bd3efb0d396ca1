// The watch service's events on Windows: directory change notifications
// (ReadDirectoryChangesW, each folder's completion routine run in this
// thread's alertable waits, so there is no limit on the number of folders)
// and the console's control events as the request to stop. With subfolders,
// each given folder's notifications cover everything below it, and name a
// file in a subfolder by its path from the given folder ("day1\Film.mpg"):
// that is told as the file "Film.mpg" of the subfolder "day1", once the
// service has watched that subfolder under a number of its own.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "folder_events.h"
#include "repair_controller.h"
#include "system_text.h"
#include "win32_folder_notifications.h"
#include "win32_names.h"

// Windows tells of no close: a waiting file is tried as often as the
// window's tick tries it.
const int kWaitingFileRetryMs = kRepairTimerPeriodMs;

// Notifications of a whole tree take a single watch: no limit to name.
const char* const kWatchLimitSetting = "";

namespace {

// Names coming and going, and writes (which include a recorder's close, as
// the last write time is set then) and attribute changes.
constexpr DWORD kChangeFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;

// Set by the console's control handler, which runs in a thread of its own.
std::atomic<bool> stopRequested{false};
HANDLE stopEvent = nullptr;      // wakes the service's wait
HANDLE finishedEvent = nullptr;  // the service has let go of everything

BOOL WINAPI OnConsoleControl(DWORD type) {
    stopRequested = true;
    SetEvent(stopEvent);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process once this returns: the repair the
        // service is in is finished first.
        WaitForSingleObject(finishedEvent, 5000);
    }
    return TRUE;
}

// A subfolder's place: the given folder above it and its path from there.
struct SubfolderPlace {
    int root;
    std::string relative;
};

}  // namespace

struct FolderEvents::Source {
    std::vector<std::unique_ptr<WatchedFolder>> folders;  // by number; never freed while reading
    std::unordered_map<int, SubfolderPlace> subfolders;   // by number
    std::vector<PendingEvent> pending;
    bool withSubfolders = false;
    UniqueHandle wakeEvent;  // set by Wake, reset by the wait it ends
};

namespace {

void CALLBACK OnFolderChanges(DWORD error, DWORD bytes, OVERLAPPED* overlapped);

bool StartReading(WatchedFolder& folder) {
    folder.overlapped = OVERLAPPED{};
    // With a completion routine the system leaves hEvent to the caller.
    folder.overlapped.hEvent = &folder;
    const DWORD filter =
        kChangeFilter | (folder.withSubfolders ? FILE_NOTIFY_CHANGE_DIR_NAME : DWORD{0});
    if (!ReadDirectoryChangesW(folder.handle.get(), folder.buffer.get(), kNotificationBufferSize,
                               folder.withSubfolders, filter, nullptr, &folder.overlapped,
                               OnFolderChanges)) {
        return false;
    }
    folder.reading = true;
    return true;
}

void CALLBACK OnFolderChanges(DWORD error, DWORD bytes, OVERLAPPED* overlapped) {
    WatchedFolder& folder = *static_cast<WatchedFolder*>(overlapped->hEvent);
    folder.reading = false;
    if (!folder.handle.valid() || error == ERROR_OPERATION_ABORTED) {
        return;  // no longer watched
    }
    std::vector<PendingEvent>& pending = *folder.pending;
    if (error == ERROR_NOTIFY_ENUM_DIR || (error == ERROR_SUCCESS && bytes == 0)) {
        pending.push_back({-1, FolderEventKind::Overflow, ""});  // more than the buffer held
    } else if (error != ERROR_SUCCESS) {
        pending.push_back({folder.number, FolderEventKind::FolderGone, ""});
        return;
    } else {
        QueueNotifications(folder, bytes);
    }
    if (!StartReading(folder)) {
        pending.push_back({folder.number, FolderEventKind::FolderGone, ""});
    }
}

bool SameFolder(HANDLE first, HANDLE second) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return GetFileInformationByHandle(first, &a) && GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

FolderEvents::FolderEvents() : source_(std::make_unique<Source>()) {}

FolderEvents::~FolderEvents() {
    for (const std::unique_ptr<WatchedFolder>& folder : source_->folders) {
        if (folder != nullptr && folder->handle.valid()) {
            CancelIo(folder->handle.get());
            folder->handle.reset();
        }
    }
    // The cancelled notifications still call their routines, which use the folders.
    for (int waited = 0; waited < 100; ++waited) {
        bool reading = false;
        for (const std::unique_ptr<WatchedFolder>& folder : source_->folders) {
            reading = reading || (folder != nullptr && folder->reading);
        }
        if (!reading) {
            break;
        }
        SleepEx(10, TRUE);
    }
    if (finishedEvent != nullptr) {
        SetEvent(finishedEvent);
    }
}

bool FolderEvents::Open(std::string* error, bool subfolders) {
    source_->withSubfolders = subfolders;
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    finishedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    source_->wakeEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    // Ctrl+C is ignored by a program started in a new process group unless
    // it asks for it again.
    if (stopEvent == nullptr || finishedEvent == nullptr || !source_->wakeEvent.valid() ||
        !SetConsoleCtrlHandler(nullptr, FALSE) || !SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
        *error = LastSystemErrorText();
        return false;
    }
    return true;
}

bool FolderEvents::Watch(int folder, const char* path, std::string* error) {
    auto watched = std::make_unique<WatchedFolder>();
    watched->pending = &source_->pending;
    watched->number = folder;
    watched->withSubfolders = source_->withSubfolders;
    // Without delete sharing, the folder can be neither deleted nor moved
    // while it is watched: the notifications would follow a moved folder
    // while the service still wrote to its old path. (A folder that goes
    // all the same, with its network share, ends its notifications.)
    std::wstring system;
    if (!SystemFolderPath(path, &system)) {
        *error = LastSystemErrorText();
        return false;
    }
    watched->handle.reset(CreateFileW(system.c_str(), FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!watched->handle.valid()) {
        *error = LastSystemErrorText();
        return false;
    }
    for (const std::unique_ptr<WatchedFolder>& other : source_->folders) {
        if (other != nullptr && other->handle.valid() &&
            SameFolder(other->handle.get(), watched->handle.get())) {
            *error = "derselbe Ordner wie ein anderer der Liste";
            return false;
        }
    }
    if (system.back() != L'\\') {
        system += L'\\';
    }
    watched->systemPath = std::move(system);
    watched->path = path;
    if (watched->path.back() != '\\') {
        watched->path += '\\';
    }
    if (!StartReading(*watched)) {
        *error = LastSystemErrorText();
        return false;
    }
    if (source_->folders.size() <= static_cast<std::size_t>(folder)) {
        source_->folders.resize(static_cast<std::size_t>(folder) + 1);
    }
    source_->folders[static_cast<std::size_t>(folder)] = std::move(watched);
    return true;
}

// Nothing is opened: the given folder's notifications already cover it.
WatchResult FolderEvents::WatchSubfolder(int folder, int root, const std::string& path,
                                         int* watchedAs) {
    WatchedFolder* above = static_cast<std::size_t>(root) < source_->folders.size()
                               ? source_->folders[static_cast<std::size_t>(root)].get()
                               : nullptr;
    if (above == nullptr || !above->withSubfolders || path.size() <= above->path.size() ||
        path.compare(0, above->path.size(), above->path) != 0) {
        return WatchResult::Failed;
    }
    std::string relative = path.substr(above->path.size());
    while (!relative.empty() && relative.back() == '\\') {
        relative.pop_back();
    }
    const auto [entry, added] = above->subfolders.emplace(relative, folder);
    if (!added) {
        *watchedAs = entry->second;
        return WatchResult::AlreadyWatched;
    }
    source_->subfolders[folder] = {root, std::move(relative)};
    return WatchResult::Watched;
}

void FolderEvents::Unwatch(int folder) {
    const auto subfolder = source_->subfolders.find(folder);
    if (subfolder != source_->subfolders.end()) {
        const std::size_t root = static_cast<std::size_t>(subfolder->second.root);
        if (root < source_->folders.size() && source_->folders[root] != nullptr) {
            source_->folders[root]->subfolders.erase(subfolder->second.relative);
        }
        source_->subfolders.erase(subfolder);
        return;
    }
    if (folder < 0 || static_cast<std::size_t>(folder) >= source_->folders.size()) {
        return;
    }
    WatchedFolder* watched = source_->folders[static_cast<std::size_t>(folder)].get();
    if (watched != nullptr && watched->handle.valid()) {
        CancelIo(watched->handle.get());
        watched->handle.reset();
    }
}

void FolderEvents::WaitForEvents(int timeoutMs) {
    if (!source_->pending.empty() || stopRequested) {
        return;
    }
    // Alertable: the folders' completion routines run in here.
    const HANDLE ends[2] = {stopEvent, source_->wakeEvent.get()};
    WaitForMultipleObjectsEx(2, ends, FALSE,
                             timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs), TRUE);
}

void FolderEvents::Wake() {
    if (source_->wakeEvent.valid()) {
        SetEvent(source_->wakeEvent.get());
    }
}

void FolderEvents::ReadEvents(const std::function<void(const FolderEvent&)>& onEvent) {
    SleepEx(0, TRUE);  // the routines of notifications that have come meanwhile
    std::vector<PendingEvent> events;
    events.swap(source_->pending);
    for (const PendingEvent& event : events) {
        onEvent({event.folder, event.kind, event.name.c_str()});
    }
}

ServiceSignal FolderEvents::TakeSignal() {
    return stopRequested.exchange(false) ? ServiceSignal::Stop : ServiceSignal::None;
}

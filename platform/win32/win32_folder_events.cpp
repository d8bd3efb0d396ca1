// The watch service's events on Windows: directory change notifications
// (ReadDirectoryChangesW, each folder's completion routine run in this
// thread's alertable waits, so there is no limit on the number of folders)
// and the console's control events as the request to stop.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "cli_files.h"
#include "folder_events.h"
#include "repair_controller.h"
#include "win32_names.h"

// Windows tells of no close: a waiting file is tried as often as the
// window's tick tries it.
const int kWaitingFileRetryMs = kRepairTimerPeriodMs;

namespace {

// Names coming and going, and writes (which include a recorder's close, as
// the last write time is set then) and attribute changes.
constexpr DWORD kChangeFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;

// The most a folder on a network share gives in one notification.
constexpr DWORD kNotificationBufferSize = 64 * 1024;

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

struct PendingEvent {
    int folder;
    FolderEventKind kind;
    std::string name;
};

struct WatchedFolder {
    std::vector<PendingEvent>* pending = nullptr;  // where its routine puts what it was told
    int number = -1;
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    bool reading = false;  // a notification is outstanding: this must outlive it
    std::unique_ptr<DWORD[]> buffer{new DWORD[kNotificationBufferSize / sizeof(DWORD)]};
};

}  // namespace

struct FolderEvents::Source {
    std::vector<std::unique_ptr<WatchedFolder>> folders;  // by number; never freed while reading
    std::vector<PendingEvent> pending;
    HANDLE wakeEvent = nullptr;  // set by Wake, reset by the wait it ends
};

namespace {

void CALLBACK OnFolderChanges(DWORD error, DWORD bytes, OVERLAPPED* overlapped);

bool StartReading(WatchedFolder& folder) {
    folder.overlapped = OVERLAPPED{};
    // With a completion routine the system leaves hEvent to the caller.
    folder.overlapped.hEvent = &folder;
    if (!ReadDirectoryChangesW(folder.handle, folder.buffer.get(), kNotificationBufferSize, FALSE,
                               kChangeFilter, nullptr, &folder.overlapped, OnFolderChanges)) {
        return false;
    }
    folder.reading = true;
    return true;
}

bool KindOfAction(DWORD action, FolderEventKind* kind) {
    switch (action) {
    case FILE_ACTION_ADDED:
    case FILE_ACTION_RENAMED_NEW_NAME:
        *kind = FolderEventKind::Arrived;
        return true;
    case FILE_ACTION_REMOVED:
    case FILE_ACTION_RENAMED_OLD_NAME:
        *kind = FolderEventKind::Left;
        return true;
    case FILE_ACTION_MODIFIED:
        *kind = FolderEventKind::Written;
        return true;
    default:
        return false;
    }
}

void QueueNotifications(WatchedFolder& folder, DWORD bytes) {
    const auto* start = reinterpret_cast<const unsigned char*>(folder.buffer.get());
    for (DWORD offset = 0; offset + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
        const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(start + offset);
        FolderEventKind kind;
        std::string name;
        // Names are UTF-8 inside the service; one that is not valid UTF-16
        // (an unpaired surrogate) has no such form and is left out.
        if (KindOfAction(entry->Action, &kind) &&
            Utf8FromWide(entry->FileName, entry->FileNameLength / sizeof(wchar_t), &name)) {
            folder.pending->push_back({folder.number, kind, std::move(name)});
        }
        if (entry->NextEntryOffset == 0) {
            break;
        }
        offset += entry->NextEntryOffset;
    }
}

void CALLBACK OnFolderChanges(DWORD error, DWORD bytes, OVERLAPPED* overlapped) {
    WatchedFolder& folder = *static_cast<WatchedFolder*>(overlapped->hEvent);
    folder.reading = false;
    if (folder.handle == INVALID_HANDLE_VALUE || error == ERROR_OPERATION_ABORTED) {
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
        if (folder != nullptr && folder->handle != INVALID_HANDLE_VALUE) {
            CancelIo(folder->handle);
            CloseHandle(folder->handle);
            folder->handle = INVALID_HANDLE_VALUE;
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
    if (source_->wakeEvent != nullptr) {
        CloseHandle(source_->wakeEvent);
    }
    if (finishedEvent != nullptr) {
        SetEvent(finishedEvent);
    }
}

bool FolderEvents::Open(std::string* error) {
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    finishedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    source_->wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Ctrl+C is ignored by a program started in a new process group unless
    // it asks for it again.
    if (stopEvent == nullptr || finishedEvent == nullptr || source_->wakeEvent == nullptr ||
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
    // Without delete sharing, the folder can be neither deleted nor moved
    // while it is watched: the notifications would follow a moved folder
    // while the service still wrote to its old path. (A folder that goes
    // all the same, with its network share, ends its notifications.)
    std::wstring system;
    if (!SystemFolderPath(path, &system)) {
        *error = LastSystemErrorText();
        return false;
    }
    watched->handle = CreateFileW(system.c_str(), FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (watched->handle == INVALID_HANDLE_VALUE) {
        *error = LastSystemErrorText();
        return false;
    }
    for (const std::unique_ptr<WatchedFolder>& other : source_->folders) {
        if (other != nullptr && other->handle != INVALID_HANDLE_VALUE &&
            SameFolder(other->handle, watched->handle)) {
            CloseHandle(watched->handle);
            *error = "derselbe Ordner wie ein anderer der Liste";
            return false;
        }
    }
    if (!StartReading(*watched)) {
        *error = LastSystemErrorText();
        CloseHandle(watched->handle);
        return false;
    }
    if (source_->folders.size() <= static_cast<std::size_t>(folder)) {
        source_->folders.resize(static_cast<std::size_t>(folder) + 1);
    }
    source_->folders[static_cast<std::size_t>(folder)] = std::move(watched);
    return true;
}

void FolderEvents::Unwatch(int folder) {
    if (folder < 0 || static_cast<std::size_t>(folder) >= source_->folders.size()) {
        return;
    }
    WatchedFolder* watched = source_->folders[static_cast<std::size_t>(folder)].get();
    if (watched != nullptr && watched->handle != INVALID_HANDLE_VALUE) {
        CancelIo(watched->handle);
        CloseHandle(watched->handle);
        watched->handle = INVALID_HANDLE_VALUE;
    }
}

void FolderEvents::WaitForEvents(int timeoutMs) {
    if (!source_->pending.empty() || stopRequested) {
        return;
    }
    // Alertable: the folders' completion routines run in here.
    const HANDLE ends[2] = {stopEvent, source_->wakeEvent};
    WaitForMultipleObjectsEx(2, ends, FALSE,
                             timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs), TRUE);
}

void FolderEvents::Wake() {
    if (source_->wakeEvent != nullptr) {
        SetEvent(source_->wakeEvent);
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

// What one folder's directory change notifications told, as the watch
// service's events (win32_folder_events.cpp reads them).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "folder_events.h"
#include "win32_handle.h"

// The most a folder on a network share gives in one notification.
inline constexpr DWORD kNotificationBufferSize = 64 * 1024;

struct PendingEvent {
    int folder;
    FolderEventKind kind;
    std::string name;
};

// A folder given to Watch, with its own notifications.
struct WatchedFolder {
    std::vector<PendingEvent>* pending = nullptr;  // where its routine puts what it was told
    int number = -1;
    bool withSubfolders = false;
    std::string path;         // as given to Watch, with its separator
    std::wstring systemPath;  // as the wide functions take it, with its separator
    // The watched subfolders below it, by their path from it ("a\\b"),
    // and their numbers.
    std::unordered_map<std::string, int> subfolders;
    UniqueHandle handle;
    OVERLAPPED overlapped{};
    bool reading = false;  // a notification is outstanding: this must outlive it
    std::unique_ptr<DWORD[]> buffer{new DWORD[kNotificationBufferSize / sizeof(DWORD)]};
};

// Puts what the folder's buffer holds (`bytes` of it) among its pending
// events.
void QueueNotifications(WatchedFolder& folder, DWORD bytes);

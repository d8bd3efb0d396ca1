#include "win32_folder_notifications.h"

#include "win32_names.h"

namespace {

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

// Whether the name below the folder is a real folder now (not a junction
// or link to one).
bool IsRealFolder(const WatchedFolder& folder, const wchar_t* name, std::size_t length) {
    const std::wstring path = folder.systemPath + std::wstring(name, length);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// One notification of a folder with subfolders: the path from the folder
// split into the watched subfolder and the name in it; a subfolder coming
// or going is told as such. Nothing in a subfolder not watched (yet) is
// told: the service looks at all of it once it watches it.
void QueueInTree(WatchedFolder& folder, FolderEventKind kind, const FILE_NOTIFY_INFORMATION& entry,
                 std::string path) {
    const std::size_t split = path.rfind('\\');
    int number = folder.number;
    if (split != std::string::npos) {
        const auto found = folder.subfolders.find(path.substr(0, split));
        if (found == folder.subfolders.end()) {
            return;
        }
        number = found->second;
    }
    const bool known = folder.subfolders.count(path) != 0;
    if (kind == FolderEventKind::Arrived &&
        IsRealFolder(folder, entry.FileName, entry.FileNameLength / sizeof(wchar_t))) {
        kind = FolderEventKind::SubfolderArrived;
    } else if (kind == FolderEventKind::Left && known) {
        kind = FolderEventKind::SubfolderLeft;
    } else if (known) {
        return;  // a subfolder's own last write time
    }
    folder.pending->push_back({number, kind, path.substr(split + 1)});
}

}  // namespace

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
            if (folder.withSubfolders) {
                QueueInTree(folder, kind, *entry, std::move(name));
            } else {
                folder.pending->push_back({folder.number, kind, std::move(name)});
            }
        }
        if (entry->NextEntryOffset == 0) {
            break;
        }
        offset += entry->NextEntryOffset;
    }
}

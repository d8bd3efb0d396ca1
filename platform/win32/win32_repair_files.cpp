#include "win32_repair_files.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "win32_handle.h"

namespace {

constexpr std::uint32_t kMaxPath = MAX_PATH - 1;  // 259 bytes and the zero

HANDLE Handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle ToFileHandle(HANDLE handle) {
    return reinterpret_cast<FileHandle>(handle);
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Names like "NUL" or "COM1.mpg" open devices, not files; the system's full
// path of such a name is "\\.\NUL".
bool IsDeviceName(const char* path) {
    char fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, sizeof fullPath, fullPath, nullptr);
    if (length == 0 || length >= sizeof fullPath) {
        return true;  // not a path we could open safely
    }
    return std::strncmp(fullPath, "\\\\.\\", 4) == 0;
}

// A file written in place must be the name itself: a symbolic link or a
// junction could lead anywhere, outside the recording folder too.
constexpr DWORD kNotWritable = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// Opening only asks for the attributes first, which neither blocks nor is
// blocked, so directories and devices are never opened at all.
bool NamesExistingRegularFile(const char* path, DWORD refused) {
    if (IsDeviceName(path)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & refused) == 0;
}

// What the handle is, now that it is open: the name may have changed between
// the check and the open.
bool IsRegularFile(HANDLE handle, DWORD refused) {
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, &information) &&
           (information.dwFileAttributes & refused) == 0;
}

FileHandle OpenRegularFile(const char* path, DWORD access, DWORD share, DWORD refused,
                           DWORD flags) {
    if (!NamesExistingRegularFile(path, refused)) {
        return kNoFile;
    }
    ScopedHandle handle(CreateFileA(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!handle.IsOpen() || !IsRegularFile(handle.Get(), refused)) {
        return kNoFile;
    }
    return ToFileHandle(handle.Release());
}

}  // namespace

const char* NextAnsiCharacter(const char* c) {
    // A lead byte at the text's end stands alone.
    return IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*c)) && c[1] != '\0' ? c + 2 : c + 1;
}

bool IsPlainWindowsFileName(const char* name) {
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    for (const char* c = name; *c != '\0'; c = NextAnsiCharacter(c)) {
        if (IsSeparator(*c) || *c == ':') {
            return false;
        }
    }
    return true;
}

bool IsAbsoluteWindowsPath(const char* path) {
    const bool driveRoot =
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && IsSeparator(path[2]);
    const bool network = IsSeparator(path[0]) && IsSeparator(path[1]);
    return driveRoot || network;
}

FileHandle Win32RepairFiles::OpenForReading(const char* name) {
    // The template is only read: a link the user made to it is followed.
    // Nobody may write it while it is held.
    const DWORD share = options_.templateReadableByOthers ? FILE_SHARE_READ : 0;
    return OpenRegularFile(name, GENERIC_READ, share, FILE_ATTRIBUTE_DIRECTORY,
                           FILE_ATTRIBUTE_NORMAL);
}

Win32RepairFiles::~Win32RepairFiles() {
    for (const HeldFolder& folder : folders_) {
        CloseHandle(Handle(folder.handle));
    }
}

FolderHandle Win32RepairFiles::HoldFolder(const char* directory) {
    // Only an absolute folder: nothing is resolved against the current
    // directory. Without delete sharing nobody can rename or delete it while
    // it is held (a junction in its place needs no privilege on Windows).
    if (!IsAbsoluteWindowsPath(directory)) {
        return kNoFolder;
    }
    const HANDLE handle = CreateFileA(directory, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return kNoFolder;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(handle);
        return kNoFolder;
    }
    const FolderHandle folder = ToFileHandle(handle);
    folders_.push_back(
        {folder, directory, information.dwVolumeSerialNumber,
         (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow});
    return folder;
}

void Win32RepairFiles::ReleaseFolder(FolderHandle folder) {
    for (auto it = folders_.begin(); it != folders_.end(); ++it) {
        if (it->handle == folder) {
            CloseHandle(Handle(folder));
            folders_.erase(it);
            return;
        }
    }
}

const Win32RepairFiles::HeldFolder* Win32RepairFiles::FindFolder(FolderHandle folder) const {
    for (const HeldFolder& held : folders_) {
        if (held.handle == folder) {
            return &held;
        }
    }
    return nullptr;
}

namespace {

// Whether the folder's path still names the held folder (where the system
// lets a folder above it be renamed, its path may lead elsewhere now).
bool PathLeadsTo(const char* path, std::uint32_t volume, std::uint64_t index) {
    const HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool same =
        GetFileInformationByHandle(handle, &information) &&
        information.dwVolumeSerialNumber == volume &&
        ((std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow) == index;
    CloseHandle(handle);
    return same;
}

}  // namespace

bool Win32RepairFiles::NameLeadsToHeldFolder(FolderHandle folder) const {
    const HeldFolder* held = FindFolder(folder);
    return held != nullptr && PathLeadsTo(held->path.c_str(), held->volume, held->index);
}

FileHandle Win32RepairFiles::OpenForWriting(FolderHandle folder, const char* name,
                                            const char* /*baseName*/, OpenFailure* failure) {
    *failure = OpenFailure::Unavailable;
    // Only a plain name inside the held folder: nothing is resolved against
    // the current directory or outside the base directory.
    const HeldFolder* held = FindFolder(folder);
    if (held == nullptr || !IsPlainWindowsFileName(name)) {
        return kNoFile;
    }
    if (!PathLeadsTo(held->path.c_str(), held->volume, held->index)) {
        *failure = OpenFailure::FolderGone;
        return kNoFile;
    }
    char path[MAX_PATH];
    const int length = std::snprintf(path, sizeof path, "%s%s", held->path.c_str(), name);
    if (length < 0 || static_cast<std::uint32_t>(length) > kMaxPath) {
        return kNoFile;
    }
    // A link put in place after the check is opened itself, not followed,
    // and then refused.
    const FileHandle file = OpenRegularFile(path, GENERIC_WRITE, 0, kNotWritable,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (file != kNoFile) {
        *failure = OpenFailure::None;
    }
    return file;
}

std::uint32_t Win32RepairFiles::FileLength(FileHandle file) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(Handle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return 0xFFFFFFFF;
    }
    // A size of 4 GiB or more is not told by its low part.
    return high == 0 ? low : 0xFFFFFFFF;
}

bool Win32RepairFiles::ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                                 std::uint32_t* bytesRead) {
    DWORD done = 0;
    const bool ok = ReadFile(Handle(file), buffer, count, &done, nullptr) != FALSE;
    *bytesRead = done;
    return ok;
}

bool Win32RepairFiles::WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                                  std::uint32_t* bytesWritten) {
    DWORD done = 0;
    const bool ok = WriteFile(Handle(file), bytes, count, &done, nullptr) != FALSE;
    *bytesWritten = done;
    return ok;
}

bool Win32RepairFiles::FlushFile(FileHandle file) {
    // Needs the write access the repair's handle has.
    return FlushFileBuffers(Handle(file)) != FALSE;
}

void Win32RepairFiles::CloseFile(FileHandle file) {
    CloseHandle(Handle(file));
}

std::uint32_t Win32RepairFiles::MaxPathLength() const {
    return kMaxPath;
}

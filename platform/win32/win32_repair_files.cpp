#include "win32_repair_files.h"

#include <windows.h>

#include <cstring>
#include <utility>

#include "win32_file_checks.h"
#include "win32_handle.h"
#include "win32_names.h"

namespace {

constexpr std::uint32_t kMaxPath = MAX_PATH - 1;  // 259 and the zero
// The wide functions' limit, less the "\\?\UNC\" in front of a long path.
constexpr std::uint32_t kMaxLongPath = 32767 - 8;

HANDLE Handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle ToFileHandle(HANDLE handle) {
    return reinterpret_cast<FileHandle>(handle);
}

// A call's outcome, with GetLastError() as its reason when it failed.
FileResult ResultOf(BOOL succeeded) {
    return succeeded ? FileResult{} : FileResult{false, GetLastError()};
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// A file written in place must be the name itself: a symbolic link or a
// junction could lead anywhere, outside the recording folder too.
constexpr DWORD kNotWritable = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// Opening only asks for the attributes first, which neither blocks nor is
// blocked, so directories are never opened at all.
bool NamesExistingRegularFile(const std::wstring& path, DWORD refused) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & refused) == 0;
}

FileHandle OpenRegularFile(const std::wstring& path, DWORD access, DWORD share, DWORD refused,
                           DWORD flags) {
    if (!NamesExistingRegularFile(path, refused)) {
        return kNoFile;
    }
    UniqueHandle handle(
        CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    // What the handle is, now that it is open: the name may have changed
    // between the check and the open.
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.valid() || !IsRegularHandle(handle.get(), refused, &information)) {
        return kNoFile;
    }
    return ToFileHandle(handle.release());
}

// The character after the one at `c` in text of `codePage`. In UTF-8 every
// byte of a longer character is 0x80 or above, so ASCII is found bytewise.
const char* NextCharacter(unsigned codePage, const char* c) {
    if (codePage == kUtf8CodePage) {
        return c + 1;
    }
    // A lead byte at the text's end stands alone.
    return IsDBCSLeadByteEx(codePage, static_cast<BYTE>(*c)) && c[1] != '\0' ? c + 2 : c + 1;
}

}  // namespace

const char* NextAnsiCharacter(const char* c) {
    return NextCharacter(kAnsiCodePage, c);
}

bool IsPlainWindowsFileName(const char* name, unsigned codePage) {
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    for (const char* c = name; *c != '\0'; c = NextCharacter(codePage, c)) {
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

// `path` as the wide functions take it: converted exactly, absolute, no
// device, within the length this layer opens.
bool Win32RepairFiles::SystemPath(const char* path, std::wstring* system) const {
    return ::SystemPath(options_.codePage, path, options_.longPaths, system) == PathKind::File &&
           (options_.longPaths || system->size() <= kMaxPath);
}

FileHandle Win32RepairFiles::OpenForReading(const char* name) {
    // The template is only read: a link the user made to it is followed.
    // Nobody may write it while it is held.
    const DWORD share = options_.templateReadableByOthers ? FILE_SHARE_READ : 0;
    std::wstring path;
    if (!SystemPath(name, &path)) {
        return kNoFile;
    }
    return OpenRegularFile(path, GENERIC_READ, share, FILE_ATTRIBUTE_DIRECTORY,
                           FILE_ATTRIBUTE_NORMAL);
}

FolderHandle Win32RepairFiles::HoldFolder(const char* directory) {
    // Only an absolute folder: nothing is resolved against the current
    // directory. Without delete sharing nobody can rename or delete it while
    // it is held (a junction in its place needs no privilege on Windows).
    std::wstring path;
    if (!IsAbsoluteWindowsPath(directory) || !SystemPath(directory, &path)) {
        return kNoFolder;
    }
    UniqueHandle handle(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return kNoFolder;
    }
    const FolderHandle folder = ToFileHandle(handle.get());
    folders_.push_back(
        {std::move(handle), path, information.dwVolumeSerialNumber, FileIndexOf(information)});
    return folder;
}

FolderHandle Win32RepairFiles::HoldSubfolder(FolderHandle parent, const char* name,
                                             bool* outOfDescriptors) {
    *outOfDescriptors = false;
    const HeldFolder* above = FindFolder(parent);
    std::wstring wideName;
    if (above == nullptr || !IsPlainWindowsFileName(name, options_.codePage) ||
        !WideFromText(options_.codePage, name, &wideName)) {
        return kNoFolder;
    }
    // With its separator, as a held folder's path is joined to names.
    std::wstring path = above->path + wideName + L'\\';
    // The name itself: a junction or link in its place is opened as what it
    // is, and refused.
    UniqueHandle handle(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (!handle.valid() && (GetLastError() == ERROR_TOO_MANY_OPEN_FILES ||
                            GetLastError() == ERROR_NO_SYSTEM_RESOURCES)) {
        *outOfDescriptors = true;
        return kNoFolder;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return kNoFolder;
    }
    const FolderHandle folder = ToFileHandle(handle.get());
    folders_.push_back(
        {std::move(handle), path, information.dwVolumeSerialNumber, FileIndexOf(information)});
    return folder;
}

void Win32RepairFiles::ReleaseFolder(FolderHandle folder) {
    // The entry owns the handle: erasing it closes the folder.
    std::erase_if(folders_,
                  [&](const HeldFolder& held) { return held.handle.get() == Handle(folder); });
}

const Win32RepairFiles::HeldFolder* Win32RepairFiles::FindFolder(FolderHandle folder) const {
    for (const HeldFolder& held : folders_) {
        if (held.handle.get() == Handle(folder)) {
            return &held;
        }
    }
    return nullptr;
}

namespace {

// Whether the folder's path still names the held folder (where the system
// lets a folder above it be renamed, its path may lead elsewhere now).
bool PathLeadsTo(const std::wstring& path, std::uint32_t volume, std::uint64_t index) {
    const UniqueHandle handle(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    return handle.valid() && GetFileInformationByHandle(handle.get(), &information) &&
           information.dwVolumeSerialNumber == volume && FileIndexOf(information) == index;
}

}  // namespace

bool Win32RepairFiles::NameLeadsToHeldFolder(FolderHandle folder) const {
    const HeldFolder* held = FindFolder(folder);
    return held != nullptr && PathLeadsTo(held->path, held->volume, held->index);
}

FileHandle Win32RepairFiles::OpenForWriting(FolderHandle folder, const char* name,
                                            const char* /*baseName*/, OpenFailure* failure) {
    *failure = OpenFailure::Unavailable;
    // Only a plain name inside the held folder: nothing is resolved against
    // the current directory or outside the base directory.
    const HeldFolder* held = FindFolder(folder);
    std::wstring wideName;
    if (held == nullptr || !IsPlainWindowsFileName(name, options_.codePage) ||
        !WideFromText(options_.codePage, name, &wideName)) {
        return kNoFile;
    }
    if (!PathLeadsTo(held->path, held->volume, held->index)) {
        *failure = OpenFailure::FolderGone;
        return kNoFile;
    }
    // A long path takes the name as it is; a short one is still parsed, and
    // "NUL" in it would be the device.
    const std::wstring path = held->path + wideName;
    if (!options_.longPaths && (path.size() > kMaxPath || IsDeviceName(path))) {
        return kNoFile;
    }
    // A link put in place after the check is opened itself, not followed,
    // and then refused.
    const DWORD access = GENERIC_WRITE | (options_.headReadWhileHeld ? GENERIC_READ : 0);
    const FileHandle file = OpenRegularFile(path, access, 0, kNotWritable,
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
        return kUnknownLength;
    }
    // A size of 4 GiB or more is not told by its low part.
    return high == 0 ? low : kUnknownLength;
}

FileResult Win32RepairFiles::ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                                       std::uint32_t* bytesRead) {
    DWORD done = 0;
    const FileResult result = ResultOf(ReadFile(Handle(file), buffer, count, &done, nullptr));
    *bytesRead = done;
    return result;
}

FileResult Win32RepairFiles::WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                                        std::uint32_t* bytesWritten) {
    DWORD done = 0;
    const FileResult result = ResultOf(WriteFile(Handle(file), bytes, count, &done, nullptr));
    *bytesWritten = done;
    return result;
}

FileResult Win32RepairFiles::Rewind(FileHandle file) {
    return ResultOf(SetFilePointerEx(Handle(file), LARGE_INTEGER{}, nullptr, FILE_BEGIN));
}

FileResult Win32RepairFiles::FlushFile(FileHandle file) {
    // Needs the write access the repair's handle has.
    return ResultOf(FlushFileBuffers(Handle(file)));
}

void Win32RepairFiles::CloseFile(FileHandle file) {
    UniqueHandle(Handle(file)).reset();  // the handle OpenForReading or OpenForWriting gave
}

std::uint32_t Win32RepairFiles::MaxPathLength() const {
    return options_.longPaths ? kMaxLongPath : kMaxPath;
}

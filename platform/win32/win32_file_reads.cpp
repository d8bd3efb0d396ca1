// Reads share everything, so a recorder that is still writing is never
// disturbed; only the repair itself (Win32RepairFiles) opens exclusively.
// Names and paths are UTF-8, opened through the wide-character functions
// in the \\?\ form, so every name Windows allows and every path length
// up to its limit can be named.
#include <windows.h>

#include "file_reads.h"
#include "win32_file_checks.h"
#include "win32_handle.h"
#include "win32_names.h"

namespace {

// Reads the start of the regular file at `system` (a path as the wide
// functions take it) without any exclusivity.
ReadHeadResult ReadStartOf(const std::wstring& system, bool followLinks, unsigned char* buffer,
                           std::size_t size, std::size_t* count) {
    // Looked at before it is opened: a folder is never opened, nor, unless
    // asked, a symbolic link or junction.
    const DWORD refused =
        FILE_ATTRIBUTE_DIRECTORY | (followLinks ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
    const DWORD attributes = GetFileAttributesW(system.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return IsMissingError(GetLastError()) ? ReadHeadResult::Missing : ReadHeadResult::Failed;
    }
    if ((attributes & refused) != 0) {
        return ReadHeadResult::NotAFile;
    }
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const UniqueHandle file(CreateFileW(system.c_str(), GENERIC_READ, kShareAll, nullptr,
                                        OPEN_EXISTING, flags, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            return ReadHeadResult::Busy;  // a recorder holding it with share mode 0
        }
        return IsMissingError(error) ? ReadHeadResult::Missing : ReadHeadResult::Failed;
    }
    // The name may have changed between the look and the open.
    BY_HANDLE_FILE_INFORMATION information{};
    if (!IsRegularHandle(file.get(), refused, &information)) {
        return ReadHeadResult::NotAFile;
    }
    while (*count < size) {
        const std::size_t left = size - *count;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer + *count, chunk, &got, nullptr)) {
            return ReadHeadResult::Failed;
        }
        if (got == 0) {
            break;
        }
        *count += got;
    }
    return ReadHeadResult::Read;
}

}  // namespace

ReadHeadResult ReadRegularFileStart(const char* path, bool followLinks, unsigned char* buffer,
                                    std::size_t size, std::size_t* count) {
    *count = 0;
    std::wstring system;
    switch (Utf8SystemPath(path, &system)) {
    case PathKind::File:
        break;
    case PathKind::Device:
        return ReadHeadResult::NotAFile;
    case PathKind::Unusable:
        SetLastError(ERROR_INVALID_NAME);
        return ReadHeadResult::Failed;
    }
    return ReadStartOf(system, followLinks, buffer, size, count);
}

namespace {

// The file `name` in the folder at `folderPath` (absolute, with its
// separator), named exactly: the name is joined as it is, never parsed.
bool SystemPathIn(const std::string& folderPath, const char* name, std::wstring* system) {
    std::wstring wideName;
    if (Utf8SystemPath(folderPath.c_str(), system) != PathKind::File ||
        !WideFromText(CP_UTF8, name, &wideName) || wideName.empty()) {
        return false;
    }
    *system += wideName;
    return true;
}

bool StampOf(const std::wstring& system, FileStamp* stamp) {
    const UniqueHandle file(CreateFileW(system.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &information)) {
        return false;
    }
    stamp->volume = information.dwVolumeSerialNumber;
    stamp->file = FileIndexOf(information);
    stamp->size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    stamp->written = static_cast<std::int64_t>(
        (std::uint64_t{information.ftLastWriteTime.dwHighDateTime} << 32) |
        information.ftLastWriteTime.dwLowDateTime);
    stamp->regular = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return true;
}

}  // namespace

bool StampFile(const char* path, FileStamp* stamp) {
    std::wstring system;
    return Utf8SystemPath(path, &system) == PathKind::File && StampOf(system, stamp);
}

// The held folder cannot be renamed or deleted (it is held without delete
// sharing), so its path keeps naming it.
bool StampFileIn(std::intptr_t /*folder*/, const std::string& folderPath, const char* name,
                 FileStamp* stamp) {
    std::wstring system;
    return SystemPathIn(folderPath, name, &system) && StampOf(system, stamp);
}

ReadHeadResult ReadFileStartIn(std::intptr_t /*folder*/, const std::string& folderPath,
                               const char* name, LinkRule rule, unsigned char* buffer,
                               std::size_t size, std::size_t* count) {
    *count = 0;
    std::wstring system;
    if (!SystemPathIn(folderPath, name, &system)) {
        SetLastError(ERROR_INVALID_NAME);
        return ReadHeadResult::Failed;
    }
    return ReadStartOf(system, rule == LinkRule::FollowTrusted, buffer, size, count);
}

AttributesLook LookAtFileIn(const std::string& folderPath, const char* name, std::uint64_t* size) {
    std::wstring system;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!SystemPathIn(folderPath, name, &system)) {
        return AttributesLook::Failed;
    }
    if (!GetFileAttributesExW(system.c_str(), GetFileExInfoStandard, &data)) {
        return IsMissingError(GetLastError()) ? AttributesLook::Missing : AttributesLook::Failed;
    }
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return AttributesLook::NotAFile;
    }
    *size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? AttributesLook::ReadOnly
                                                                  : AttributesLook::Regular;
}

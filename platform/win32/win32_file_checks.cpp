#include "win32_file_checks.h"

#include "win32_names.h"

PathKind Utf8SystemPath(const char* path, std::wstring* system) {
    return SystemPath(CP_UTF8, path, true, system);
}

bool IsDeviceName(const std::wstring& path) {
    std::wstring full;
    return FullWidePath(path, &full) && IsDevicePath(full);
}

bool IsRegularHandle(HANDLE handle, DWORD refused, BY_HANDLE_FILE_INFORMATION* information) {
    return GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, information) &&
           (information->dwFileAttributes & refused) == 0;
}

std::uint64_t FileIndexOf(const BY_HANDLE_FILE_INFORMATION& information) {
    return (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
}

bool IsMissingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool WriteAll(HANDLE file, const void* bytes, std::size_t size) {
    constexpr std::size_t kLargestWrite = 0x10000000;
    const auto* next = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size > kLargestWrite ? kLargestWrite : size);
        DWORD written = 0;
        if (!WriteFile(file, next, chunk, &written, nullptr)) {
            return false;
        }
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        next += written;
        size -= written;
    }
    return true;
}

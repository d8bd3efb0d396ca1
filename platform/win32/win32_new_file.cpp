// Names and paths are UTF-8, opened through the wide-character functions
// in the \\?\ form, so every name Windows allows and every path length
// up to its limit can be named.
#include <windows.h>

#include "new_file.h"
#include "system_text.h"
#include "win32_file_checks.h"
#include "win32_handle.h"
#include "win32_names.h"

namespace {

// A UTF-8 path that names a device (see IsDeviceName).
bool IsDeviceName(const char* path) {
    std::wstring wide;
    return WideFromText(CP_UTF8, path, &wide) && ::IsDeviceName(wide);
}

}  // namespace

namespace {

// What is at `path` when something other than a regular file is: a device
// name (NUL, CON, COM1, \\.\pipe\...), a symbolic link or junction (any
// reparse point), a folder. False when nothing or a regular file is there,
// or it cannot be looked at (the create or the move then tells why).
bool IsNotAFile(const char* path, NotAFileKind* kind) {
    std::wstring system;
    switch (Utf8SystemPath(path, &system)) {
    case PathKind::File:
        break;
    case PathKind::Device:
        *kind = NotAFileKind::Device;
        return true;
    case PathKind::Unusable:
        return false;
    }
    const DWORD attributes = GetFileAttributesW(system.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *kind = NotAFileKind::Link;
        return true;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *kind = NotAFileKind::Folder;
        return true;
    }
    return false;
}

// Creates the file to be moved over `target`, under a name that nothing has
// yet: a leftover of an interrupted run never blocks, and CREATE_NEW never
// opens what is there, a link least of all.
UniqueHandle CreateBeside(const std::wstring& target, std::wstring* written) {
    constexpr int kAttempts = 1000;
    for (int attempt = 0;; ++attempt) {
        *written = target + L".velmora-new";
        if (attempt > 0) {
            *written +=
                L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
        }
        UniqueHandle file(CreateFileW(written->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD reason = GetLastError();
        const bool taken = reason == ERROR_FILE_EXISTS || reason == ERROR_ALREADY_EXISTS;
        if (file.valid() || !taken || attempt + 1 == kAttempts) {
            return file;
        }
    }
}

// Whether another program holds the file so that it cannot be replaced (a
// running watch holds its template so): the system's "access denied" would
// send the user looking at permissions instead.
bool IsInUse(const std::wstring& system) {
    const DWORD reason = GetLastError();
    if (reason != ERROR_ACCESS_DENIED && reason != ERROR_SHARING_VIOLATION) {
        return false;
    }
    const UniqueHandle probe(CreateFileW(system.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const bool inUse = !probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
    SetLastError(reason);
    return inUse;
}

constexpr char kInUse[] = "sie wird gerade von einem anderen Programm benutzt";

}  // namespace

CreateFileResult CreateNewFile(const char* path, const unsigned char* bytes, std::size_t size,
                               bool replace, NotAFileKind* kind, std::string* error) {
    // Replacing writes a new file beside the old one and moves it over, so
    // a failure leaves the old file as it was. Only a regular file is
    // replaced: a device name, a folder or a link keeps its name. A device
    // is not opened even to be refused: opening one can already change it.
    if ((replace || IsDeviceName(path)) && IsNotAFile(path, kind)) {
        return CreateFileResult::NotAFile;
    }
    std::wstring target;
    if (Utf8SystemPath(path, &target) != PathKind::File) {
        SetLastError(ERROR_INVALID_NAME);
        *error = LastSystemErrorText();
        return CreateFileResult::Failed;
    }
    std::wstring written = target;
    UniqueHandle file = replace
                            ? CreateBeside(target, &written)
                            : UniqueHandle(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr,
                                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD reason = GetLastError();
        if (!replace && (reason == ERROR_FILE_EXISTS || reason == ERROR_ALREADY_EXISTS)) {
            return IsNotAFile(path, kind) ? CreateFileResult::NotAFile : CreateFileResult::Exists;
        }
        *error = LastSystemErrorText();
        return CreateFileResult::Failed;
    }
    const bool complete = WriteAll(file.get(), bytes, size) && FlushFileBuffers(file.get());
    const std::string reason = complete ? std::string() : LastSystemErrorText();
    const bool closed = file.close();
    if (!complete || !closed) {
        *error = complete ? LastSystemErrorText() : reason;
        DeleteFileW(written.c_str());
        return CreateFileResult::Failed;
    }
    if (replace && !MoveFileExW(written.c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = IsInUse(target) ? kInUse : LastSystemErrorText();
        DeleteFileW(written.c_str());
        return CreateFileResult::Failed;
    }
    return CreateFileResult::Created;
}

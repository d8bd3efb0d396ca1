// The command-line program's plain reads, new files and paths on Windows.
// Reads share everything, so a recorder that is still writing is never
// disturbed; only the repair itself (Win32RepairFiles) opens exclusively.
// Names and paths are UTF-8, opened through the wide-character functions
// in the \\?\ form, so every name Windows allows and every path length
// up to its limit can be named.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "byte_text.h"
#include "cli_files.h"
#include "win32_handle.h"
#include "win32_names.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A UTF-8 path the user or the program gave, as the wide functions take it.
PathKind SystemPath(const char* path, std::wstring* system) {
    return ::SystemPath(CP_UTF8, path, true, system);
}

bool IsDeviceName(const char* path) {
    std::wstring system;
    return SystemPath(path, &system) == PathKind::Device;
}

bool IsMissingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The handle is a file on a disk without any of the `refused` attributes.
bool IsRegularHandle(HANDLE handle, DWORD refused, BY_HANDLE_FILE_INFORMATION* information) {
    return GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, information) &&
           (information->dwFileAttributes & refused) == 0;
}

// Opens only to ask what the file is: no data access, so a file another
// program holds with share mode 0 is still looked at. Links are followed.
UniqueHandle OpenToQuery(const char* path) {
    std::wstring system;
    if (SystemPath(path, &system) != PathKind::File) {
        return UniqueHandle();
    }
    return UniqueHandle(CreateFileW(system.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

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
    switch (SystemPath(path, &system)) {
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

bool WriteAll(HANDLE file, const unsigned char* bytes, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

}  // namespace

namespace {

// What is at `path` when something other than a regular file is: a device
// name (NUL, CON, COM1, \\.\pipe\...), a symbolic link or junction (any
// reparse point), a folder. False when nothing or a regular file is there,
// or it cannot be looked at (the create or the move then tells why).
bool IsNotAFile(const char* path, NotAFileKind* kind) {
    std::wstring system;
    switch (SystemPath(path, &system)) {
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
    if (SystemPath(path, &target) != PathKind::File) {
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

bool AbsolutePath(const char* path, std::string* absolute) {
    std::wstring wide;
    std::wstring full;
    if (!WideFromText(CP_UTF8, path, &wide) || !FullWidePath(wide, &full)) {
        return false;
    }
    // A short 8.3 name ("FILMAU~1.MPG") is taken as the file it names: a
    // series' names are made from its long name. Nothing there: as it is.
    // (Only a path over MAX_PATH needs the long form; Wine expands none in
    // that form.)
    const std::wstring system = full.size() < MAX_PATH ? full : LongPathForm(full);
    const DWORD needed = GetLongPathNameW(system.c_str(), nullptr, 0);
    std::wstring expanded(needed, L'\0');
    const DWORD length = needed > 0 ? GetLongPathNameW(system.c_str(), expanded.data(), needed) : 0;
    if (length > 0 && length < needed) {
        expanded.resize(length);
        full = WithoutLongPathPrefix(expanded);
    }
    return Utf8FromWide(full.data(), full.size(), absolute);
}

void SplitPath(const std::string& path, std::string* directory, std::string* name) {
    const std::size_t separator = path.find_last_of("\\/");
    *directory = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
    *name = separator == std::string::npos ? path : path.substr(separator + 1);
}

bool IsRegularFile(const char* path) {
    const UniqueHandle file = OpenToQuery(path);
    BY_HANDLE_FILE_INFORMATION information{};
    return file.valid() && IsRegularHandle(file.get(), FILE_ATTRIBUTE_DIRECTORY, &information);
}

bool AreSameFile(const char* first, const char* second) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    const UniqueHandle one = OpenToQuery(first);
    const UniqueHandle other = OpenToQuery(second);
    return one.valid() && other.valid() && GetFileInformationByHandle(one.get(), &a) &&
           GetFileInformationByHandle(other.get(), &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::string LastSystemErrorText() {
    return SystemErrorText(GetLastError());
}

// As UTF-8 and without its line end.
std::string SystemErrorText(std::uint32_t error) {
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, 512, nullptr);
    std::string message;
    Utf8FromWide(text, length, &message);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "Fehler " + std::to_string(error) : message;
}

std::string NameAsText(const std::string& name) {
    // Names are UTF-8 as Windows holds them (UTF-16, converted exactly).
    // Windows keeps control characters out of file names, but not out of
    // the paths and arguments that are printed as names.
    return Utf8WithControlsEscaped(name);
}

void WriteText(std::FILE* stream, const std::string& text) {
    const std::wstring wide = WideForOutput(text);
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        // Straight to the console as characters, after what the C library
        // still holds, whatever the console's code page.
        std::fflush(stream);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const std::string bytes = InConsoleCodePage(wide);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

namespace {

// The file `name` in the folder at `folderPath` (absolute, with its
// separator), named exactly: the name is joined as it is, never parsed.
bool SystemPathIn(const std::string& folderPath, const char* name, std::wstring* system) {
    std::wstring wideName;
    if (SystemPath(folderPath.c_str(), system) != PathKind::File ||
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
    stamp->file = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
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
    return SystemPath(path, &system) == PathKind::File && StampOf(system, stamp);
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

bool FlushesEachRepair() {
    return true;
}

bool BeginRepairSync(const char* /*folder*/, RepairSync* /*sync*/, std::string* /*error*/) {
    return true;  // each repaired file is flushed before its line
}

bool FinishRepairSync(RepairSync* /*sync*/, std::string* /*error*/) {
    return true;
}

bool MayStandInFileName(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            return false;
        }
    }
    return true;
}

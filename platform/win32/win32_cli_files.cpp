// The command-line program's plain reads, new files and paths on Windows.
// Reads share everything, so a recorder that is still writing is never
// disturbed; only the repair itself (Win32RepairFiles) opens exclusively.
#include <io.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "byte_text.h"
#include "cli_files.h"
#include "win32_handle.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Names like "NUL" or "COM1.mpg" mean devices; their full path is "\\.\NUL".
// They are never opened: opening a device can already change it.
bool IsDeviceName(const char* path) {
    char fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, sizeof fullPath, fullPath, nullptr);
    return length != 0 && length < sizeof fullPath && std::strncmp(fullPath, "\\\\.\\", 4) == 0;
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
HANDLE OpenToQuery(const char* path) {
    if (IsDeviceName(path)) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ReadHeadResult ReadRegularFileStart(const char* path, bool followLinks, unsigned char* buffer,
                                    std::size_t size, std::size_t* count) {
    *count = 0;
    // Looked at before it is opened: a folder or a device is never opened,
    // nor, unless asked, a symbolic link or junction.
    const DWORD refused =
        FILE_ATTRIBUTE_DIRECTORY | (followLinks ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return IsMissingError(GetLastError()) ? ReadHeadResult::Missing : ReadHeadResult::Failed;
    }
    if ((attributes & refused) != 0 || IsDeviceName(path)) {
        return ReadHeadResult::NotAFile;
    }
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE file =
        CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            return ReadHeadResult::Busy;  // a recorder holding it with share mode 0
        }
        return IsMissingError(error) ? ReadHeadResult::Missing : ReadHeadResult::Failed;
    }
    // The name may have changed between the look and the open.
    BY_HANDLE_FILE_INFORMATION information{};
    if (!IsRegularHandle(file, refused, &information)) {
        CloseHandle(file);
        return ReadHeadResult::NotAFile;
    }
    while (*count < size) {
        const std::size_t left = size - *count;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(file, buffer + *count, chunk, &got, nullptr)) {
            CloseHandle(file);
            return ReadHeadResult::Failed;
        }
        if (got == 0) {
            break;
        }
        *count += got;
    }
    CloseHandle(file);
    return ReadHeadResult::Read;
}

namespace {

std::string Utf8FromWide(const wchar_t* text, int length) {
    if (length <= 0) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

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
    if (IsDeviceName(path)) {
        *kind = NotAFileKind::Device;
        return true;
    }
    const DWORD attributes = GetFileAttributesA(path);
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
HANDLE CreateBeside(const std::string& target, std::string* written) {
    constexpr int kAttempts = 1000;
    for (int attempt = 0;; ++attempt) {
        *written = target + ".velmora-new";
        if (attempt > 0) {
            *written += "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        }
        const HANDLE file = CreateFileA(written->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD reason = GetLastError();
        const bool taken = reason == ERROR_FILE_EXISTS || reason == ERROR_ALREADY_EXISTS;
        if (file != INVALID_HANDLE_VALUE || !taken || attempt + 1 == kAttempts) {
            return file;
        }
    }
}

// Whether another program holds the file so that it cannot be replaced (a
// running watch holds its template so): the system's "access denied" would
// send the user looking at permissions instead.
bool IsInUse(const char* path) {
    const DWORD reason = GetLastError();
    if (reason != ERROR_ACCESS_DENIED && reason != ERROR_SHARING_VIOLATION) {
        return false;
    }
    const ScopedHandle probe(CreateFileA(path, DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const bool inUse = !probe.IsOpen() && GetLastError() == ERROR_SHARING_VIOLATION;
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
    const std::string target = path;
    if ((replace || IsDeviceName(path)) && IsNotAFile(path, kind)) {
        return CreateFileResult::NotAFile;
    }
    std::string written = target;
    const HANDLE file = replace ? CreateBeside(target, &written)
                                : CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD reason = GetLastError();
        if (!replace && (reason == ERROR_FILE_EXISTS || reason == ERROR_ALREADY_EXISTS)) {
            return IsNotAFile(path, kind) ? CreateFileResult::NotAFile : CreateFileResult::Exists;
        }
        *error = LastSystemErrorText();
        return CreateFileResult::Failed;
    }
    const bool complete = WriteAll(file, bytes, size) && FlushFileBuffers(file);
    const std::string reason = complete ? std::string() : LastSystemErrorText();
    const bool closed = CloseHandle(file) != FALSE;
    if (!complete || !closed) {
        *error = complete ? LastSystemErrorText() : reason;
        DeleteFileA(written.c_str());
        return CreateFileResult::Failed;
    }
    if (replace && !MoveFileExA(written.c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = IsInUse(path) ? kInUse : LastSystemErrorText();
        DeleteFileA(written.c_str());
        return CreateFileResult::Failed;
    }
    return CreateFileResult::Created;
}

bool AbsolutePath(const char* path, std::string* absolute) {
    // The first call tells the length needed, zero included.
    const DWORD needed = GetFullPathNameA(path, 0, nullptr, nullptr);
    if (needed == 0) {
        return false;
    }
    std::string full(needed, '\0');
    const DWORD length = GetFullPathNameA(path, needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return false;
    }
    full.resize(length);
    *absolute = full;
    return true;
}

void SplitPath(const std::string& path, std::string* directory, std::string* name) {
    const std::size_t separator = path.find_last_of("\\/");
    *directory = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
    *name = separator == std::string::npos ? path : path.substr(separator + 1);
}

bool IsRegularFile(const char* path) {
    const HANDLE file = OpenToQuery(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool regular = IsRegularHandle(file, FILE_ATTRIBUTE_DIRECTORY, &information);
    CloseHandle(file);
    return regular;
}

bool AreSameFile(const char* first, const char* second) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    const HANDLE one = OpenToQuery(first);
    if (one == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = GetFileInformationByHandle(one, &a);
    CloseHandle(one);
    const HANDLE other = OpenToQuery(second);
    if (!known || other == INVALID_HANDLE_VALUE) {
        if (other != INVALID_HANDLE_VALUE) {
            CloseHandle(other);
        }
        return false;
    }
    const bool same = GetFileInformationByHandle(other, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

// The system's words for the last error, as UTF-8 and without its line end.
std::string LastSystemErrorText() {
    const DWORD error = GetLastError();
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, 512, nullptr);
    std::string message = Utf8FromWide(text, static_cast<int>(length));
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "Fehler " + std::to_string(error) : message;
}

namespace {

std::wstring WideFrom(UINT codePage, const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), size);
    return wide;
}

}  // namespace

std::string NameAsText(const std::string& name) {
    const std::wstring wide = WideFrom(CP_ACP, name);
    const std::string text = Utf8FromWide(wide.data(), static_cast<int>(wide.size()));
    // Windows keeps control characters out of file names, but not out of
    // the paths and arguments that are printed as names.
    std::string shown;
    for (const char c : text) {
        char escaped[5];
        if (EscapeControlByte(static_cast<unsigned char>(c), escaped)) {
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

void WriteText(std::FILE* stream, const std::string& text) {
    const std::wstring wide = WideFrom(CP_UTF8, text);
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
    const UINT consolePage = GetConsoleOutputCP();
    const UINT codePage = consolePage != 0 ? consolePage : CP_ACP;
    const int length = static_cast<int>(wide.size());
    const int size =
        WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), length, bytes.data(), size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

bool StampFile(const char* path, FileStamp* stamp) {
    const HANDLE file = OpenToQuery(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(file, &information) != FALSE;
    CloseHandle(file);
    if (!known) {
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

// The held folder cannot be renamed or deleted (it is held without delete
// sharing), so its path keeps naming it.
bool StampFileIn(std::intptr_t /*folder*/, const std::string& folderPath, const char* name,
                 FileStamp* stamp) {
    return StampFile((folderPath + name).c_str(), stamp);
}

ReadHeadResult ReadFileStartIn(std::intptr_t /*folder*/, const std::string& folderPath,
                               const char* name, LinkRule rule, unsigned char* buffer,
                               std::size_t size, std::size_t* count) {
    return ReadRegularFileStart((folderPath + name).c_str(), rule == LinkRule::FollowTrusted,
                                buffer, size, count);
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

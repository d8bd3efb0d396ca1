// Names and paths are UTF-8, opened through the wide-character functions
// in the \\?\ form, so every name Windows allows and every path length
// up to its limit can be named.
#include <windows.h>

#include <cstring>

#include "paths.h"
#include "win32_file_checks.h"
#include "win32_handle.h"
#include "win32_names.h"

namespace {

// Opens only to ask what the file is: no data access, so a file another
// program holds with share mode 0 is still looked at. Links are followed.
UniqueHandle OpenToQuery(const char* path) {
    std::wstring system;
    if (Utf8SystemPath(path, &system) != PathKind::File) {
        return UniqueHandle();
    }
    return UniqueHandle(CreateFileW(system.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

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
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && FileIndexOf(a) == FileIndexOf(b);
}

bool MayStandInFileName(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            return false;
        }
    }
    return true;
}

std::size_t RoomForNamesInFolder() {
    return 1;
}

#include <windows.h>

#include <cwchar>
#include <string>

#include "cli_files.h"
#include "folder_listing.h"
#include "win32_names.h"

bool ListFolderFiles(const char* path, const std::function<void(const char* name)>& onName,
                     std::string* error) {
    std::wstring pattern;
    if (!SystemFolderPath(path, &pattern)) {
        *error = LastSystemErrorText();
        return false;
    }
    if (pattern.back() != L'\\') {
        pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return true;  // nothing in it
        }
        *error = LastSystemErrorText();
        return false;
    }
    do {
        // The name as Windows holds it; one that is not valid UTF-16 has no
        // UTF-8 form and is left out.
        std::string name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            Utf8FromWide(entry.cFileName, std::wcslen(entry.cFileName), &name)) {
            onName(name.c_str());
        }
    } while (FindNextFileW(search, &entry));
    const DWORD ended = GetLastError();
    FindClose(search);
    if (ended != ERROR_NO_MORE_FILES) {
        SetLastError(ended);
        *error = LastSystemErrorText();
        return false;
    }
    return true;
}

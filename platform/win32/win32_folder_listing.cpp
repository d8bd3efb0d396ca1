#include <windows.h>

#include <cwchar>
#include <string>

#include "folder_listing.h"
#include "system_text.h"
#include "win32_names.h"

namespace {

bool IsDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

bool ListFolder(const char* path,
                const std::function<void(const char* name, EntryKind kind)>& onEntry,
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
        // UTF-8 form and is left out. A folder that is a junction or link
        // is neither a file nor a subfolder to watch.
        std::string name;
        const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (!IsDotOrDotDot(entry.cFileName) && !(folder && link) &&
            Utf8FromWide(entry.cFileName, std::wcslen(entry.cFileName), &name)) {
            onEntry(name.c_str(), folder ? EntryKind::Subfolder : EntryKind::MayBeFile);
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

#include "win32_names.h"

#include <windows.h>

bool WideFromText(unsigned codePage, const std::string& text, std::wstring* wide) {
    wide->clear();
    if (text.empty()) {
        return true;
    }
    const int length = static_cast<int>(text.size());
    const int size =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (size <= 0) {
        return false;
    }
    wide->resize(static_cast<std::size_t>(size));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, wide->data(),
                               size) == size;
}

bool Utf8FromWide(const wchar_t* text, std::size_t length, std::string* utf8) {
    utf8->clear();
    if (length == 0) {
        return true;
    }
    const int wideLength = static_cast<int>(length);
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, wideLength, nullptr,
                                         0, nullptr, nullptr);
    if (size <= 0) {
        return false;
    }
    utf8->resize(static_cast<std::size_t>(size));
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, wideLength, utf8->data(), size,
                               nullptr, nullptr) == size;
}

bool FullWidePath(const std::wstring& path, std::wstring* full) {
    if (path.empty()) {
        return false;
    }
    // The first call tells the length needed, zero included.
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return false;
    }
    full->assign(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full->data(), nullptr);
    if (length == 0 || length >= needed) {
        return false;
    }
    full->resize(length);
    return true;
}

bool IsDevicePath(const std::wstring& full) {
    return full.rfind(L"\\\\.\\", 0) == 0;
}

std::wstring LongPathForm(const std::wstring& full) {
    if (full.rfind(L"\\\\?\\", 0) == 0 || IsDevicePath(full)) {
        return full;
    }
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    const bool drive = full.size() >= 3 && full[1] == L':' && full[2] == L'\\';
    return drive ? L"\\\\?\\" + full : full;
}

PathKind SystemPath(unsigned codePage, const std::string& path, bool longForm,
                    std::wstring* system) {
    std::wstring wide;
    std::wstring full;
    if (!WideFromText(codePage, path, &wide) || !FullWidePath(wide, &full)) {
        return PathKind::Unusable;
    }
    if (IsDevicePath(full)) {
        return PathKind::Device;
    }
    *system = longForm ? LongPathForm(full) : full;
    return PathKind::File;
}

std::wstring WithoutLongPathPrefix(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        return L"\\\\" + path.substr(8);
    }
    return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
}

std::wstring WideForOutput(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size);
    return wide;
}

namespace {

// Some code pages (UTF-8 among them) take no flags at all.
int ConvertFromWide(UINT codePage, DWORD flags, const std::wstring& text, char* bytes, int size) {
    return WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), bytes,
                               size, nullptr, nullptr);
}

}  // namespace

std::string InConsoleCodePage(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const UINT consolePage = GetConsoleOutputCP();
    const UINT codePage = consolePage != 0 ? consolePage : GetACP();
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int size = ConvertFromWide(codePage, flags, text, nullptr, 0);
    if (size <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        size = ConvertFromWide(codePage, flags, text, nullptr, 0);
    }
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    ConvertFromWide(codePage, flags, text, bytes.data(), size);
    return bytes;
}

bool SystemFolderPath(const char* path, std::wstring* system) {
    if (SystemPath(CP_UTF8, path, true, system) != PathKind::File) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

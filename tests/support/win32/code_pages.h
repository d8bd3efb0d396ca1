// Text between UTF-16 and a code page (the ANSI one, the console's, 1252),
// as the Windows tests hand names to a program and read what it shows.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring Widen(const std::string& text, UINT codePage) {
    const int size =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

inline std::string Narrow(const std::wstring& wide, UINT codePage) {
    const int size = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
    return text;
}

// Text in this process's ANSI code page as UTF-16.
inline std::wstring FromAnsi(const std::string& text) {
    return Widen(text, CP_ACP);
}

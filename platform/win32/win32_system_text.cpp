#include <io.h>
#include <windows.h>

#include "byte_text.h"
#include "system_text.h"
#include "win32_names.h"

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

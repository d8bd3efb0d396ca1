#include <io.h>
#include <windows.h>

#include "cli_files.h"
#include "text_output.h"

namespace {

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size);
    return wide;
}

// Text for a file or pipe, as WriteText gives it: in the console's code
// page, or the ANSI code page without a console.
std::string InConsolePage(const std::wstring& wide) {
    const UINT consolePage = GetConsoleOutputCP();
    const UINT codePage = consolePage != 0 ? consolePage : CP_ACP;
    const int length = static_cast<int>(wide.size());
    const int size =
        WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

bool WriteAll(HANDLE file, const char* bytes, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

}  // namespace

TextWriteResult WriteTextTo(int descriptor, const std::string& text, std::string* error) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    if (handle == INVALID_HANDLE_VALUE) {
        *error = "kein Handle zum Deskriptor " + std::to_string(descriptor);
        return TextWriteResult::Failed;
    }
    const std::wstring wide = WideFromUtf8(text);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        // Characters to a console window, whatever its code page.
        DWORD written = 0;
        if (!WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                           nullptr)) {
            *error = LastSystemErrorText();
            return TextWriteResult::Failed;
        }
        return TextWriteResult::Written;
    }
    const std::string bytes = InConsolePage(wide);
    if (!WriteAll(handle, bytes.data(), bytes.size())) {
        const DWORD reason = GetLastError();
        *error = LastSystemErrorText();
        // The pipe's reading end is closed, or being closed.
        return reason == ERROR_NO_DATA || reason == ERROR_BROKEN_PIPE ? TextWriteResult::ReaderGone
                                                                      : TextWriteResult::Failed;
    }
    return TextWriteResult::Written;
}

void StartQuietThreads(const std::function<void()>& start) {
    // Windows has no signals to keep from them: the console's control
    // events come in a thread of their own, and a closed pipe is an error.
    start();
}

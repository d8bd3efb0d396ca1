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

// Text for a file or pipe, as WriteText gives it through the C library's
// text stream: in the console's code page (the ANSI code page without a
// console), each line ending in CR LF.
std::string InConsolePage(const std::wstring& wide) {
    std::wstring lines;
    lines.reserve(wide.size() + 2);
    for (const wchar_t c : wide) {
        if (c == L'\n') {
            lines += L'\r';
        }
        lines += c;
    }
    const UINT consolePage = GetConsoleOutputCP();
    const UINT codePage = consolePage != 0 ? consolePage : CP_ACP;
    const int length = static_cast<int>(lines.size());
    const int size =
        WideCharToMultiByte(codePage, 0, lines.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(codePage, 0, lines.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// A write that failed because nobody reads the pipe any more: its read end
// is closed or being closed (ERROR_NO_DATA, ERROR_BROKEN_PIPE), or the pipe
// is no longer connected (a named pipe its server has disconnected; also
// what Wine reports for a pipe to a Unix reader that has ended).
bool IsReaderGone(DWORD reason) {
    return reason == ERROR_NO_DATA || reason == ERROR_BROKEN_PIPE ||
           reason == ERROR_PIPE_NOT_CONNECTED;
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
        return IsReaderGone(reason) ? TextWriteResult::ReaderGone : TextWriteResult::Failed;
    }
    return TextWriteResult::Written;
}

void StartQuietThreads(const std::function<void()>& start) {
    // Windows has no signals to keep from them: the console's control
    // events come in a thread of their own, and a closed pipe is an error.
    start();
}

#include <io.h>
#include <windows.h>

#include "system_text.h"
#include "text_output.h"
#include "win32_file_checks.h"
#include "win32_names.h"

namespace {

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
    return InConsoleCodePage(lines);
}

// A write that failed because nobody reads the pipe any more: its read end
// is closed or being closed (ERROR_NO_DATA, ERROR_BROKEN_PIPE), or the pipe
// is no longer connected (a named pipe its server has disconnected; also
// what Wine reports for a pipe to a Unix reader that has ended).
bool IsReaderGone(DWORD reason) {
    return reason == ERROR_NO_DATA || reason == ERROR_BROKEN_PIPE ||
           reason == ERROR_PIPE_NOT_CONNECTED;
}

}  // namespace

TextWriteResult WriteTextTo(int descriptor, const std::string& text, std::string* error) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    if (handle == INVALID_HANDLE_VALUE) {
        *error = "kein Handle zum Deskriptor " + std::to_string(descriptor);
        return TextWriteResult::Failed;
    }
    const std::wstring wide = WideForOutput(text);
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

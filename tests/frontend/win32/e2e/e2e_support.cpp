#include "e2e_support.h"

#include <cstdio>
#include <cstring>

#include "code_pages.h"
#include "resource.h"

namespace {

constexpr DWORD kPollIntervalMs = 20;
constexpr UINT kSendTimeoutMs = 5000;
constexpr int kFileNameCombo = 0x47C;  // cmb13: the file-name field
constexpr int kFileNameEdit = 0x480;   // edt1: the same in older layouts
constexpr int kMessageBoxTextId = 0xFFFF;

int failures = 0;

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::wstring FromWindows1252(const std::string& text) {
    return Widen(text, 1252);
}

// SendMessageW with a time limit, so a hung program fails the test instead of
// stalling it.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result)) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisibleWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

HWND FindWindowOf(const Program& program, const std::function<bool(HWND)>& wanted,
                  DWORD timeoutMs) {
    HWND match = nullptr;
    WaitUntil(
        [&] {
            for (const HWND window : VisibleWindowsOf(program)) {
                if (wanted(window)) {
                    match = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return match;
}

}  // namespace

std::string ToWindows1252(const std::wstring& text) {
    return Narrow(text, 1252);
}

HWND FileNameField(HWND fileDialog) {
    const HWND combo = GetDlgItem(fileDialog, kFileNameCombo);
    return combo != nullptr ? combo : GetDlgItem(fileDialog, kFileNameEdit);
}

// --- Checks -----------------------------------------------------------------

bool Check(bool condition, const std::string& what) {
    if (!condition) {
        ++failures;
        std::printf("FAILED: %s\n", what.c_str());
        std::fflush(stdout);
    }
    return condition;
}

bool CheckText(const std::string& actual, const std::string& expected, const std::string& what) {
    return Check(actual == expected,
                 what + ": expected " + Quoted(expected) + ", got " + Quoted(actual));
}

bool CheckNumber(long long actual, long long expected, const std::string& what) {
    return Check(actual == expected, what + ": expected " + std::to_string(expected) + ", got " +
                                         std::to_string(actual));
}

int FailureCount() {
    return failures;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollIntervalMs);
    }
}

bool StaysTrueFor(const std::function<bool()>& condition, DWORD durationMs) {
    const ULONGLONG end = GetTickCount64() + durationMs;
    while (GetTickCount64() < end) {
        if (!condition()) {
            return false;
        }
        Sleep(kPollIntervalMs);
    }
    return condition();
}

// --- Files ------------------------------------------------------------------

std::string MakeWorkFolder(const std::string& tag) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string folder =
        std::string(temp) + "velmora-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "\\";
    RemoveWorkFolder(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void RemoveWorkFolder(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string path = folder + entry.cFileName;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok =
        bytes.empty() ||
        (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size());
    CloseHandle(file);
    return ok;
}

bool ReadFileBytes(const std::string& path, std::vector<unsigned char>* bytes) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD size = GetFileSize(file, nullptr);
    bytes->assign(size, 0);
    DWORD read = 0;
    const bool ok =
        size == 0 || (ReadFile(file, bytes->data(), size, &read, nullptr) && read == size);
    CloseHandle(file);
    return ok;
}

std::vector<unsigned char> PatternBytes(std::size_t count, unsigned seed) {
    std::vector<unsigned char> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<unsigned char>((i * 31 + seed * 17 + (i >> 8)) & 0xFF);
    }
    return bytes;
}

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string out = "Z:" + path;
    for (char& c : out) {
        if (c == '/') {
            c = '\\';
        }
    }
    return out;
}

// --- The program under test -------------------------------------------------

bool StartProgram(const std::string& exe, const std::string& folder, Program* program) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exe + "\"";
    program->started = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                      nullptr, folder.c_str(), &startup, &program->process) != 0;
    return Check(program->started, "start " + exe + " in " + folder);
}

long WaitForExit(Program* program, DWORD timeoutMs) {
    if (!program->started ||
        WaitForSingleObject(program->process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(program->process.hProcess, &code);
    return static_cast<long>(code);
}

void StopProgram(Program* program) {
    if (!program->started) {
        return;
    }
    if (WaitForSingleObject(program->process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(program->process.hProcess, 99);
        WaitForSingleObject(program->process.hProcess, 10000);
    }
    CloseHandle(program->process.hThread);
    CloseHandle(program->process.hProcess);
    program->started = false;
}

// --- Windows ----------------------------------------------------------------

std::vector<HWND> VisibleWindowsOf(const Program& program) {
    WindowSearch search{program.process.dwProcessId, {}};
    EnumWindows(CollectVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ClassName(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool IsMainDialog(HWND window) {
    return ClassName(window) == "#32770" && GetDlgItem(window, IDC_STATUS_LIST) != nullptr;
}

bool IsMessageBox(HWND window) {
    return ClassName(window) == "#32770" && GetDlgItem(window, kMessageBoxTextId) != nullptr &&
           GetDlgItem(window, IDOK) != nullptr && !IsMainDialog(window);
}

HWND FindMainDialog(const Program& program, DWORD timeoutMs) {
    return FindWindowOf(program, IsMainDialog, timeoutMs);
}

HWND FindMessageBox(const Program& program, DWORD timeoutMs) {
    return FindWindowOf(program, IsMessageBox, timeoutMs);
}

HWND FindFileDialog(const Program& program, HWND mainDialog, DWORD timeoutMs) {
    return FindWindowOf(
        program,
        [mainDialog](HWND window) {
            return ClassName(window) == "#32770" && GetWindow(window, GW_OWNER) == mainDialog &&
                   FileNameField(window) != nullptr;
        },
        timeoutMs);
}

std::wstring WideWindowText(HWND window) {
    const LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

std::string WindowText(HWND window) {
    return ToWindows1252(WideWindowText(window));
}

std::string ControlText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

std::string MessageBoxText(HWND box) {
    return ControlText(box, kMessageBoxTextId);
}

void Click(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

void ClickControl(HWND dialog, int id) {
    Click(GetDlgItem(dialog, id));
}

void PressEscape(HWND dialog) {
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
}

bool SetTextW(HWND window, const std::wstring& text) {
    return Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) == TRUE;
}

bool SetTextW(HWND window, const std::string& text) {
    return SetTextW(window, FromWindows1252(text));
}

int ListCount(HWND list) {
    return static_cast<int>(Send(list, LB_GETCOUNT, 0, 0));
}

std::wstring WideListLine(HWND list, int index) {
    const LRESULT length = Send(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return L"<no line " + std::to_wstring(index) + L">";
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        Send(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

std::string ListLine(HWND list, int index) {
    return ToWindows1252(WideListLine(list, index));
}

bool ChooseBaseFile(const Program& program, HWND mainDialog, const std::string& path) {
    return ChooseBaseFile(program, mainDialog, FromWindows1252(path));
}

bool ChooseBaseFile(const Program& program, HWND mainDialog, const std::wstring& path) {
    ClickControl(mainDialog, IDC_BASE_FILE);
    const HWND fileDialog = FindFileDialog(program, mainDialog, 20000);
    if (!Check(fileDialog != nullptr, "the file-selection dialog opens")) {
        return false;
    }
    if (!Check(SetTextW(FileNameField(fileDialog), path), "type the base file's path")) {
        DumpChildren(fileDialog);
        return false;
    }
    ClickControl(fileDialog, IDOK);
    return Check(
        WaitUntil([&] { return !IsWindow(fileDialog) || !IsWindowVisible(fileDialog); }, 10000),
        "the file-selection dialog closes after OK");
}

void DumpChildren(HWND window) {
    std::printf("  window %p class %s text %s\n", static_cast<void*>(window),
                ClassName(window).c_str(), Quoted(WindowText(window)).c_str());
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        std::printf("    id %d class %s text %s\n", GetDlgCtrlID(child), ClassName(child).c_str(),
                    Quoted(WindowText(child)).c_str());
    }
    std::fflush(stdout);
}

// --- Registry ---------------------------------------------------------------

void DeleteSettings() {
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
}

namespace {

bool WriteSetting(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool ok =
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

}  // namespace

bool WriteDwordSetting(const char* name, DWORD value) {
    return WriteSetting(name, REG_DWORD, &value, sizeof value);
}

bool WriteStringSetting(const char* name, const char* value) {
    return WriteSetting(name, REG_SZ, value, static_cast<DWORD>(std::strlen(value) + 1));
}

bool ReadSetting(const char* name, DWORD* type, LONG* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD raw = 0;
    DWORD size = sizeof raw;
    *type = 0;
    const LONG result =
        RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(&raw), &size);
    RegCloseKey(key);
    *value = static_cast<LONG>(raw);
    return result == ERROR_SUCCESS && size == sizeof raw;
}

// What the end-to-end driver needs to work the program from outside: start
// it, find its windows, read and press its controls through window messages,
// and poll with a time limit.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// --- Checks -----------------------------------------------------------------

// Records a failed check with its reason; the driver exits non-zero at the end.
bool Check(bool condition, const std::string& what);
bool CheckText(const std::string& actual, const std::string& expected, const std::string& what);
bool CheckNumber(long long actual, long long expected, const std::string& what);
int FailureCount();

// Polls condition every few milliseconds until it holds or timeoutMs passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Polls condition for the whole of durationMs: false as soon as it fails once.
// Used to show that something does NOT happen over several timer periods.
bool StaysTrueFor(const std::function<bool()>& condition, DWORD durationMs);

// --- Files ------------------------------------------------------------------

// A fresh folder under the Windows temporary folder, with a trailing '\'.
std::string MakeWorkFolder(const std::string& tag);
void RemoveWorkFolder(const std::string& folder);
bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);
bool ReadFileBytes(const std::string& path, std::vector<unsigned char>* bytes);
// count bytes of a repeating pattern that depends on seed.
std::vector<unsigned char> PatternBytes(std::size_t count, unsigned seed);
// "/work/x/velmora.exe" -> "Z:\work\x\velmora.exe"; Windows paths unchanged.
std::string WindowsPath(const std::string& path);
// A UTF-16 text as the program's ANSI calls see it: Windows-1252.
std::string ToWindows1252(const std::wstring& text);

// --- The program under test -------------------------------------------------

struct Program {
    PROCESS_INFORMATION process = {};
    bool started = false;
};

bool StartProgram(const std::string& exe, const std::string& folder, Program* program);
// Waits for the process to end and returns its exit code, or -1 on timeout.
long WaitForExit(Program* program, DWORD timeoutMs);
// Ends the process if it still runs and releases its handles.
void StopProgram(Program* program);

// --- Windows ----------------------------------------------------------------

// Visible top-level windows of the process.
std::vector<HWND> VisibleWindowsOf(const Program& program);
HWND FindMainDialog(const Program& program, DWORD timeoutMs);
HWND FindMessageBox(const Program& program, DWORD timeoutMs);
// The file-selection dialog owned by the main dialog, and its file-name field.
HWND FindFileDialog(const Program& program, HWND mainDialog, DWORD timeoutMs);
HWND FileNameField(HWND fileDialog);

bool IsMainDialog(HWND window);
bool IsMessageBox(HWND window);
std::string ClassName(HWND window);

// The window's text, read with WM_GETTEXT, as it is and converted to
// Windows-1252.
std::wstring WideWindowText(HWND window);
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
// The message box's text and caption.
std::string MessageBoxText(HWND box);

// Presses a button as a click would (posted: the handler may run a modal loop).
void Click(HWND button);
void ClickControl(HWND dialog, int id);
void PressEscape(HWND dialog);
bool SetTextW(HWND window, const std::wstring& text);
bool SetTextW(HWND window, const std::string& text);  // Windows-1252

int ListCount(HWND list);
std::wstring WideListLine(HWND list, int index);
std::string ListLine(HWND list, int index);

// Chooses path in the file-selection dialog: opens it with "Basis Datei",
// types the path into its file-name field and confirms with OK.
bool ChooseBaseFile(const Program& program, HWND mainDialog, const std::wstring& path);
bool ChooseBaseFile(const Program& program, HWND mainDialog, const std::string& path);

// Lists the children of a window, for failure reports.
void DumpChildren(HWND window);

// --- Registry ---------------------------------------------------------------

inline constexpr char kSettingsKey[] = "Software\\Velmora\\Settings";

void DeleteSettings();
bool WriteDwordSetting(const char* name, DWORD value);
bool WriteStringSetting(const char* name, const char* value);
// The value's type and, for a 4-byte REG_DWORD, its signed value.
bool ReadSetting(const char* name, DWORD* type, LONG* value);

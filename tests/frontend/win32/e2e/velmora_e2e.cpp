// End-to-end cases for velmora.exe: each starts the real program in a fresh
// folder, works it through window messages and checks what it shows and what
// it does to the files and the registry.
//
// Usage: velmora_e2e [GoogleTest options] [<velmora.exe>]   (default: the build's)
//        velmora_e2e <velmora.exe> screenshot <file.bmp>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "code_pages.h"
#include "e2e_support.h"
#include "repair_controller.h"
#include "resource.h"

namespace {

constexpr DWORD kStartTimeoutMs = 30000;  // a cold Wine start can be slow
constexpr DWORD kExitTimeoutMs = 15000;
constexpr DWORD kUiTimeoutMs = 10000;
// Five periods of the 200 ms repair timer: long enough for a wrong repair to
// show up if the program were to attempt one.
constexpr DWORD kSeveralTicksMs = 1000;

constexpr int kBaseFileButton = IDC_BASE_FILE;
constexpr int kPostfixField = IDC_POSTFIX;
constexpr int kCurrentFileField = IDC_CURRENT_FILE;
constexpr int kToggleButton = IDC_TOGGLE;
constexpr int kStatusList = IDC_STATUS_LIST;
constexpr int kNoId = 0xFFFF;  // -1 in the resource script

constexpr std::size_t kTemplateSize = 100;
constexpr std::size_t kFollowUpSize = 5000;

const char kNotFound[] = "Header Datei nicht gefunden!";

// One run of the program in its own folder, ended and cleaned up at the end
// of the case whatever happened.
struct Session {
    std::string exe;
    std::string folder;
    Program program;
    HWND main = nullptr;

    Session(const std::string& programPath, const std::string& tag)
        : exe(programPath), folder(MakeWorkFolder(tag)) {}
    ~Session() {
        StopProgram(&program);
        RemoveWorkFolder(folder);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::string Path(const std::string& name) const { return folder + name; }
    HWND Control(int id) const { return GetDlgItem(main, id); }
    std::string Text(int id) const { return ControlText(main, id); }

    bool WriteTemplate(std::size_t size) {
        return Check(WriteFileBytes(Path("header.mpeg"), PatternBytes(size, 1)),
                     "write header.mpeg");
    }

    // Starts the program and waits for its main window.
    bool StartToMainWindow() {
        if (!StartProgram(exe, folder, &program)) {
            return false;
        }
        main = FindMainDialog(program, kStartTimeoutMs);
        return Check(main != nullptr, "the main window appears");
    }

    // Escape ends the program with exit code 0.
    bool EndWithEscape() {
        PressEscape(main);
        return CheckNumber(WaitForExit(&program, kExitTimeoutMs), 0, "exit code after Escape");
    }

    bool WaitForText(int id, const std::string& expected) {
        WaitUntil([&] { return Text(id) == expected; }, kUiTimeoutMs);
        return CheckText(Text(id), expected, "text of control " + std::to_string(id));
    }

    // Chooses Film.mpg (created here) and presses Start.
    bool ChooseFilmAndStart() {
        if (!Check(WriteFileBytes(Path("Film.mpg"), PatternBytes(300, 2)), "write Film.mpg") ||
            !ChooseBaseFile(program, main, Path("Film.mpg")) ||
            !WaitForText(kCurrentFileField, "Film#1.mpg")) {
            return false;
        }
        ClickControl(main, kToggleButton);
        return WaitForText(kToggleButton, "Stop");
    }
};

// The styles that make each control behave as it should, in template order.
struct ExpectedItem {
    int id;
    DWORD styles;  // must all be set
    DWORD absent;  // must all be clear
};

const ExpectedItem kItems[] = {
    {kToggleButton, WS_DISABLED | WS_TABSTOP, 0},
    {kStatusList, WS_BORDER | WS_HSCROLL | LBS_NOSEL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY,
     WS_VSCROLL | WS_TABSTOP | LBS_SORT},
    {kNoId, SS_LEFT, SS_CENTER},
    {kNoId, BS_GROUPBOX, 0},
    {kNoId, BS_GROUPBOX, 0},
    {kCurrentFileField, WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, 0},
    {kPostfixField, WS_BORDER | WS_TABSTOP, ES_AUTOHSCROLL | ES_READONLY},
    {kNoId, SS_LEFT, SS_CENTER},
    {kNoId, SS_CENTER, 0},
    {kBaseFileButton, WS_TABSTOP, WS_DISABLED},
    {kNoId, SS_CENTER, 0},
};

bool SameClass(const std::string& a, const char* b) {
    return lstrcmpiA(a.c_str(), b) == 0;
}

// The window class of each kind of control in the window's description.
const char* ClassOfKind(WindowControlKind kind) {
    switch (kind) {
    case WindowControlKind::StatusList:
        return "ListBox";
    case WindowControlKind::Label:
    case WindowControlKind::CenteredLabel:
        return "Static";
    case WindowControlKind::Edit:
    case WindowControlKind::ReadOnlyEdit:
        return "Edit";
    default:
        return "Button";
    }
}

bool SamePlace(const ControlPlace& a, const ControlPlace& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// Reads a dialog template's sz_Or_Ord field and returns what follows it.
const WORD* SkipStringOrOrdinal(const WORD* field) {
    if (*field == 0xFFFF) {
        return field + 2;
    }
    while (*field != 0) {
        ++field;
    }
    return field + 1;
}

const WORD* AlignToDword(const WORD* p, const void* base) {
    const auto offset = reinterpret_cast<const BYTE*>(p) - static_cast<const BYTE*>(base);
    return reinterpret_cast<const WORD*>(static_cast<const BYTE*>(base) + ((offset + 3) & ~3));
}

// A string field in Windows-1252, as the program's ANSI calls see it.
std::string WideField(const WORD* field) {
    std::wstring text;
    for (; *field != 0; ++field) {
        text += static_cast<wchar_t>(*field);
    }
    return ToWindows1252(text);
}

// A control of the dialog template, with its class by name or by the
// predefined ordinal (0x80 Button, 0x81 Edit, 0x82 Static, 0x83 ListBox).
struct TemplateItem {
    int id;
    DWORD style;
    std::string className;
    std::string text;
    ControlPlace place;
};

std::string ClassField(const WORD* field) {
    static const char* const kPredefined[] = {"Button", "Edit", "Static", "ListBox"};
    if (*field == 0xFFFF) {
        const WORD atom = field[1];
        return atom >= 0x80 && atom < 0x84 ? kPredefined[atom - 0x80] : "#" + std::to_string(atom);
    }
    return WideField(field);
}

// The main dialog's template in the program file: what the running window
// must show.
struct DialogTemplate {
    DWORD style = 0;
    short x = 0, y = 0, width = 0, height = 0;
    std::string caption;
    WORD fontSize = 0;
    std::string font;
    std::vector<TemplateItem> items;
};

DialogTemplate ReadDialogTemplate(const void* resource) {
    const auto* header = static_cast<const DLGTEMPLATE*>(resource);
    DialogTemplate dialog{
        header->style, header->x, header->y, header->cx, header->cy, {}, 0, {}, {}};
    const WORD* field = reinterpret_cast<const WORD*>(header + 1);
    CheckNumber(*field, 0, "no menu");
    field = SkipStringOrOrdinal(field);
    CheckNumber(*field, 0, "no class of its own");
    field = SkipStringOrOrdinal(field);
    dialog.caption = WideField(field);
    field = SkipStringOrOrdinal(field);
    dialog.fontSize = *field;
    dialog.font = WideField(field + 1);
    field = SkipStringOrOrdinal(field + 1);

    for (WORD i = 0; i < header->cdit; ++i) {
        const auto* item = reinterpret_cast<const DLGITEMTEMPLATE*>(AlignToDword(field, resource));
        field = reinterpret_cast<const WORD*>(item + 1);
        TemplateItem entry{
            item->id, item->style, ClassField(field), {}, {item->x, item->y, item->cx, item->cy}};
        field = SkipStringOrOrdinal(field);  // class
        entry.text = WideField(field);
        field = SkipStringOrOrdinal(field);  // text
        field += 1 + (*field + 1) / 2;       // creation data
        dialog.items.push_back(entry);
    }
    return dialog;
}

bool LoadDialogTemplate(HMODULE module, DialogTemplate* dialog) {
    const HRSRC resource =
        FindResourceExA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */, MAKEINTRESOURCEA(IDD_MAIN),
                        MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    if (!Check(resource != nullptr, "dialog 101 in German (1031)")) {
        return false;
    }
    *dialog = ReadDialogTemplate(LockResource(LoadResource(module, resource)));
    return true;
}

bool LoadDialogTemplate(const std::string& exe, DialogTemplate* dialog) {
    const HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!Check(module != nullptr, "load " + exe + " as data")) {
        return false;
    }
    const bool loaded = LoadDialogTemplate(module, dialog);
    FreeLibrary(module);
    return loaded;
}

void CheckDialogTemplate(const DialogTemplate& dialog) {
    const DWORD styles = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
                         DS_SETFONT | DS_ABSALIGN;
    Check((dialog.style & styles) == styles, "dialog styles");
    Check((dialog.style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_VISIBLE)) == 0,
          "no maximize box, no sizing frame");
    CheckNumber(dialog.x, 0, "dialog x");
    CheckNumber(dialog.y, 0, "dialog y");
    CheckNumber(dialog.width, VELMORA_WINDOW_WIDTH, "dialog width");
    CheckNumber(dialog.height, VELMORA_WINDOW_HEIGHT, "dialog height");
    CheckText(dialog.caption, kWindowCaption, "template caption");
    CheckNumber(dialog.fontSize, 8, "font size");
    CheckText(dialog.font, "MS Sans Serif", "font");
    CheckNumber(static_cast<long long>(dialog.items.size()),
                static_cast<long long>(std::size(kItems)), "dialog item count");
    for (std::size_t i = 0; i < std::size(kItems) && i < dialog.items.size(); ++i) {
        const TemplateItem& item = dialog.items[i];
        const ExpectedItem& expected = kItems[i];
        const std::string where = "item #" + std::to_string(i);
        CheckNumber(static_cast<WORD>(item.id), expected.id, where + " id");
        Check((item.style & expected.styles) == expected.styles, where + " styles set");
        Check((item.style & expected.absent) == 0, where + " styles clear");
        // The control the window's description has in this place.
        const WindowControl& described = kWindowControls[i];
        CheckNumber(static_cast<WORD>(item.id), static_cast<WORD>(described.id), where + " id");
        Check(SameClass(item.className, ClassOfKind(described.kind)),
              where + " class " + item.className);
        CheckText(item.text, described.text, where + " text");
        Check(SamePlace(item.place, described.place), where + " place");
    }
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
struct IconGroup {
    WORD reserved, type, count;
    IconGroupEntry entries[1];
};
#pragma pack(pop)

// One text of the version resource's block for German, Unicode (040704B0),
// or "" when it is missing.
std::wstring VersionText(const std::vector<BYTE>& info, const std::wstring& name) {
    const std::wstring path = L"\\StringFileInfo\\040704B0\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) {
        return L"";
    }
    return static_cast<const wchar_t*>(value);
}

void CheckVersionText(const std::vector<BYTE>& info, const std::wstring& name,
                      const std::wstring& expected) {
    const std::wstring actual = VersionText(info, name);
    CheckText(ToWindows1252(actual), ToWindows1252(expected), ToWindows1252(name));
    // Compared again as UTF-16: a character lost on the way (the dash) could
    // turn into the same '?' on both sides of the Windows-1252 comparison.
    Check(actual == expected, ToWindows1252(name) + " exactly as UTF-16");
}

// The version resource Explorer shows: the numbers of the project's version
// (from CMake), German in Unicode, and the product's texts.
void CheckVersionResource(const std::string& exe) {
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), nullptr);
    if (!Check(size > 0, "version resource present")) {
        return;
    }
    std::vector<BYTE> info(size);
    if (!Check(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()) != 0,
               "version resource read")) {
        return;
    }
    void* value = nullptr;
    UINT length = 0;
    if (Check(VerQueryValueW(info.data(), L"\\", &value, &length) &&
                  length >= sizeof(VS_FIXEDFILEINFO),
              "fixed version block")) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        const DWORD high = MAKELONG(VELMORA_VERSION_MINOR, VELMORA_VERSION_MAJOR);
        const DWORD low = MAKELONG(VELMORA_VERSION_TWEAK, VELMORA_VERSION_PATCH);
        CheckNumber(fixed->dwSignature, 0xFEEF04BD, "fixed block signature");
        CheckNumber(fixed->dwFileVersionMS, high, "file version, major and minor");
        CheckNumber(fixed->dwFileVersionLS, low, "file version, patch and tweak");
        CheckNumber(fixed->dwProductVersionMS, high, "product version, major and minor");
        CheckNumber(fixed->dwProductVersionLS, low, "product version, patch and tweak");
        CheckNumber(fixed->dwFileType, VFT_APP, "file type: a program");
    }
    if (Check(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) &&
                  length == 2 * sizeof(WORD),
              "one translation")) {
        const auto* translation = static_cast<const WORD*>(value);
        CheckNumber(translation[0], 0x0407, "language: German");
        CheckNumber(translation[1], 1200, "code page: Unicode");
    }
    const std::wstring version = std::to_wstring(VELMORA_VERSION_MAJOR) + L"." +
                                 std::to_wstring(VELMORA_VERSION_MINOR) + L"." +
                                 std::to_wstring(VELMORA_VERSION_PATCH) + L"." +
                                 std::to_wstring(VELMORA_VERSION_TWEAK);
    CheckVersionText(info, L"ProductName", L"Velmora");
    CheckVersionText(info, L"FileDescription",
                     L"Velmora \u2013 stellt den MPEG-Header der Folge-Dateien wieder her");
    CheckVersionText(info, L"FileVersion", version);
    CheckVersionText(info, L"ProductVersion", version);
    CheckVersionText(info, L"CompanyName", L"Velmora developers");
    CheckVersionText(info, L"LegalCopyright", L"\u00A9 Velmora developers");
    CheckVersionText(info, L"OriginalFilename", L"velmora.exe");
}

// The program file itself: the German dialog template 101 with the engine's
// caption, the controls of the window's description and the styles they need, icon group 107 with
// one 32x32 16-colour image, and the version resource.
bool CaseResources(const std::string& exe) {
    const HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!Check(module != nullptr, "load " + exe + " as data")) {
        return false;
    }
    DialogTemplate dialog;
    if (LoadDialogTemplate(module, &dialog)) {
        CheckDialogTemplate(dialog);
    }
    const HRSRC icon = FindResourceA(module, MAKEINTRESOURCEA(IDI_VELMORA),
                                     MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    if (Check(icon != nullptr, "icon group 107")) {
        const auto* group = static_cast<const IconGroup*>(LockResource(LoadResource(module, icon)));
        CheckNumber(group->count, 1, "images in the icon group");
        const IconGroupEntry& entry = group->entries[0];
        Check(entry.width == 32 && entry.height == 32, "icon is 32 x 32");
        Check(entry.colorCount == 16 && entry.bitCount == 4, "icon has 16 colours");
    }
    FreeLibrary(module);
    CheckVersionResource(exe);
    return FailureCount() == 0;
}

// --- Start-up ---------------------------------------------------------------

// A template that cannot be used: exactly its message box, and the program
// ends with exit code 0 once the box is dismissed.
bool TemplateRefused(const std::string& exe, const char* tag, long templateSize,
                     const char* message) {
    Session session(exe, tag);
    if (templateSize >= 0 && !session.WriteTemplate(static_cast<std::size_t>(templateSize))) {
        return false;
    }
    if (!StartProgram(exe, session.folder, &session.program)) {
        return false;
    }
    const HWND box = FindMessageBox(session.program, kStartTimeoutMs);
    if (!Check(box != nullptr, "a message box appears")) {
        return false;
    }
    CheckText(MessageBoxText(box), message, "message");
    CheckText(WindowText(box), kWindowCaption, "message box caption");
    Check(GetWindow(box, GW_OWNER) == nullptr, "the message box has no owner");
    const std::vector<HWND> windows = VisibleWindowsOf(session.program);
    CheckNumber(static_cast<long long>(windows.size()), 1, "visible windows while the box shows");
    Check(GetDlgItem(box, IDCANCEL) == nullptr, "the box has OK only");
    ClickControl(box, IDOK);
    return CheckNumber(WaitForExit(&session.program, kExitTimeoutMs), 0, "exit code");
}

bool CaseMissingTemplate(const std::string& exe) {
    return TemplateRefused(exe, "missing", -1, kNotFound);
}

bool CaseTemplateTooSmall(const std::string& exe) {
    return TemplateRefused(exe, "small", 63, "Header zu klein! (Minimal 64 Byte)");
}

bool CaseTemplateTooLarge(const std::string& exe) {
    return TemplateRefused(exe, "large", 2049, "Header zu gro\xDF! (Maximal 2048 Byte)");
}

// Whether a control of the running window is where its place in dialog
// units puts it. The client area is the dialog's size in dialog units, which
// gives the scale; each edge is rounded to a pixel on its own, so each may
// be off by one.
bool InPlace(HWND control, HWND dialog, const ControlPlace& place) {
    RECT client = {};
    RECT actual = {};
    GetClientRect(dialog, &client);
    GetWindowRect(control, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    const auto atEdge = [](LONG pixels, int units, LONG clientPixels, int clientUnits) {
        const double expected = static_cast<double>(units) * clientPixels / clientUnits;
        return pixels >= expected - 1.5 && pixels <= expected + 1.5;
    };
    const LONG width = client.right;
    const LONG height = client.bottom;
    return atEdge(actual.left, place.x, width, VELMORA_WINDOW_WIDTH) &&
           atEdge(actual.right, place.x + place.width, width, VELMORA_WINDOW_WIDTH) &&
           atEdge(actual.top, place.y, height, VELMORA_WINDOW_HEIGHT) &&
           atEdge(actual.bottom, place.y + place.height, height, VELMORA_WINDOW_HEIGHT);
}

bool CaseNormalStart(const std::string& exe) {
    Session session(exe, "normal");
    if (!session.WriteTemplate(2048) || !session.StartToMainWindow()) {
        return false;
    }
    CheckText(WindowText(session.main), kWindowCaption, "window caption");
    // The postfix is shown once start-up is through.
    session.WaitForText(kPostfixField, "#");

    // The window shows its template: each control in tab and Z order, with
    // its id, class and text.
    DialogTemplate dialog;
    if (!LoadDialogTemplate(exe, &dialog)) {
        return false;
    }
    std::size_t index = 0;
    for (HWND child = GetWindow(session.main, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT), ++index) {
        if (!Check(index < dialog.items.size(), "no more controls than the template's")) {
            break;
        }
        const TemplateItem& expected = dialog.items[index];
        const std::string where = "control #" + std::to_string(index);
        CheckNumber(GetDlgCtrlID(child), static_cast<WORD>(expected.id), where + " id");
        Check(SameClass(ClassName(child), expected.className.c_str()),
              where + " class " + ClassName(child) + " is " + expected.className);
        if (expected.id != kPostfixField) {  // filled in at start-up
            CheckText(WindowText(child), expected.text, where + " text");
        }
        if (index < std::size(kWindowControls)) {
            Check(InPlace(child, session.main, kWindowControls[index].place),
                  where + " in its place in pixels");
        }
    }
    CheckNumber(static_cast<long long>(index), static_cast<long long>(dialog.items.size()),
                "number of controls");

    Check(!IsWindowEnabled(session.Control(kToggleButton)), "Start is disabled");
    CheckNumber(ListCount(session.Control(kStatusList)), 0, "status lines");
    const LONG listStyle = GetWindowLongA(session.Control(kStatusList), GWL_STYLE);
    Check((listStyle & WS_VSCROLL) == 0 && (listStyle & LBS_NOSEL) != 0,
          "status list: no vertical scroll bar, nothing selectable");
    const LONG postfixStyle = GetWindowLongA(session.Control(kPostfixField), GWL_STYLE);
    Check((postfixStyle & ES_AUTOHSCROLL) == 0, "postfix field does not scroll");
    const LONG currentStyle = GetWindowLongA(session.Control(kCurrentFileField), GWL_STYLE);
    Check((currentStyle & ES_READONLY) != 0, "current-file field is read-only");

    // The dialog manager gives the focus to the first enabled tab stop.
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    const DWORD threadId = GetWindowThreadProcessId(session.main, nullptr);
    Check(WaitUntil(
              [&] {
                  return GetGUIThreadInfo(threadId, &thread) &&
                         thread.hwndFocus == session.Control(kCurrentFileField);
              },
              kUiTimeoutMs),
          "the current-file field has the focus");

    // Enter without a focused push button is IDOK, which does nothing.
    PostMessageW(session.main, WM_KEYDOWN, VK_RETURN, 0);
    Check(StaysTrueFor([&] { return IsWindowVisible(session.main) != FALSE; }, 400),
          "Enter leaves the window open");
    return session.EndWithEscape();
}

bool CaseSecondCopy(const std::string& exe) {
    Session first(exe, "second");
    if (!first.WriteTemplate(kTemplateSize) || !first.StartToMainWindow()) {
        return false;
    }
    // The template file is held exclusively by the first copy.
    Program second;
    if (!StartProgram(exe, first.folder, &second)) {
        return false;
    }
    const HWND box = FindMessageBox(second, kStartTimeoutMs);
    if (Check(box != nullptr, "the second copy shows a message")) {
        CheckText(MessageBoxText(box), kNotFound, "second copy's message");
        ClickControl(box, IDOK);
        CheckNumber(WaitForExit(&second, kExitTimeoutMs), 0, "second copy's exit code");
    }
    StopProgram(&second);
    Check(IsWindowVisible(first.main) && WaitForExit(&first.program, 0) == -1,
          "the first copy keeps running");
    return first.EndWithEscape();
}

// --- Choosing and repairing -------------------------------------------------

bool CaseChooseAndToggle(const std::string& exe) {
    Session session(exe, "choose");
    if (!session.WriteTemplate(kTemplateSize) || !session.StartToMainWindow() ||
        !Check(WriteFileBytes(session.Path("Film.mpg"), PatternBytes(300, 2)), "write Film.mpg") ||
        !ChooseBaseFile(session.program, session.main, session.Path("Film.mpg"))) {
        return false;
    }
    session.WaitForText(kCurrentFileField, "Film#1.mpg");
    Check(WaitUntil([&] { return IsWindowEnabled(session.Control(kToggleButton)) != FALSE; },
                    kUiTimeoutMs),
          "Start is enabled after a base file was chosen");
    CheckText(session.Text(kToggleButton), "Start", "toggle caption");
    ClickControl(session.main, kToggleButton);
    session.WaitForText(kToggleButton, "Stop");
    ClickControl(session.main, kToggleButton);
    session.WaitForText(kToggleButton, "Start");

    // Cancelling the file selection changes nothing; the dialog comes back
    // with the previous choice.
    ClickControl(session.main, kBaseFileButton);
    const HWND fileDialog = FindFileDialog(session.program, session.main, kUiTimeoutMs);
    if (Check(fileDialog != nullptr, "the file-selection dialog opens again")) {
        CheckText(WindowText(FileNameField(fileDialog)), "Film.mpg",
                  "file name offered the second time");
        constexpr int kFileTypeCombo = 0x470;  // cmb1
        CheckNumber(SendMessageW(GetDlgItem(fileDialog, kFileTypeCombo), CB_GETCURSEL, 0, 0), 1,
                    "the MPEG-PS filter is preselected");
        ClickControl(fileDialog, IDCANCEL);
        Check(WaitUntil([&] { return !IsWindowVisible(fileDialog); }, kUiTimeoutMs),
              "the file-selection dialog closes on Cancel");
    }
    CheckText(session.Text(kCurrentFileField), "Film#1.mpg", "current file after Cancel");

    // The postfix is read when a base file is chosen.
    SetTextW(session.Control(kPostfixField), "_teil");
    if (ChooseBaseFile(session.program, session.main, session.Path("Film.mpg"))) {
        session.WaitForText(kCurrentFileField, "Film_teil1.mpg");
    }
    return session.EndWithEscape();
}

// The follow-up file's content before the repair, and the check after it:
// the template at the front, everything else untouched.
bool CheckRepaired(const Session& session, const std::string& name) {
    std::vector<unsigned char> bytes;
    if (!Check(ReadFileBytes(session.Path(name), &bytes), "read " + name)) {
        return false;
    }
    std::vector<unsigned char> expected = PatternBytes(kFollowUpSize, 3);
    const std::vector<unsigned char> header = PatternBytes(kTemplateSize, 1);
    std::copy(header.begin(), header.end(), expected.begin());
    CheckNumber(static_cast<long long>(bytes.size()), kFollowUpSize, name + " size");
    return Check(bytes == expected, name + " holds the template at the front, the rest untouched");
}

bool Untouched(const Session& session, const std::string& name) {
    std::vector<unsigned char> bytes;
    return ReadFileBytes(session.Path(name), &bytes) && bytes == PatternBytes(kFollowUpSize, 3);
}

// The program stays on Film#1.mpg over several ticks of its timer, neither
// repairing it nor skipping it.
bool StaysOnFirstFollowUp(const Session& session) {
    const HWND list = session.Control(kStatusList);
    return StaysTrueFor(
        [&] { return ListCount(list) == 0 && session.Text(kCurrentFileField) == "Film#1.mpg"; },
        kSeveralTicksMs);
}

// Film#1.mpg is repaired (`when`), with its status line as the first.
void CheckFirstFollowUpRepaired(const Session& session, const std::string& when) {
    const HWND list = session.Control(kStatusList);
    Check(WaitUntil([&] { return ListCount(list) == 1; }, kUiTimeoutMs), "repaired " + when);
    CheckText(ListLine(list, 0), "Header \"Film#1.mpg\" restauriert!", "status line");
    CheckRepaired(session, "Film#1.mpg");
}

bool CaseHeldFileWaitsThenRepaired(const std::string& exe) {
    Session session(exe, "held");
    if (!session.WriteTemplate(kTemplateSize) || !session.StartToMainWindow() ||
        !session.ChooseFilmAndStart()) {
        return false;
    }
    // Created after Start and held open by this process, unshared.
    const HANDLE held =
        CreateFileA(session.Path("Film#1.mpg").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!Check(held != INVALID_HANDLE_VALUE, "create Film#1.mpg")) {
        return false;
    }
    const std::vector<unsigned char> content = PatternBytes(kFollowUpSize, 3);
    DWORD written = 0;
    WriteFile(held, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    Check(StaysOnFirstFollowUp(session), "a file held by another program is left alone");
    CloseHandle(held);
    Check(Untouched(session, "Film#1.mpg"), "Film#1.mpg unchanged while it was held");

    CheckFirstFollowUpRepaired(session, "once it is free");
    session.WaitForText(kCurrentFileField, "Film#2.mpg");
    CheckText(session.Text(kToggleButton), "Stop", "still running");
    return session.EndWithEscape();
}

bool CaseReadOnlyFileNeverRepaired(const std::string& exe) {
    Session session(exe, "readonly");
    const std::string path = session.Path("Film#1.mpg");
    if (!session.WriteTemplate(kTemplateSize) ||
        !Check(WriteFileBytes(path, PatternBytes(kFollowUpSize, 3)), "write Film#1.mpg") ||
        !Check(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0,
               "make Film#1.mpg read-only") ||
        !session.StartToMainWindow() || !session.ChooseFilmAndStart()) {
        return false;
    }
    Check(StaysOnFirstFollowUp(session), "a read-only file is neither repaired nor skipped");
    Check(Untouched(session, "Film#1.mpg"), "the read-only file is unchanged");

    // The program kept trying: once writable, the same file is repaired.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    CheckFirstFollowUpRepaired(session, "once it is writable");
    return session.EndWithEscape();
}

// On a Japanese system (code page 932; CTest sets LC_ALL for this case) a
// series whose name holds a character with 0x5C as its second byte is
// repaired like any other: "\u30BD" (ソ) is 83 5C there.
bool CaseCp932Series(const std::string& exe) {
    if (!CheckNumber(GetACP(), 932, "the ANSI code page (LC_ALL=ja_JP.UTF-8)")) {
        return false;
    }
    Session session(exe, "cp932");
    const std::wstring stem = L"\u30BD\u30D5\u30C8";
    const std::string part = Narrow(stem + L"#1.mpg", CP_ACP);
    if (!session.WriteTemplate(kTemplateSize) ||
        !Check(WriteFileBytes(session.Path(Narrow(stem + L".mpg", CP_ACP)), PatternBytes(300, 2)),
               "write the base file") ||
        !Check(WriteFileBytes(session.Path(part), PatternBytes(kFollowUpSize, 3)),
               "write its part 1") ||
        !session.StartToMainWindow() ||
        !ChooseBaseFile(session.program, session.main, FromAnsi(session.folder) + stem + L".mpg")) {
        return false;
    }
    ClickControl(session.main, kToggleButton);
    const HWND list = session.Control(kStatusList);
    Check(WaitUntil([&] { return ListCount(list) == 1; }, kUiTimeoutMs), "part 1 repaired");
    Check(WideListLine(list, 0) == L"Header \"" + stem + L"#1.mpg\" restauriert!",
          "the status line names part 1");
    Check(WideWindowText(session.Control(kCurrentFileField)) == stem + L"#2.mpg",
          "part 2 is waited for");
    CheckRepaired(session, part);
    return session.EndWithEscape();
}

// Chooses a file as a user does: into its folder first (the dialog then
// looks in it), then the file there.
bool ChooseInFolder(const Session& session, const std::string& folder, const std::string& name) {
    constexpr int kLookInCombo = 0x471;  // cmb2
    ClickControl(session.main, kBaseFileButton);
    const HWND dialog = FindFileDialog(session.program, session.main, kUiTimeoutMs);
    if (!Check(dialog != nullptr, "the file-selection dialog opens") ||
        !SetTextW(FileNameField(dialog), folder + "\\")) {
        return false;
    }
    ClickControl(dialog, IDOK);
    const std::string folderName = folder.substr(folder.rfind('\\') + 1);
    if (!Check(WaitUntil([&] { return WindowText(GetDlgItem(dialog, kLookInCombo)) == folderName; },
                         kUiTimeoutMs),
               "the dialog looks in " + folderName) ||
        !SetTextW(FileNameField(dialog), name)) {
        return false;
    }
    ClickControl(dialog, IDOK);
    return Check(WaitUntil([&] { return !IsWindowVisible(dialog); }, kUiTimeoutMs),
                 "the file-selection dialog closes after OK");
}

bool Renames(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

// While a series runs, its folder is held: it cannot be renamed, so its name
// keeps leading to the folder the user chose. Before Start and after Stop it
// can be.
bool CaseHeldFolderCannotBeRenamed(const std::string& exe) {
    Session session(exe, "folder");
    const std::string rec = session.Path("rec");
    const std::string moved = session.Path("moved");
    RemoveWorkFolder(rec + "\\");  // left by an earlier run that failed
    if (!session.WriteTemplate(kTemplateSize) || !session.StartToMainWindow() ||
        !Check(CreateDirectoryA(rec.c_str(), nullptr) != FALSE, "create rec") ||
        !Check(WriteFileBytes(rec + "\\Film.mpg", PatternBytes(300, 2)), "write rec\\Film.mpg") ||
        !ChooseInFolder(session, rec, "Film.mpg") ||
        !session.WaitForText(kCurrentFileField, "Film#1.mpg")) {
        return false;
    }
    Check(Renames(rec, moved) && Renames(moved, rec), "rec can be renamed before Start");
    ClickControl(session.main, kToggleButton);
    session.WaitForText(kToggleButton, "Stop");
    Check(!Renames(rec, moved), "rec cannot be renamed while its series runs");
    CheckNumber(GetLastError(), ERROR_SHARING_VIOLATION, "why rec cannot be renamed");
    ClickControl(session.main, kToggleButton);
    session.WaitForText(kToggleButton, "Start");
    Check(Renames(rec, moved), "rec can be renamed after Stop");
    const bool ended = session.EndWithEscape();
    RemoveWorkFolder(moved + "\\");
    RemoveWorkFolder(rec + "\\");
    return ended;
}

// --- Window position --------------------------------------------------------

RECT WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

// Both values exist as REG_DWORD and hold the given position.
bool CheckStoredPosition(LONG x, LONG y) {
    DWORD type = 0;
    LONG value = 0;
    const bool xOk = ReadSetting("xpos", &type, &value);
    Check(xOk && type == REG_DWORD, "xpos is a REG_DWORD");
    CheckNumber(value, x, "stored xpos");
    const bool yOk = ReadSetting("ypos", &type, &value);
    Check(yOk && type == REG_DWORD, "ypos is a REG_DWORD");
    return CheckNumber(value, y, "stored ypos");
}

bool CheckOpensAt(const std::string& exe, const char* tag, LONG x, LONG y) {
    Session session(exe, tag);
    if (!session.WriteTemplate(kTemplateSize) || !session.StartToMainWindow()) {
        return false;
    }
    session.WaitForText(kPostfixField, "#");  // start-up is through
    const RECT rect = WindowRect(session.main);
    CheckNumber(rect.left, x, "window left edge");
    CheckNumber(rect.top, y, "window top edge");
    return session.EndWithEscape() && CheckStoredPosition(x, y);
}

bool CasePositionRemembered(const std::string& exe) {
    DeleteSettings();
    // First run: the template's place, the top-left corner; saved at close.
    if (!CheckOpensAt(exe, "firstrun", 0, 0)) {
        return false;
    }
    // Moved, closed, and reopened where it was.
    {
        Session session(exe, "moved");
        if (!session.WriteTemplate(kTemplateSize) || !session.StartToMainWindow()) {
            return false;
        }
        session.WaitForText(kPostfixField, "#");
        SetWindowPos(session.main, nullptr, 137, 91, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        WaitUntil([&] { return WindowRect(session.main).left == 137; }, kUiTimeoutMs);
        if (!session.EndWithEscape() || !CheckStoredPosition(137, 91)) {
            return false;
        }
    }
    if (!CheckOpensAt(exe, "reopen", 137, 91)) {
        return false;
    }
    // Left of the primary screen, as on a monitor to its left.
    WriteDwordSetting("xpos", static_cast<DWORD>(-40));
    WriteDwordSetting("ypos", 25);
    return CheckOpensAt(exe, "negative", -40, 25);
}

// Closed while minimized: the place it is shown at normally is kept, not the
// minimized window's parking place (-32000 on Windows), which would reopen
// the window off the screen.
bool CasePositionMinimized(const std::string& exe) {
    DeleteSettings();
    {
        Session session(exe, "minimized");
        if (!session.WriteTemplate(kTemplateSize) || !session.StartToMainWindow()) {
            return false;
        }
        session.WaitForText(kPostfixField, "#");
        SetWindowPos(session.main, nullptr, 150, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ShowWindowAsync(session.main, SW_MINIMIZE);
        if (!Check(WaitUntil([&] { return IsIconic(session.main) != FALSE; }, kUiTimeoutMs),
                   "the window is minimized")) {
            return false;
        }
        if (!session.EndWithEscape() || !CheckStoredPosition(150, 60)) {
            return false;
        }
    }
    return CheckOpensAt(exe, "unminimized", 150, 60);
}

bool CasePositionOnlyX(const std::string& exe) {
    DeleteSettings();
    WriteDwordSetting("xpos", 300);
    return CheckOpensAt(exe, "onlyx", 0, 0);
}

bool CasePositionYAsString(const std::string& exe) {
    DeleteSettings();
    WriteDwordSetting("xpos", 300);
    WriteStringSetting("ypos", "200");
    return CheckOpensAt(exe, "ystring", 0, 0);
}

// --- Screenshot -------------------------------------------------------------

// Writes the screen area of window as a 24-bit BMP.
bool SaveWindowBitmap(HWND window, const std::string& path) {
    const RECT rect = WindowRect(window);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD rowSize = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(rowSize * static_cast<DWORD>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::vector<unsigned char> bytes(file.bfOffBits);
    std::memcpy(bytes.data(), &file, sizeof file);
    std::memcpy(bytes.data() + sizeof file, &info, sizeof info);
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return WriteFileBytes(path, bytes);
}

// The window after a base file was chosen and two files were repaired.
bool Screenshot(const std::string& exe, const std::string& output) {
    DeleteSettings();
    Session session(exe, "screenshot");
    if (!session.WriteTemplate(kTemplateSize) ||
        !WriteFileBytes(session.Path("Film#1.mpg"), PatternBytes(kFollowUpSize, 3)) ||
        !WriteFileBytes(session.Path("Film#2.mpg"), PatternBytes(kFollowUpSize, 3)) ||
        !session.StartToMainWindow() || !session.ChooseFilmAndStart()) {
        return false;
    }
    const HWND list = session.Control(kStatusList);
    if (!Check(WaitUntil([&] { return ListCount(list) == 2; }, kUiTimeoutMs), "two repairs") ||
        !session.WaitForText(kCurrentFileField, "Film#3.mpg")) {
        return false;
    }
    // Let the window finish painting before it is captured.
    RedrawWindow(session.main, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageTimeoutW(session.main, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    const bool saved = Check(SaveWindowBitmap(session.main, output), "write " + output);
    return session.EndWithEscape() && saved;
}

// The program under test: the build's, or the one named on the command line.
std::string programPath;

// Runs one case on the program. It passes when it went through and no check
// failed on the way; each failed check has printed its reason.
void RunCase(bool (*run)(const std::string& exe)) {
    const int failuresBefore = FailureCount();
    const bool finished = run(programPath);
    EXPECT_TRUE(finished && FailureCount() == failuresBefore) << "see the FAILED lines above";
}

// Named as the cases have always been named, e2e.<case> in CTest's list.
TEST(e2e, resources) {
    RunCase(CaseResources);
}

TEST(e2e, missing_template) {
    RunCase(CaseMissingTemplate);
}

TEST(e2e, template_too_small) {
    RunCase(CaseTemplateTooSmall);
}

TEST(e2e, template_too_large) {
    RunCase(CaseTemplateTooLarge);
}

TEST(e2e, normal_start) {
    RunCase(CaseNormalStart);
}

TEST(e2e, second_copy) {
    RunCase(CaseSecondCopy);
}

TEST(e2e, choose_and_toggle) {
    RunCase(CaseChooseAndToggle);
}

TEST(e2e, held_file_waits_then_repaired) {
    RunCase(CaseHeldFileWaitsThenRepaired);
}

TEST(e2e, read_only_file_never_repaired) {
    RunCase(CaseReadOnlyFileNeverRepaired);
}

TEST(e2e, held_folder_cannot_be_renamed) {
    RunCase(CaseHeldFolderCannotBeRenamed);
}

TEST(e2e, cp932_series) {
    RunCase(CaseCp932Series);
}

TEST(e2e, position_remembered) {
    RunCase(CasePositionRemembered);
}

TEST(e2e, position_minimized) {
    RunCase(CasePositionMinimized);
}

TEST(e2e, position_only_x) {
    RunCase(CasePositionOnlyX);
}

TEST(e2e, position_y_as_string) {
    RunCase(CasePositionYAsString);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    programPath = WindowsPath(argc > 1 ? argv[1] : VELMORA_PROGRAM);
    if (argc == 4 && std::string(argv[2]) == "screenshot") {
        return Screenshot(programPath, WindowsPath(argv[3])) && FailureCount() == 0 ? 0 : 1;
    }
    return RUN_ALL_TESTS();
}

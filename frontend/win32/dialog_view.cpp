#include "dialog_view.h"

#include "byte_text.h"
#include "follow_up_name.h"
#include "repair_controller.h"
#include "resource.h"
#include "win32_repair_files.h"

namespace {

// The postfix field is read with room to spare, so that its cut can be made
// after whole characters.
constexpr int kPostfixReadCount = 4 * static_cast<int>(kPostfixBufferSize);

}  // namespace

void DialogView::ShowError(const char* text) {
    // No owner: the main window stays usable while the message is shown.
    MessageBoxA(nullptr, text, kWindowCaption, MB_OK);
}

void DialogView::CloseMainWindow() {
    EndDialog(dialog_, 0);
}

void DialogView::ReadPostfixField(char* buffer, std::size_t size) {
    char field[kPostfixReadCount] = "";
    GetWindowTextA(Control(IDC_POSTFIX), field, kPostfixReadCount);
    // Cut inside a double-byte character, the postfix would end in a lead
    // byte that takes the counter's first digit into a character of its own.
    std::size_t length = 0;
    while (field[length] != '\0') {
        const auto next = static_cast<std::size_t>(NextAnsiCharacter(field + length) - field);
        if (next > kMaxPostfixLength) {
            break;
        }
        length = next;
    }
    CopyText(buffer, size, field, length);
}

void DialogView::SetCurrentFileText(const char* text) {
    SetWindowTextA(Control(IDC_CURRENT_FILE), text);
}

void DialogView::SetToggleCaption(const char* text) {
    SetWindowTextA(Control(IDC_TOGGLE), text);
}

void DialogView::EnableToggle() {
    EnableWindow(Control(IDC_TOGGLE), TRUE);
}

void DialogView::AppendLogLine(const char* before, const char* name, const char* after) {
    char line[kMaxStatusLineLength + 1];
    TextJoiner text(line, sizeof line);
    text.Append(before);
    text.Append(name);
    text.Append(after);
    text.Finish();  // the controller's lines always fit
    // A name's control characters are shown escaped, never passed on to
    // the list as they are.
    char shown[kMaxShownStatusLineLength + 1];
    EscapeControlCharacters(line, shown, sizeof shown);
    const HWND list = Control(IDC_STATUS_LIST);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown));
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
}

void DialogView::SetPostfixField(const char* text) {
    SetWindowTextA(Control(IDC_POSTFIX), text);
}

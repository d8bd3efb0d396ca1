// The dialog's view on a real list box (run under Wine): a status line goes
// into the list with its control characters escaped. Windows opens no file
// whose name holds one, so no repair can show this; the view escapes all
// the same.
#include "dialog_view.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "follow_up_name.h"
#include "repair_controller.h"
#include "resource.h"

namespace {

std::string ListLine(HWND list, int index) {
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return "<no line>";
    }
    std::string line(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<std::size_t>(length));
    return line;
}

TEST(DialogView, StatusLinesShowControlCharactersEscaped) {
    const HWND dialog = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                                        nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    const HWND list =
        CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_NOSEL, 0, 0, 200, 200, dialog,
                        reinterpret_cast<HMENU>(IDC_STATUS_LIST), nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    DialogView view;
    view.Attach(dialog);

    view.AppendLogLine(kStatusPrefix,
                       "A\nHeader \"Z.mpg\" restauriert!\n\x1b\x7f"
                       "B.mpg",
                       kRepairedSuffix);
    view.AppendLogLine(kStatusPrefix, "Film#1.mpg", kRepairedSuffix);
    // The longest line, every byte a control character: escaped whole.
    const std::string controls(kMaxStatusLineLength, '\x01');
    view.AppendLogLine(controls.substr(0, 14).c_str(), controls.substr(14, kMaxNameLength).c_str(),
                       controls.substr(14 + kMaxNameLength).c_str());

    ASSERT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(ListLine(list, 0),
              R"(Header "A\nHeader "Z.mpg" restauriert!\n\x1b\x7fB.mpg" restauriert!)");
    EXPECT_EQ(ListLine(list, 1), "Header \"Film#1.mpg\" restauriert!");
    std::string escaped;
    for (std::size_t i = 0; i < kMaxStatusLineLength; ++i) {
        escaped += "\\x01";
    }
    EXPECT_EQ(ListLine(list, 2), escaped);
    DestroyWindow(dialog);
}

// On a Japanese system (code page 932; CTest sets LC_ALL for this one) the
// postfix is cut after whole characters: "\x83\x65\x83\x58\x83\x67\x95\x5C"
// (four characters, eight bytes) gives the first three, never a lone lead
// byte that would join the counter's first digit.
TEST(DialogViewCp932, PostfixIsCutAfterWholeCharacters) {
    ASSERT_EQ(GetACP(), 932u) << "needs LC_ALL=ja_JP.UTF-8 and that locale generated";
    const HWND dialog = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                                        nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    const HWND field = CreateWindowExA(0, "EDIT", "", WS_CHILD, 0, 0, 200, 20, dialog,
                                       reinterpret_cast<HMENU>(IDC_POSTFIX), nullptr, nullptr);
    ASSERT_NE(field, nullptr);
    DialogView view;
    view.Attach(dialog);

    char postfix[kPostfixBufferSize];
    SetWindowTextA(field, "\x83\x65\x83\x58\x83\x67\x95\x5C");
    view.ReadPostfixField(postfix, sizeof postfix);
    EXPECT_EQ(std::string(postfix), "\x83\x65\x83\x58\x83\x67");
    SetWindowTextA(field, "_teil#12345");
    view.ReadPostfixField(postfix, sizeof postfix);
    EXPECT_EQ(std::string(postfix), "_teil#1");
    DestroyWindow(dialog);
}

}  // namespace

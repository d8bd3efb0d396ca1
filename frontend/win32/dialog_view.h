// The engine's view operations on the main dialog's controls.
#pragma once

#include <windows.h>

#include <cstddef>

#include "repair_view.h"

class DialogView final : public RepairView {
public:
    // The dialog whose controls the view works on; set before any event.
    void Attach(HWND dialog) { dialog_ = dialog; }

    void ShowError(const char* text) override;
    void CloseMainWindow() override;
    void ReadPostfixField(char* buffer, std::size_t size) override;
    void SetCurrentFileText(const char* text) override;
    void SetToggleCaption(const char* text) override;
    void EnableToggle() override;
    void AppendLogLine(const char* before, const char* name, const char* after) override;

    // Shows the postfix the program starts with.
    void SetPostfixField(const char* text);

private:
    HWND Control(int id) const { return GetDlgItem(dialog_, id); }

    HWND dialog_ = nullptr;
};

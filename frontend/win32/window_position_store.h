// The window position kept between runs in the per-user registry, under
// HKEY_CURRENT_USER\Software\Velmora\Settings as "xpos" and "ypos" (REG_DWORD,
// signed screen pixels).
#pragma once

#include <windows.h>

inline constexpr char kSettingsKeyPath[] = "Software\\Velmora\\Settings";

class WindowPositionStore {
public:
    // Opens (or creates) the settings key and moves the window to the stored
    // position when both values are stored as REG_DWORD.
    void Restore(HWND window);

    // Writes the window's position and closes the key. Does nothing when the
    // key was never opened.
    void Save(HWND window);

private:
    HKEY key_ = nullptr;
};

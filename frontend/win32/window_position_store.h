// The window position kept between runs in the per-user registry, under
// HKEY_CURRENT_USER\Software\Velmora\Settings as "xpos" and "ypos" (REG_DWORD,
// signed screen pixels).
#pragma once

#include <windows.h>

inline constexpr char kSettingsKeyPath[] = "Software\\Velmora\\Settings";

// Owns an open registry key: closes it on Close() or when it goes.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { Close(); }

    // Opens root\path for reading and writing, creating it if needed.
    bool Create(HKEY root, const char* path) {
        Close();
        HKEY key = nullptr;
        if (RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        key_ = key;
        return true;
    }
    void Close() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
    }
    operator HKEY() const { return key_; }

private:
    HKEY key_ = nullptr;
};

class WindowPositionStore {
public:
    // Opens (or creates) the settings key and moves the window to the stored
    // position when both values are stored as REG_DWORD.
    void Restore(HWND window);

    // Writes the window's position and closes the key. Does nothing when the
    // key was never opened.
    void Save(HWND window);

private:
    RegistryKey key_;
};

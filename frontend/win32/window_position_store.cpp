#include "window_position_store.h"

#include <cstdint>

namespace {

// A stored coordinate, present only as a 4-byte REG_DWORD. Any other type or
// size leaves the window where it is: the bytes would mean nothing.
bool ReadCoordinate(HKEY key, const char* name, LONG* coordinate) {
    DWORD type = 0;
    std::uint32_t raw = 0;
    DWORD size = sizeof raw;
    const LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&raw), &size);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof raw) {
        return false;
    }
    *coordinate = static_cast<LONG>(static_cast<std::int32_t>(raw));
    return true;
}

void WriteCoordinate(HKEY key, const char* name, LONG coordinate) {
    const auto raw = static_cast<std::uint32_t>(static_cast<std::int32_t>(coordinate));
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&raw), sizeof raw);
}

// Where the window sits when shown normally. A minimized window reports a
// parking place far off the screen, which must not be remembered.
POINT NormalTopLeft(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (IsIconic(window) && GetWindowPlacement(window, &placement)) {
        // The normal position is in work-area coordinates.
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        const HMONITOR handle =
            MonitorFromRect(&placement.rcNormalPosition, MONITOR_DEFAULTTONEAREST);
        POINT offset = {0, 0};
        if (GetMonitorInfoA(handle, &monitor)) {
            offset.x = monitor.rcWork.left - monitor.rcMonitor.left;
            offset.y = monitor.rcWork.top - monitor.rcMonitor.top;
        }
        return {placement.rcNormalPosition.left + offset.x,
                placement.rcNormalPosition.top + offset.y};
    }
    return {rect.left, rect.top};
}

}  // namespace

void WindowPositionStore::Restore(HWND window) {
    if (!key_.Create(HKEY_CURRENT_USER, kSettingsKeyPath)) {
        return;  // nothing is restored or saved this run
    }
    LONG x = 0;
    LONG y = 0;
    if (ReadCoordinate(key_, "xpos", &x) && ReadCoordinate(key_, "ypos", &y)) {
        SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
}

void WindowPositionStore::Save(HWND window) {
    if (key_ == nullptr) {
        return;
    }
    const POINT topLeft = NormalTopLeft(window);
    WriteCoordinate(key_, "xpos", topLeft.x);
    WriteCoordinate(key_, "ypos", topLeft.y);
    key_.Close();
}

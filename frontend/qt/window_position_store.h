// Remembers where the window was when it was last closed, in the user's
// settings (on Linux ~/.config/Velmora/Settings.conf): "xpos" and "ypos",
// signed 32-bit screen coordinates of the window's top-left corner.
#pragma once

#include <QPoint>
#include <QSettings>
#include <memory>
#include <optional>

class QWidget;

inline constexpr char kSettingsOrganization[] = "Velmora";
inline constexpr char kSettingsApplication[] = "Settings";
inline constexpr char kXPositionKey[] = "xpos";
inline constexpr char kYPositionKey[] = "ypos";

class WindowPositionStore {
public:
    // Opens the settings and moves the window to the stored position, but
    // only when both values are there and are 32-bit integers. The position
    // is taken as stored, even when no screen shows it.
    void Restore(QWidget& window);

    // Writes the window's position and closes the settings. Does nothing
    // when Restore was never called (a failed start).
    void Save(QPoint position);

private:
    std::unique_ptr<QSettings> settings_;
};

// The stored position, if both values hold 32-bit integers.
std::optional<QPoint> ReadStoredPosition(const QSettings& settings);

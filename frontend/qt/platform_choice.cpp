#include "platform_choice.h"

#include <cstdlib>
#include <cstring>

namespace {

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

const char* ChooseQtPlatform(const char* qtPlatform, const char* waylandDisplay,
                             const char* sessionType, const char* x11Display) {
    if (IsSet(qtPlatform) || !IsSet(x11Display)) {
        return nullptr;  // the user's choice, or no X server to prefer
    }
    const bool wayland = IsSet(waylandDisplay) ||
                         (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0);
    return wayland ? "xcb;wayland" : nullptr;
}

bool HasDisplay(const char* qtPlatform, const char* waylandDisplay, const char* x11Display) {
    return IsSet(qtPlatform) || IsSet(waylandDisplay) || IsSet(x11Display);
}

void PreferX11UnderWayland() {
    const char* platform =
        ChooseQtPlatform(std::getenv("QT_QPA_PLATFORM"), std::getenv("WAYLAND_DISPLAY"),
                         std::getenv("XDG_SESSION_TYPE"), std::getenv("DISPLAY"));
    if (platform != nullptr) {
        setenv("QT_QPA_PLATFORM", platform, 1);
    }
}

// Under a Wayland session a program cannot place its own window, so the
// remembered position would be ignored. XWayland can: when it is there, the
// program runs as an X11 client, falling back to Wayland if X11 fails.
#pragma once

// The platform list to use, or nullptr to leave Qt's own choice. Each
// argument is the environment variable's value, or nullptr when unset.
const char* ChooseQtPlatform(const char* qtPlatform, const char* waylandDisplay,
                             const char* sessionType, const char* x11Display);

// Applies the choice to this process's environment, before Qt starts.
void PreferX11UnderWayland();

// Whether Qt can be expected to find a display: an X server or a Wayland
// compositor is named, or a platform was chosen (offscreen, say). Without
// one Qt would abort the program with a core dump.
bool HasDisplay(const char* qtPlatform, const char* waylandDisplay, const char* x11Display);

// The line the program prints when it finds no display.
inline constexpr char kNoDisplayMessage[] =
    "velmora: keine grafische Anzeige gefunden (DISPLAY, WAYLAND_DISPLAY und QT_QPA_PLATFORM "
    "sind nicht gesetzt); velmora ist ein Programm f\xC3\xBCr den Desktop.\n";

// The main window both desktop programs show, in the form of a dialog
// template: its caption and size, and its controls in tab and stacking order,
// each with its id (-1 for a fixed text), its name in the Linux window, its
// kind, its text (Windows-1252) and its place in dialog units. The Windows
// resource script builds its dialog from these lines and the Linux window
// its widgets, so this is the one description of the window. The resource
// compiler reads this file too: outside the part for C++, preprocessor lines
// only.
#pragma once

#include "version.h"

#define VELMORA_WINDOW_CAPTION "Velmora"
#define VELMORA_START_CAPTION "Start"
#define VELMORA_WINDOW_WIDTH 187
#define VELMORA_WINDOW_HEIGHT 243

#define IDC_BASE_FILE 1000
#define IDC_POSTFIX 1001
#define IDC_CURRENT_FILE 1002
#define IDC_TOGGLE 1003
#define IDC_STATUS_LIST 1004

#define VELMORA_DESCRIPTION_TEXT                                          \
    "Restauriert fortlaufend die MPEG- Header der Folge-Dateien, sobald " \
    "Schreibzugriff m\xF6glich!"

// CONTROL(id, name, kind, text, x, y, width, height) for each control. The
// kinds: Button, DisabledButton (Start, until a base file is chosen),
// StatusList, GroupBox, Label, CenteredLabel, Edit, ReadOnlyEdit.
#define VELMORA_WINDOW_CONTROLS(CONTROL)                                                     \
    CONTROL(IDC_TOGGLE, toggleButton, DisabledButton, VELMORA_START_CAPTION, 19, 87, 35, 13) \
    CONTROL(IDC_STATUS_LIST, statusList, StatusList, "", 17, 123, 153, 93)                   \
    CONTROL(-1, footerLabel, Label, "Velmora " VELMORA_VERSION_SHORT, 7, 230, 78, 8)         \
    CONTROL(-1, statusGroup, GroupBox, "Status", 7, 109, 173, 116)                           \
    CONTROL(-1, fileGroup, GroupBox, "Dateiauswahl", 7, 7, 173, 67)                          \
    CONTROL(IDC_CURRENT_FILE, currentFileEdit, ReadOnlyEdit, "", 19, 53, 149, 13)            \
    CONTROL(IDC_POSTFIX, postfixEdit, Edit, "", 136, 24, 31, 13)                             \
    CONTROL(-1, currentFileLabel, Label, "Aktuelle Datei", 29, 44, 48, 8)                    \
    CONTROL(-1, postfixLabel, CenteredLabel, "Postfix", 137, 15, 27, 8)                      \
    CONTROL(IDC_BASE_FILE, baseFileButton, Button, "Basis Datei", 20, 24, 103, 13)           \
    CONTROL(-1, descriptionLabel, CenteredLabel, VELMORA_DESCRIPTION_TEXT, 61, 81, 112, 26)

#ifndef RC_INVOKED

enum class WindowControlKind {
    Button,
    DisabledButton,
    StatusList,
    GroupBox,
    Label,
    CenteredLabel,
    Edit,
    ReadOnlyEdit
};

// Where a control sits, in dialog units.
struct ControlPlace {
    int x, y, width, height;
};

struct WindowControl {
    int id;
    const char* name;
    WindowControlKind kind;
    const char* text;
    ControlPlace place;
};

#define VELMORA_WINDOW_CONTROL_ENTRY(id, name, kind, text, x, y, width, height) \
    {id, #name, WindowControlKind::kind, text, {x, y, width, height}},
inline constexpr WindowControl kWindowControls[] = {
    VELMORA_WINDOW_CONTROLS(VELMORA_WINDOW_CONTROL_ENTRY)};
#undef VELMORA_WINDOW_CONTROL_ENTRY

#endif

// The Linux window's widget for each control of the window's description
// (window_layout.h): a push button, the status list, a group box, a fixed
// text or a line edit, named and captioned as the description has it.
#pragma once

#include "window_layout.h"

class QWidget;

// The widget for control, a child of parent; its place is set later, when
// the window knows its font.
QWidget* CreateWindowControl(QWidget* parent, const WindowControl& control);

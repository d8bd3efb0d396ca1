// Identifiers of the program's resources, shared by the resource script and
// the code. The controls' ids are the window's (window_layout.h).
#pragma once

#include "window_layout.h"

#define IDD_MAIN 101
#define IDI_VELMORA 107

// Identifiers of the program's resources, shared by the resource script and
// the code.
#pragma once

#define IDD_MAIN 101
#define IDI_VELMORA 107

#define IDC_BASE_FILE 1000
#define IDC_POSTFIX 1001
#define IDC_CURRENT_FILE 1002
#define IDC_TOGGLE 1003
#define IDC_STATUS_LIST 1004

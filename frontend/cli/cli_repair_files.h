// The file layer the command-line program repairs through: the one of the
// platform it is built for.
#pragma once

#ifdef _WIN32
#include "win32_repair_files.h"
using CliRepairFiles = Win32RepairFiles;
#else
#include "linux_repair_files.h"
using CliRepairFiles = LinuxRepairFiles;
#endif

// The file layer the command-line program repairs through on Windows.
#pragma once

#include "win32_repair_files.h"

// Names are UTF-8 inside the program, as on Linux, so that every name
// Windows allows can be named; paths may be longer than MAX_PATH. watch
// reads a waiting file's head only inside the exclusive open that repairs
// it. A running service's template may be read beside it (check --header,
// a repair of another folder), never written.
class CliRepairFiles final : public Win32RepairFiles {
public:
    CliRepairFiles()
        : Win32RepairFiles(Win32FilesOptions{.codePage = kUtf8CodePage,
                                             .longPaths = true,
                                             .headReadWhileHeld = true,
                                             .templateReadableByOthers = true}) {}
};

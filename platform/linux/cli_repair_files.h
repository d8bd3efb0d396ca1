// The file layer the command-line program repairs through on Linux.
#pragma once

#include "linux_repair_files.h"

// A follow-up file's head is judged again under the lease that repairs it:
// a recorder may have written a sound head since the service looked. A
// running service's template may be read beside it (check --header, a repair
// of another folder, a second service), never written.
class CliRepairFiles final : public LinuxRepairFiles {
public:
    CliRepairFiles()
        : LinuxRepairFiles(
              LinuxFilesOptions{.headReadWhileHeld = true, .templateReadableByOthers = true}) {}
};

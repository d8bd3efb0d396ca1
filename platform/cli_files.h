// What the command-line program needs from the platform beyond the repair
// itself (which goes through RepairFiles), each concern in a header of its
// own: this one brings them all.
#pragma once

#include "file_reads.h"
#include "new_file.h"
#include "paths.h"
#include "repair_sync.h"
#include "system_text.h"

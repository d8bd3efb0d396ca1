// The repair itself, shared by every program over the engine: the template
// written once over the start of a follow-up file that is held exclusively.
#pragma once

#include "header_template.h"
#include "repair_files.h"

// One write of the template at the position of a freshly opened file, its
// start. True only when every byte of the template was written.
bool WriteTemplate(RepairFiles& files, const HeaderTemplate& headerTemplate, FileHandle file);

enum class RepairResult { Repaired, Unavailable, NoExclusivity, WriteFailed };

// For programs that repair without a person watching: opens `name` in
// `directory` exclusively, writes the template, and closes it again. A file
// that cannot be opened now (missing, busy, read-only) is Unavailable.
RepairResult RepairFollowUpFile(RepairFiles& files, const HeaderTemplate& headerTemplate,
                                const char* directory, const char* name);

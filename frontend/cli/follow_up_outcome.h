// What repair and watch find when they look at a follow-up file and repair
// it, and what each finding means to them: one table, so that both commands
// judge and word every case alike.
#pragma once

#include <string>

#include "cli_repair_files.h"
#include "header_template.h"
#include "repair_files.h"
#include "repair_step.h"
#include "series_folder.h"

enum class Finding {
    Missing,          // no such name
    NotAFile,         // a folder, a link, a FIFO or a device named like a follow-up file
    Empty,            // nothing recorded yet
    TooShort,         // shorter than the template: its writer is not done with it
    Busy,             // another program holds it, or it is read-only
    Unreadable,       // its start cannot be read
    AlreadyRepaired,  // starts with the template
    InOrder,          // starts as a program stream must: a pack header and a system header
    NeedsRepair,
    Repaired,
    NoExclusivity,  // nobody can tell whether another program holds it
    OtherOwner,     // not its base file's owner's file
    FolderGone,     // the folder's name no longer leads to the held folder
    WriteFailed,
    FlushFailed,
};

// What a finding asks of the commands.
enum class FindingKind {
    Done,     // nothing left to do: repair counts it as done, watch forgets it
    Waits,    // recording or another program will change it: watch tries again
    Ignored,  // never a file to repair: watch forgets it without a word
    Refused,  // never written while it stays so: told once
    Failed,   // an error: told, and tried again only when the file changes
};

struct FindingReport {
    FindingKind kind;
    std::string line;  // the line for the user; the name in it as text
};

// `reason` is the system's words for Unreadable, WriteFailed and FlushFailed.
FindingReport ReportOf(Finding finding, const std::string& name, const std::string& reason);

// The file's start beside the template, read inside the held folder without
// any exclusivity (the file may be growing) and never through a link. Never
// NeedsRepair for a file that is shorter than the template or already
// starts as a program stream must. *reason is set for Unreadable.
Finding LookAtFollowUpFile(const SeriesFolder& folder, const std::string& name,
                           const HeaderTemplate& headerTemplate, std::string* reason);

// The repair of a file that a look found to need it; *reason is set for
// WriteFailed and FlushFailed.
Finding RepairFollowUpFileIn(RepairFiles& files, const SeriesFolder& folder,
                             const std::string& name, const std::string& baseName,
                             const HeaderTemplate& headerTemplate, Durability durability,
                             std::string* reason);

// watch's look at a file that may wait on a recorder, and its repair when
// it needs one (flushed before it returns). On Windows the file is looked
// at by its attributes and size alone, since an open for reading would
// refuse a recorder that reopens its part without sharing; its head is
// read only inside the exclusive open that repairs it. On Linux, where an
// open for reading refuses nobody, as LookAtFollowUpFile and
// RepairFollowUpFileIn. *reason as there.
Finding LookAndRepairWaitingFile(RepairFiles& files, const SeriesFolder& folder,
                                 const std::string& name, const std::string& baseName,
                                 const HeaderTemplate& headerTemplate, std::string* reason);

// The repair itself, shared by every program over the engine: the template
// written once over the start of a follow-up file that is held exclusively.
#pragma once

#include "header_template.h"
#include "repair_files.h"

// Why a repair came to ReadFailed, WriteFailed or FlushFailed, for a program
// that puts it into words: the failed call's result, or for a write that
// took only part of the template without a system error, how much it took.
struct RepairFailure {
    FileResult call;
    std::uint32_t bytesWritten = 0;
    std::uint32_t bytesAsked = 0;
};

// One write of the template at the position of a freshly opened file, its
// start. True only when every byte of the template was written; otherwise
// *failure (when given) tells why.
bool WriteTemplate(RepairFiles& files, const HeaderTemplate& headerTemplate, FileHandle file,
                   RepairFailure* failure = nullptr);

enum class RepairResult {
    Repaired,
    AlreadyRepaired,  // its head, read inside the open, is the template already
    InOrder,          // its head, read inside the open, starts as a program stream must
    Unavailable,      // missing, busy or read-only now: tried again later
    NoExclusivity,    // nobody can tell whether another program holds it
    OtherOwner,       // not the base file's owner's file
    FolderGone,       // the held folder's name no longer leads to it
    TooShort,         // shorter than the template: the recorder is not done with it
    ReadFailed,       // its head could not be read inside the open
    WriteFailed,
    FlushFailed,
};

// When a repair reaches the disk: when the system writes its cache back, or
// before RepairFollowUpFile returns (a program that reports each repair as
// it happens, or one without a cheaper way to sync many files at once).
enum class Durability { LeftToTheSystem, FlushedBeforeReturn };

// Who judges a follow-up file's head before it is written: the caller,
// which read it beforehand; or the repair itself, through its exclusive
// open, for a caller that looked at the file without opening it for data
// (so that no open of a waiting file is ever in a recorder's way).
enum class HeadCheck { ByTheCaller, InsideTheOpen };

// For programs that repair without a person watching: opens `name` in the
// held `folder` exclusively, writes the template, and closes it again. A
// file that cannot be opened now (missing, busy, read-only) is Unavailable;
// one shorter than the template is never written (TooShort): a template
// longer than the file would make it longer, over bytes its writer may still
// be about to write. With HeadCheck::InsideTheOpen a head that is the
// template already, or starts as a program stream must, is left as it is.
// FlushFailed means written, but not known to be on the disk. *why (when
// given) tells why for ReadFailed, WriteFailed and FlushFailed.
RepairResult RepairFollowUpFile(RepairFiles& files, const HeaderTemplate& headerTemplate,
                                FolderHandle folder, const char* name, const char* baseName,
                                Durability durability, HeadCheck headCheck,
                                RepairFailure* why = nullptr);

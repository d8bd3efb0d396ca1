// A follow-up file's start beside the header template: what repair and watch
// look at before they try to write the file.
#pragma once

#include <string>

#include "header_template.h"

// What a follow-up file needs, decided before any write.
enum class FollowUpHead {
    Missing,
    NotAFile,
    Empty,
    Busy,  // held by another program that lets nobody read it (Windows)
    Unreadable,
    AlreadyRepaired,
    NeedsRepair,
};

// The file's start beside the template, read without any exclusivity (the
// file may be growing) and never through a link.
FollowUpHead LookAtHead(const std::string& path, const HeaderTemplate& headerTemplate);

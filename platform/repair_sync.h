// How the command-line program's `repair` gets its repairs onto the disk
// before it reports them done. One implementation per platform.
#pragma once

#include <cstdint>
#include <string>

// How `repair` gets what it reports onto the disk before it exits. Where
// this is true (Windows, which flushes a whole volume only for an
// administrator) each repaired file is flushed before its line; otherwise
// (Linux) the sync at the end writes them all at once.
bool FlushesEachRepair();

// The sync of one `repair` run, begun before its first write: on Linux the
// folder held open, so that its syncfs at the end also reports a write-back
// error the system met meanwhile, on any file of the file system. A folder
// that may be searched but not read cannot be held so: then the whole
// system is synced instead.
struct RepairSync {
    std::intptr_t folder = -1;  // -1: none held
    bool wholeSystem = false;
};

// *error holds the system's reason on failure.
bool BeginRepairSync(const char* folder, RepairSync* sync, std::string* error);

// Makes every repair written since BeginRepairSync durable (Linux: syncfs,
// one call for any number of files; where FlushesEachRepair, nothing is
// left to do) and ends the sync. *error holds the system's reason on
// failure.
bool FinishRepairSync(RepairSync* sync, std::string* error);

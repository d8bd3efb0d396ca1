// How the demo recorder splits a recording into files and paces their
// writing: pure arithmetic over the recording's bytes, tested on its own.
#pragma once

#include <cstddef>
#include <vector>

// Where a program stream is cut into `parts` files of about equal size,
// each starting at a valid pack header: parts + 1 offsets, the first 0 and
// the last the recording's size. Empty when there are too few packs to give
// every part at least two (the first pack of a follow-up file is the one a
// recorder loses, so a part needs more than that to show a picture).
std::vector<std::size_t> CutAtPacks(const std::vector<unsigned char>& recording, int parts);

// Where step `step` of `steps` (1 to steps) ends when `size` bytes are
// written in that many steps of sizes as even as whole bytes allow.
std::size_t StepEnd(std::size_t size, int step, int steps);

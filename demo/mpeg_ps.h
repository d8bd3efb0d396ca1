// Just enough of an MPEG-2 program stream for the demo: the header block a
// recorder writes first (pack header, system header, padding to 2048 bytes)
// and packs of padding that stand in for the recorded picture and sound.
#pragma once

#include <cstdint>
#include <vector>

inline constexpr std::size_t kPackSize = 2048;

// The first pack of a program stream: pack header, system header for one
// video and one audio stream, and a padding packet up to kPackSize bytes.
std::vector<unsigned char> MakeHeaderPack();

// A pack of kPackSize bytes holding a padding packet, with the given system
// clock reference (90 kHz units).
std::vector<unsigned char> MakePaddingPack(std::uint64_t systemClock);

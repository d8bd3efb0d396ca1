// Follow-up names: the base name's stem, the postfix, the counter in decimal
// and the base name's tail, e.g. "Film.mpg" -> "Film#1.mpg", "Film#2.mpg", ...
#pragma once

#include <cstddef>
#include <cstdint>

// File names are at most 259 bytes, held in 260-byte buffers.
inline constexpr std::size_t kMaxNameLength = 259;
inline constexpr std::size_t kNameBufferSize = kMaxNameLength + 1;
inline constexpr std::size_t kMaxPostfixLength = 7;
inline constexpr std::size_t kPostfixBufferSize = kMaxPostfixLength + 1;
inline constexpr std::size_t kMaxCounterDigits = 5;  // "65535"

// The split point of a base name by its last dot: the bytes before it, or the
// whole name when it has no dot ("Film" -> stem "Film", empty tail).
std::uint16_t StemLengthOfName(const char* baseName);

// The longest follow-up name a base name and postfix can give, any counter.
std::size_t MaxFollowUpNameLength(const char* baseName, const char* postfix);

// Whether `name` is a follow-up name of some base name with this postfix:
// stem, postfix, a counter (decimal, no leading zero, at most 65535) and the
// tail that the base name's last dot gives. On success writes the base name
// into baseName (size bytes) and the counter into *counter. The answer is
// checked with BuildFollowUpName, so it follows the same rules.
bool ParseFollowUpName(const char* name, const char* postfix, char* baseName, std::size_t size,
                       std::uint16_t* counter);

// Writes stem, postfix, counter and tail into out (size bytes). Returns false,
// leaving out empty, if the name would not fit.
bool BuildFollowUpName(const char* baseName, std::uint16_t stemLength, const char* postfix,
                       std::uint16_t counter, char* out, std::size_t size);

// MPEG program streams (MPEG-1 system streams and MPEG-2 program streams), as
// far as the header template needs them: the pack header, the system header,
// and the padding packet that fills a template to its size. Pure byte logic:
// every read is checked against the bytes given, whatever they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class MpegSystem { Mpeg1, Mpeg2 };

enum class ParseResult { Valid, Truncated, Invalid };

struct PackHeader {
    MpegSystem system = MpegSystem::Mpeg2;
    std::size_t length = 0;     // from the start code through the last stuffing byte
    std::uint32_t muxRate = 0;  // in units of 50 bytes a second
};

struct SystemHeader {
    std::size_t length = 0;  // start code and length field included
    std::uint32_t rateBound = 0;
    std::vector<std::uint8_t> streamIds;  // as listed; 0xB7 for an extended stream id
};

// The longest a pack header (MPEG-2, 7 stuffing bytes) and a system header
// (a 16-bit length) can be together.
inline constexpr std::size_t kLongestPackAndSystemHeader = 14 + 7 + 6 + 0xFFFF;

// The pack header at the start of `bytes`. Invalid when the start code, a
// marker bit, a stuffing byte or the mux rate (never 0) is wrong; Truncated
// when the bytes end inside an otherwise valid one.
ParseResult ParsePackHeader(const unsigned char* bytes, std::size_t size, PackHeader* pack);

// The system header at the start of `bytes`, judged the same way. Its stream
// entries must fill its length exactly.
ParseResult ParseSystemHeader(const unsigned char* bytes, std::size_t size, SystemHeader* header);

// A transport stream: the sync byte 0x47 at the start of each of the first
// packets, 188 bytes apart (or 192, with the 4-byte time stamp of .m2ts files).
bool LooksLikeTransportStream(const unsigned char* bytes, std::size_t size);

// A pack header directly followed by a system header.
struct HeaderPack {
    std::size_t offset = 0;  // where the pack starts
    PackHeader pack;
    SystemHeader system;
};

enum class HeaderSearch { Found, TransportStream, NotFound, Truncated };

// The first pack that starts before `searchLimit` and carries a system header
// directly after its pack header. Truncated when no such pack was found but
// one was cut off by the end of the bytes.
HeaderSearch FindHeaderPack(const unsigned char* bytes, std::size_t size, std::size_t searchLimit,
                            HeaderPack* found);

// The smallest template for `found`: both headers and the padding packet's
// own bytes (6, and for MPEG-1 one more for its "no time stamps" byte).
std::size_t SmallestTemplateSize(const HeaderPack& found);

// The template: the pack header and the system header as `bytes` (the bytes
// FindHeaderPack searched) hold them, then one padding packet up to `size`.
// False, and nothing built, when `size` is below SmallestTemplateSize or
// the padding packet would need more than its 16-bit length.
bool BuildHeaderTemplate(const unsigned char* bytes, const HeaderPack& found, std::size_t size,
                         std::vector<unsigned char>* out);

// Whether a file that begins with `bytes` starts as a program stream must,
// MPEG-1 and MPEG-2 alike: a valid pack header at byte 0 directly followed
// by a valid system header (the first pack of a program stream carries
// one). Such a file is in order and is never written over. Truncated when
// the bytes end inside what is so far a valid start: read more, or, when
// they are the whole file, the file is cut off and not in order. Never
// Truncated for kLongestPackAndSystemHeader bytes or more.
ParseResult StartsAsProgramStream(const unsigned char* bytes, std::size_t size);

enum class StartVerdict {
    Valid,                // a valid pack header directly followed by a valid system header
    NoPackHeader,         // no valid pack header at offset 0
    PackHeaderTruncated,  // the file ends inside it
    NoSystemHeader,       // no system header right after the pack header
    BadSystemHeader,      // a system header follows, but it is invalid or cut off
};

struct FileStart {
    StartVerdict verdict = StartVerdict::NoPackHeader;
    PackHeader pack;
    SystemHeader system;  // when Valid
};

// How the bytes of a file's start (at least kLongestPackAndSystemHeader of
// them, or the whole file) begin, as strict players and editors judge it:
// Valid exactly when StartsAsProgramStream says Valid, with the reason why
// not otherwise.
FileStart CheckFileStart(const unsigned char* bytes, std::size_t size);

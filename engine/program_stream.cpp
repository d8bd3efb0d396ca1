#include "program_stream.h"

#include <algorithm>

namespace {

constexpr unsigned char kPackStartCode = 0xBA;
constexpr unsigned char kSystemHeaderStartCode = 0xBB;
constexpr unsigned char kPaddingStreamId = 0xBE;
constexpr unsigned char kExtendedStreamId = 0xB7;
constexpr std::size_t kMpeg1PackLength = 12;
constexpr std::size_t kMpeg2PackLength = 14;
constexpr std::size_t kSystemHeaderFixedLength = 12;  // start code to the first stream entry
constexpr unsigned char kTransportSyncByte = 0x47;

// A byte that must have certain bits set or clear.
struct BitRule {
    std::size_t at;
    unsigned char mask;
    unsigned char value;
};

// Start code prefix, marker bits, and the '0010' (MPEG-1) or '01' (MPEG-2)
// that tells the two forms apart.
constexpr BitRule kMpeg1PackRules[] = {
    {4, 0xF1, 0x21}, {6, 0x01, 0x01}, {8, 0x01, 0x01}, {9, 0x80, 0x80}, {11, 0x01, 0x01}};
constexpr BitRule kMpeg2PackRules[] = {
    {4, 0xC4, 0x44}, {6, 0x04, 0x04}, {8, 0x04, 0x04}, {9, 0x01, 0x01}, {12, 0x03, 0x03}};
constexpr BitRule kSystemHeaderRules[] = {{6, 0x80, 0x80}, {8, 0x01, 0x01}, {10, 0x20, 0x20}};

// Whether every rule on a byte that is there holds; bytes past `size` are
// not judged, so a cut-off header can still be told from a wrong one.
template <std::size_t N>
bool FollowsRules(const unsigned char* bytes, std::size_t size, const BitRule (&rules)[N]) {
    for (const BitRule& rule : rules) {
        if (rule.at < size && (bytes[rule.at] & rule.mask) != rule.value) {
            return false;
        }
    }
    return true;
}

// Whether the bytes there agree with the start code 00 00 01 `code`.
bool StartsLikeStartCode(const unsigned char* bytes, std::size_t size, unsigned char code) {
    const unsigned char startCode[] = {0x00, 0x00, 0x01, code};
    for (std::size_t i = 0; i < 4 && i < size; ++i) {
        if (bytes[i] != startCode[i]) {
            return false;
        }
    }
    return true;
}

bool HasStartCode(const unsigned char* bytes, std::size_t size, unsigned char code) {
    return size >= 4 && StartsLikeStartCode(bytes, size, code);
}

std::uint32_t Mpeg1MuxRate(const unsigned char* b) {
    return (static_cast<std::uint32_t>(b[9] & 0x7F) << 15) |
           (static_cast<std::uint32_t>(b[10]) << 7) | (b[11] >> 1);
}

std::uint32_t Mpeg2MuxRate(const unsigned char* b) {
    return (static_cast<std::uint32_t>(b[10]) << 14) | (static_cast<std::uint32_t>(b[11]) << 6) |
           (b[12] >> 2);
}

ParseResult ParseMpeg1Pack(const unsigned char* bytes, std::size_t size, PackHeader* pack) {
    if (!FollowsRules(bytes, size, kMpeg1PackRules)) {
        return ParseResult::Invalid;
    }
    if (size < kMpeg1PackLength) {
        return ParseResult::Truncated;
    }
    pack->system = MpegSystem::Mpeg1;
    pack->length = kMpeg1PackLength;
    pack->muxRate = Mpeg1MuxRate(bytes);
    return pack->muxRate == 0 ? ParseResult::Invalid : ParseResult::Valid;
}

ParseResult ParseMpeg2Pack(const unsigned char* bytes, std::size_t size, PackHeader* pack) {
    if (!FollowsRules(bytes, size, kMpeg2PackRules)) {
        return ParseResult::Invalid;
    }
    if (size < kMpeg2PackLength) {
        return ParseResult::Truncated;
    }
    const std::size_t length = kMpeg2PackLength + (bytes[13] & 0x07);
    const std::size_t present = std::min(size, length);
    for (std::size_t at = kMpeg2PackLength; at < present; ++at) {
        if (bytes[at] != 0xFF) {
            return ParseResult::Invalid;  // stuffing bytes are all 0xFF
        }
    }
    pack->system = MpegSystem::Mpeg2;
    pack->length = length;
    pack->muxRate = Mpeg2MuxRate(bytes);
    if (pack->muxRate == 0) {
        return ParseResult::Invalid;
    }
    return size < length ? ParseResult::Truncated : ParseResult::Valid;
}

// One stream entry at `at`: 3 bytes, or 6 for an extended stream id. Its size
// goes to *entrySize, whether or not all of it is there.
ParseResult ParseStreamEntry(const unsigned char* bytes, std::size_t size, std::size_t at,
                             std::size_t* entrySize, std::uint8_t* streamId) {
    const unsigned char id = bytes[at];
    // Ids an entry may name: the extension escape, "all audio" and "all
    // video" (B8, B9), and the ids of real streams from BC on.
    const bool knownId = id == kExtendedStreamId || id == 0xB8 || id == 0xB9 || id >= 0xBC;
    if (!knownId) {
        return ParseResult::Invalid;
    }
    *streamId = id;
    const BitRule plainRules[] = {{at + 1, 0xC0, 0xC0}};
    const BitRule extendedRules[] = {
        {at + 1, 0xFF, 0xC0}, {at + 2, 0x80, 0x00}, {at + 3, 0xFF, 0xB6}, {at + 4, 0xC0, 0xC0}};
    const bool extended = id == kExtendedStreamId;
    *entrySize = extended ? 6 : 3;
    if (!(extended ? FollowsRules(bytes, size, extendedRules)
                   : FollowsRules(bytes, size, plainRules))) {
        return ParseResult::Invalid;
    }
    return size - at < *entrySize ? ParseResult::Truncated : ParseResult::Valid;
}

// The sync byte at `first` and every `stride` bytes after it, for up to five
// packets, and at least two of them.
bool SyncBytesEvery(const unsigned char* bytes, std::size_t size, std::size_t first,
                    std::size_t stride) {
    int packets = 0;
    for (std::size_t at = first; at < size && packets < 5; at += stride, ++packets) {
        if (bytes[at] != kTransportSyncByte) {
            return false;
        }
    }
    return packets >= 2;
}

}  // namespace

ParseResult ParsePackHeader(const unsigned char* bytes, std::size_t size, PackHeader* pack) {
    if (!StartsLikeStartCode(bytes, size, kPackStartCode)) {
        return ParseResult::Invalid;
    }
    if (size < 5) {
        return ParseResult::Truncated;
    }
    if ((bytes[4] & 0xF0) == 0x20) {
        return ParseMpeg1Pack(bytes, size, pack);
    }
    if ((bytes[4] & 0xC0) == 0x40) {
        return ParseMpeg2Pack(bytes, size, pack);
    }
    return ParseResult::Invalid;
}

ParseResult ParseSystemHeader(const unsigned char* bytes, std::size_t size, SystemHeader* header) {
    if (!StartsLikeStartCode(bytes, size, kSystemHeaderStartCode) ||
        !FollowsRules(bytes, size, kSystemHeaderRules)) {
        return ParseResult::Invalid;
    }
    if (size < 6) {
        return ParseResult::Truncated;
    }
    const std::size_t length = 6 + ((static_cast<std::size_t>(bytes[4]) << 8) | bytes[5]);
    if (length < kSystemHeaderFixedLength) {
        return ParseResult::Invalid;
    }
    if (size < kSystemHeaderFixedLength) {
        return ParseResult::Truncated;
    }
    header->length = length;
    header->rateBound = (static_cast<std::uint32_t>(bytes[6] & 0x7F) << 15) |
                        (static_cast<std::uint32_t>(bytes[7]) << 7) | (bytes[8] >> 1);
    header->streamIds.clear();
    std::size_t at = kSystemHeaderFixedLength;
    while (at < length) {
        if (at >= size) {
            return ParseResult::Truncated;
        }
        std::size_t entrySize = 0;
        std::uint8_t streamId = 0;
        const ParseResult entry = ParseStreamEntry(bytes, size, at, &entrySize, &streamId);
        if (entry == ParseResult::Invalid || length - at < entrySize) {
            return ParseResult::Invalid;  // the entries must fill the header exactly
        }
        if (entry == ParseResult::Truncated) {
            return ParseResult::Truncated;
        }
        header->streamIds.push_back(streamId);
        at += entrySize;
    }
    return ParseResult::Valid;
}

bool LooksLikeTransportStream(const unsigned char* bytes, std::size_t size) {
    return SyncBytesEvery(bytes, size, 0, 188) || SyncBytesEvery(bytes, size, 4, 192);
}

HeaderSearch FindHeaderPack(const unsigned char* bytes, std::size_t size, std::size_t searchLimit,
                            HeaderPack* found) {
    if (LooksLikeTransportStream(bytes, size)) {
        return HeaderSearch::TransportStream;
    }
    bool cutOff = false;
    const std::size_t end = std::min(size, searchLimit);
    for (std::size_t at = 0; at < end; ++at) {
        if (!HasStartCode(bytes + at, size - at, kPackStartCode)) {
            continue;
        }
        PackHeader pack;
        const ParseResult packResult = ParsePackHeader(bytes + at, size - at, &pack);
        cutOff = cutOff || packResult == ParseResult::Truncated;
        if (packResult != ParseResult::Valid) {
            continue;
        }
        SystemHeader system;
        const std::size_t systemAt = at + pack.length;
        const ParseResult systemResult =
            ParseSystemHeader(bytes + systemAt, size - systemAt, &system);
        if (systemResult == ParseResult::Valid) {
            found->offset = at;
            found->pack = pack;
            found->system = system;
            return HeaderSearch::Found;
        }
        cutOff = cutOff || systemResult == ParseResult::Truncated;
    }
    return cutOff ? HeaderSearch::Truncated : HeaderSearch::NotFound;
}

std::size_t SmallestTemplateSize(const HeaderPack& found) {
    return found.pack.length + found.system.length + 6 +
           (found.pack.system == MpegSystem::Mpeg1 ? 1 : 0);
}

bool BuildHeaderTemplate(const unsigned char* bytes, const HeaderPack& found, std::size_t size,
                         std::vector<unsigned char>* out) {
    const std::size_t headers = found.pack.length + found.system.length;
    if (size < SmallestTemplateSize(found) || size - headers - 6 > 0xFFFF) {
        return false;
    }
    const std::size_t paddingLength = size - headers - 6;
    out->assign(bytes + found.offset, bytes + found.offset + headers);
    out->insert(out->end(),
                {0x00, 0x00, 0x01, kPaddingStreamId, static_cast<unsigned char>(paddingLength >> 8),
                 static_cast<unsigned char>(paddingLength)});
    // An MPEG-1 packet says "no time stamps" (0000 1111) before its data.
    if (found.pack.system == MpegSystem::Mpeg1) {
        out->push_back(0x0F);
    }
    out->resize(size, 0xFF);
    return true;
}

ParseResult StartsAsProgramStream(const unsigned char* bytes, std::size_t size) {
    PackHeader pack;
    const ParseResult packResult = ParsePackHeader(bytes, size, &pack);
    if (packResult != ParseResult::Valid) {
        return packResult;
    }
    SystemHeader system;
    return ParseSystemHeader(bytes + pack.length, size - pack.length, &system);
}

FileStart CheckFileStart(const unsigned char* bytes, std::size_t size) {
    FileStart start;
    const ParseResult packResult = ParsePackHeader(bytes, size, &start.pack);
    if (packResult != ParseResult::Valid) {
        start.verdict = packResult == ParseResult::Truncated ? StartVerdict::PackHeaderTruncated
                                                             : StartVerdict::NoPackHeader;
        return start;
    }
    const unsigned char* rest = bytes + start.pack.length;
    const std::size_t restSize = size - start.pack.length;
    if (!HasStartCode(rest, restSize, kSystemHeaderStartCode)) {
        start.verdict = StartVerdict::NoSystemHeader;
        return start;
    }
    start.verdict = ParseSystemHeader(rest, restSize, &start.system) == ParseResult::Valid
                        ? StartVerdict::Valid
                        : StartVerdict::BadSystemHeader;
    return start;
}

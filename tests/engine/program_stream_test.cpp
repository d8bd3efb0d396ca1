#include "program_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The headers ffmpeg writes at the start of an MPEG-1 system stream and of an
// MPEG-2 program stream (-f vob): pack header, then the system header for
// one video (E0) and one audio stream (C0).
const Bytes kMpeg1Pack = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0xA1, 0xA1, 0xAD};
const Bytes kMpeg2Pack = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                          0x00, 0x04, 0x01, 0x43, 0x43, 0x5B, 0xF8};
const Bytes kSystemHeader = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C, 0xA1, 0xA1, 0xAD,
                             0x04, 0x21, 0xFF, 0xE0, 0xE0, 0xE6, 0xC0, 0xC0, 0x20};
// A video packet's start, as follows a pack that has no system header.
const Bytes kVideoPacket = {0x00, 0x00, 0x01, 0xE0, 0x07, 0xDA, 0x80, 0xC1};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// The MPEG-2 pack with two stuffing bytes.
Bytes StuffedMpeg2Pack() {
    Bytes pack = kMpeg2Pack;
    pack[13] = 0xFA;
    pack.insert(pack.end(), {0xFF, 0xFF});
    return pack;
}

// A system header with a plain entry and an extended one (B7, 6 bytes).
Bytes ExtendedSystemHeader() {
    Bytes header = kSystemHeader;
    header[5] = 0x12;
    header.insert(header.end(), {0xB7, 0xC0, 0x55, 0xB6, 0xE0, 0x10});
    return header;
}

TEST(ProgramStream, EveryCutOfAValidHeaderIsTruncatedAndTheWholeIsValid) {
    struct Case {
        Bytes pack;
        MpegSystem system;
        std::uint32_t muxRate;
    };
    const Case packs[] = {{kMpeg1Pack, MpegSystem::Mpeg1, 0x21 << 15 | 0xA1 << 7 | 0x56},
                          {kMpeg2Pack, MpegSystem::Mpeg2, 0x43 << 14 | 0x43 << 6 | 0x16},
                          {StuffedMpeg2Pack(), MpegSystem::Mpeg2, 0x43 << 14 | 0x43 << 6 | 0x16}};
    for (const Case& c : packs) {
        for (std::size_t cut = 0; cut < c.pack.size(); ++cut) {
            PackHeader pack;
            EXPECT_EQ(ParsePackHeader(c.pack.data(), cut, &pack), ParseResult::Truncated) << cut;
        }
        PackHeader pack;
        ASSERT_EQ(ParsePackHeader(c.pack.data(), c.pack.size(), &pack), ParseResult::Valid);
        EXPECT_EQ(pack.system, c.system);
        EXPECT_EQ(pack.length, c.pack.size());
        EXPECT_EQ(pack.muxRate, c.muxRate);
    }
    for (const Bytes& header : {kSystemHeader, ExtendedSystemHeader()}) {
        for (std::size_t cut = 0; cut < header.size(); ++cut) {
            SystemHeader system;
            EXPECT_EQ(ParseSystemHeader(header.data(), cut, &system), ParseResult::Truncated)
                << cut;
        }
    }
    SystemHeader system;
    const Bytes extended = ExtendedSystemHeader();
    ASSERT_EQ(ParseSystemHeader(extended.data(), extended.size(), &system), ParseResult::Valid);
    EXPECT_EQ(system.length, extended.size());
    EXPECT_EQ(system.streamIds, (std::vector<std::uint8_t>{0xE0, 0xC0, 0xB7}));
}

TEST(ProgramStream, WrongMarkersStuffingRateOrEntriesAreInvalid) {
    auto packWith = [](Bytes bytes, std::size_t at, unsigned char value) {
        bytes[at] = value;
        PackHeader pack;
        return ParsePackHeader(bytes.data(), bytes.size(), &pack);
    };
    EXPECT_EQ(packWith(kMpeg1Pack, 6, 0x00), ParseResult::Invalid);   // marker after SCR[21..15]
    EXPECT_EQ(packWith(kMpeg1Pack, 4, 0x31), ParseResult::Invalid);   // neither '0010' nor '01'
    EXPECT_EQ(packWith(kMpeg2Pack, 12, 0x58), ParseResult::Invalid);  // marker after the rate
    EXPECT_EQ(packWith(StuffedMpeg2Pack(), 15, 0x00), ParseResult::Invalid);  // stuffing not FF
    Bytes noRate = kMpeg2Pack;
    noRate[10] = noRate[11] = 0x00;
    EXPECT_EQ(packWith(noRate, 12, 0x03), ParseResult::Invalid);

    auto systemWith = [](Bytes bytes, std::size_t at, unsigned char value) {
        bytes[at] = value;
        SystemHeader system;
        return ParseSystemHeader(bytes.data(), bytes.size(), &system);
    };
    EXPECT_EQ(systemWith(kSystemHeader, 10, 0x01), ParseResult::Invalid);  // marker before video
    EXPECT_EQ(systemWith(kSystemHeader, 15, 0x80), ParseResult::Invalid);  // no stream id 0x80
    EXPECT_EQ(systemWith(kSystemHeader, 16, 0x00), ParseResult::Invalid);  // '11' missing
    // A length that leaves a part of an entry over.
    EXPECT_EQ(systemWith(Join({kSystemHeader, {0xFF}}), 5, 0x0D), ParseResult::Invalid);
}

TEST(ProgramStream, FindsTheFirstPackThatCarriesASystemHeader) {
    Bytes fakePack = kMpeg2Pack;
    fakePack[4] = 0x00;  // a start code in the pictures, not a pack
    const Bytes before = Join({fakePack, kMpeg2Pack, kVideoPacket, Bytes(100, 0xAB)});
    const Bytes stream = Join({before, kMpeg2Pack, kSystemHeader, kVideoPacket});

    HeaderPack found;
    ASSERT_EQ(FindHeaderPack(stream.data(), stream.size(), stream.size(), &found),
              HeaderSearch::Found);
    EXPECT_EQ(found.offset, before.size());
    EXPECT_EQ(found.pack.length, kMpeg2Pack.size());
    EXPECT_EQ(found.system.streamIds, (std::vector<std::uint8_t>{0xE0, 0xC0}));
    // Only packs that start before the limit count.
    EXPECT_EQ(FindHeaderPack(stream.data(), stream.size(), before.size(), &found),
              HeaderSearch::NotFound);
    // A system header cut by the end of the bytes.
    EXPECT_EQ(FindHeaderPack(stream.data(), before.size() + 20, stream.size(), &found),
              HeaderSearch::Truncated);

    Bytes transport(5 * 188, 0x00);
    Bytes timestamped(5 * 192, 0x00);
    for (int packet = 0; packet < 5; ++packet) {
        transport[static_cast<std::size_t>(packet) * 188] = 0x47;
        timestamped[static_cast<std::size_t>(packet) * 192 + 4] = 0x47;
    }
    // Even with a header pack inside, a transport stream is refused as one.
    ASSERT_LT(8 + stream.size(), std::size_t{188});
    std::copy(stream.begin(), stream.end(), transport.begin() + 8);
    EXPECT_EQ(FindHeaderPack(transport.data(), transport.size(), transport.size(), &found),
              HeaderSearch::TransportStream);
    EXPECT_EQ(FindHeaderPack(timestamped.data(), timestamped.size(), timestamped.size(), &found),
              HeaderSearch::TransportStream);
}

TEST(ProgramStream, TemplateIsTheHeadersAndOnePaddingPacketOfExactlyTheSize) {
    for (const Bytes& pack : {kMpeg1Pack, StuffedMpeg2Pack()}) {
        const Bytes stream = Join({Bytes(7, 0x00), pack, kSystemHeader, kVideoPacket});
        HeaderPack found;
        ASSERT_EQ(FindHeaderPack(stream.data(), stream.size(), stream.size(), &found),
                  HeaderSearch::Found);
        const bool mpeg1 = found.pack.system == MpegSystem::Mpeg1;
        const std::size_t headers = pack.size() + kSystemHeader.size();
        ASSERT_EQ(SmallestTemplateSize(found), headers + (mpeg1 ? 7 : 6));

        Bytes built;
        EXPECT_FALSE(
            BuildHeaderTemplate(stream.data(), found, SmallestTemplateSize(found) - 1, &built));
        for (const std::size_t size :
             {SmallestTemplateSize(found), std::size_t{64}, std::size_t{2048}}) {
            ASSERT_TRUE(BuildHeaderTemplate(stream.data(), found, size, &built));
            ASSERT_EQ(built.size(), size);
            EXPECT_EQ(Bytes(built.begin(), built.begin() + static_cast<long>(headers)),
                      Join({pack, kSystemHeader}));
            const FileStart start = CheckFileStart(built.data(), built.size());
            EXPECT_EQ(start.verdict, StartVerdict::Valid);
            EXPECT_EQ(start.system.streamIds, (std::vector<std::uint8_t>{0xE0, 0xC0}));
            // The padding packet's length reaches exactly to the end.
            const unsigned char* padding = built.data() + headers;
            EXPECT_EQ(Bytes(padding, padding + 4), (Bytes{0x00, 0x00, 0x01, 0xBE}));
            EXPECT_EQ(static_cast<std::size_t>(padding[4] << 8 | padding[5]), size - headers - 6);
            if (mpeg1) {
                EXPECT_EQ(padding[6], 0x0F);  // MPEG-1's "no time stamps"
            }
            for (std::size_t at = headers + (mpeg1 ? 7 : 6); at < size; ++at) {
                ASSERT_EQ(built[at], 0xFF) << at;
            }
        }
    }
}

// The longest start: an MPEG-2 pack with 7 stuffing bytes and a system
// header of the greatest length, 21843 stream entries.
Bytes LongestStart() {
    Bytes pack = kMpeg2Pack;
    pack[13] = 0xFF;
    pack.insert(pack.end(), 7, 0xFF);
    Bytes system = kSystemHeader;
    system.resize(12);
    system[4] = system[5] = 0xFF;
    while (system.size() < 6 + 0xFFFF) {
        system.insert(system.end(), {0xE0, 0xE0, 0xE6});
    }
    return Join({pack, system, kVideoPacket});
}

// A start is in order only as a pack header directly followed by a system
// header, MPEG-1 and MPEG-2 alike; check's verdict and StartsAsProgramStream
// agree on it, and bytes that end inside a start that is so far valid are
// Truncated ("read more"), not Invalid.
TEST(ProgramStream, FileStartVerdicts) {
    struct Case {
        Bytes bytes;
        StartVerdict verdict;
        ParseResult starts;
    };
    Bytes badSystemHeader = kSystemHeader;
    badSystemHeader[6] = 0x21;  // rate bound marker cleared
    Bytes badMpeg1Pack = kMpeg1Pack;
    badMpeg1Pack[8] = 0x00;  // marker after SCR[14..0] cleared
    Bytes badMpeg2Pack = kMpeg2Pack;
    badMpeg2Pack[6] = 0x00;  // marker after SCR[29..15] cleared
    const Bytes cutSystemHeader(kSystemHeader.begin(), kSystemHeader.end() - 1);
    const Case cases[] = {
        {Join({kMpeg1Pack, kSystemHeader, kVideoPacket}), StartVerdict::Valid, ParseResult::Valid},
        {Join({StuffedMpeg2Pack(), ExtendedSystemHeader()}), StartVerdict::Valid,
         ParseResult::Valid},
        {Join({kMpeg2Pack, kVideoPacket}), StartVerdict::NoSystemHeader, ParseResult::Invalid},
        {Join({kMpeg1Pack, kVideoPacket}), StartVerdict::NoSystemHeader, ParseResult::Invalid},
        {kMpeg2Pack, StartVerdict::NoSystemHeader, ParseResult::Truncated},
        {Join({kMpeg2Pack, badSystemHeader}), StartVerdict::BadSystemHeader, ParseResult::Invalid},
        {Join({kMpeg2Pack, cutSystemHeader}), StartVerdict::BadSystemHeader,
         ParseResult::Truncated},
        {Join({badMpeg1Pack, kSystemHeader}), StartVerdict::NoPackHeader, ParseResult::Invalid},
        {Join({badMpeg2Pack, kSystemHeader}), StartVerdict::NoPackHeader, ParseResult::Invalid},
        {Join({Bytes(2048, 0x00), kMpeg2Pack, kSystemHeader}), StartVerdict::NoPackHeader,
         ParseResult::Invalid},
        {Join({Bytes{0xFF}, kMpeg2Pack, kSystemHeader}), StartVerdict::NoPackHeader,
         ParseResult::Invalid},
        {Bytes(kMpeg2Pack.begin(), kMpeg2Pack.end() - 1), StartVerdict::PackHeaderTruncated,
         ParseResult::Truncated},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckFileStart(c.bytes.data(), c.bytes.size()).verdict, c.verdict) << &c - cases;
        EXPECT_EQ(StartsAsProgramStream(c.bytes.data(), c.bytes.size()), c.starts) << &c - cases;
    }
    const Bytes start = Join({kMpeg1Pack, kSystemHeader});
    for (std::size_t cut = 0; cut < start.size(); ++cut) {
        EXPECT_EQ(StartsAsProgramStream(start.data(), cut), ParseResult::Truncated) << cut;
    }

    // The first 2048 bytes of the longest start only say "read more";
    // kLongestPackAndSystemHeader bytes always decide.
    Bytes longest = LongestStart();
    ASSERT_EQ(longest.size(), kLongestPackAndSystemHeader + kVideoPacket.size());
    EXPECT_EQ(StartsAsProgramStream(longest.data(), 2048), ParseResult::Truncated);
    EXPECT_EQ(StartsAsProgramStream(longest.data(), kLongestPackAndSystemHeader - 1),
              ParseResult::Truncated);
    EXPECT_EQ(StartsAsProgramStream(longest.data(), kLongestPackAndSystemHeader),
              ParseResult::Valid);
    EXPECT_EQ(CheckFileStart(longest.data(), longest.size()).verdict, StartVerdict::Valid);
    longest[kLongestPackAndSystemHeader - 2] = 0x00;  // the last entry's '11' cleared
    EXPECT_EQ(StartsAsProgramStream(longest.data(), longest.size()), ParseResult::Invalid);
}

}  // namespace

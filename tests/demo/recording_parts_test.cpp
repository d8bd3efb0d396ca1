// The demo's header pack is the start of a program stream. The demo recorder
// cuts a recording only where a pack starts, into parts of about equal size
// that each hold more than the pack a recorder loses, and spreads a part's
// bytes evenly over its steps.
#include "recording_parts.h"

#include <gtest/gtest.h>

#include <vector>

#include "mpeg_ps.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A program stream of `packs` packs of kPackSize bytes.
Bytes Stream(int packs) {
    Bytes bytes = MakeHeaderPack();
    for (int i = 1; i < packs; ++i) {
        const Bytes pack = MakePaddingPack(static_cast<std::uint64_t>(i) * 1000);
        bytes.insert(bytes.end(), pack.begin(), pack.end());
    }
    return bytes;
}

TEST(MpegPs, HeaderPackIsAProgramStreamStart) {
    const std::vector<unsigned char> pack = MakeHeaderPack();
    EXPECT_EQ(pack.size(), 2048u);
    // Pack header: start code, MPEG-2 marker bits, no stuffing.
    EXPECT_EQ(Bytes(pack.begin(), pack.begin() + 4), (Bytes{0x00, 0x00, 0x01, 0xBA}));
    EXPECT_EQ(pack[4] & 0xC4, 0x44);
    EXPECT_EQ(pack[13] & 0x07, 0);
    // System header right after it, its length covering two streams.
    EXPECT_EQ(pack[17], 0xBB);
    EXPECT_EQ((pack[18] << 8) | pack[19], 12);
    // A padding packet fills the rest exactly.
    const std::size_t padding = 14 + 6 + 12;
    EXPECT_EQ(pack[padding + 3], 0xBE);
    EXPECT_EQ(padding + 6 + ((pack[padding + 4] << 8) | pack[padding + 5]), 2048u);
    const std::vector<unsigned char> later = MakePaddingPack(90000);
    EXPECT_EQ(later.size(), 2048u);
    EXPECT_NE(later, pack);
}

TEST(CutAtPacks, CutsOnlyAtPackStartsIntoEvenParts) {
    const Bytes stream = Stream(60);
    const std::vector<std::size_t> cuts = CutAtPacks(stream, 6);
    ASSERT_EQ(cuts.size(), 7u);
    EXPECT_EQ(cuts.front(), 0u);
    EXPECT_EQ(cuts.back(), stream.size());
    for (std::size_t i = 1; i + 1 < cuts.size(); ++i) {
        EXPECT_EQ(cuts[i] % kPackSize, 0u) << "cut " << i << " inside a pack";
        EXPECT_EQ(cuts[i], i * 10 * kPackSize) << "cut " << i;
    }
}

TEST(CutAtPacks, SkipsStartCodesThatAreNoPackHeader) {
    Bytes stream = Stream(7);
    // Half way is the middle of the fourth pack; behind it, in its padding,
    // a pack start code whose next byte breaks the marker bits.
    const std::size_t fake = 3 * kPackSize + 1500;
    stream[fake] = 0x00;
    stream[fake + 1] = 0x00;
    stream[fake + 2] = 0x01;
    stream[fake + 3] = 0xBA;
    const std::vector<std::size_t> cuts = CutAtPacks(stream, 2);
    ASSERT_EQ(cuts.size(), 3u);
    EXPECT_EQ(cuts[1], 4 * kPackSize);
    EXPECT_TRUE(CutAtPacks(Bytes(stream.begin() + 50, stream.end()), 2).empty())
        << "the recording must start with a pack";
}

TEST(CutAtPacks, RefusesPartsWithoutASecondPack) {
    EXPECT_EQ(CutAtPacks(Stream(6), 3).size(), 4u);
    EXPECT_TRUE(CutAtPacks(Stream(5), 3).empty());
    EXPECT_TRUE(CutAtPacks(Bytes{}, 1).empty());
}

TEST(StepEnd, SpreadsBytesEvenlyOverTheSteps) {
    for (const std::size_t size : {0u, 3u, 40u, 4097u}) {
        constexpr int kSteps = 40;
        EXPECT_EQ(StepEnd(size, 0, kSteps), 0u);
        EXPECT_EQ(StepEnd(size, kSteps, kSteps), size);
        for (int step = 1; step <= kSteps; ++step) {
            const std::size_t chunk = StepEnd(size, step, kSteps) - StepEnd(size, step - 1, kSteps);
            EXPECT_LE(chunk, size / kSteps + 1) << size << " bytes, step " << step;
            EXPECT_GE(chunk, size / kSteps) << size << " bytes, step " << step;
        }
    }
}

}  // namespace

// Real MPEG-2 program streams: ffmpeg makes a recording, which is split at
// pack boundaries into a base file and follow-up files, as a recorder that
// splits a long recording does. Each follow-up file's first pack is zeroed,
// the way such a recorder leaves it. header.mpeg is the base file's first
// pack (pack header, system header and the first video packet). After the
// program has repaired the series, ffprobe must recognise every follow-up
// file as a program stream with its video stream, and every byte after the
// template must be the recording's.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialog_choice.h"
#include "linux_repair_files.h"
#include "linux_test_support.h"
#include "mpeg_streams.h"
#include "recording_view.h"
#include "repair_controller.h"

namespace {

constexpr std::size_t kPackSize = 2048;  // the packs ffmpeg writes for -f vob
constexpr int kFollowUpFiles = 4;

bool IsPackStart(const Bytes& bytes, std::size_t at) {
    return at + 4 <= bytes.size() && bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1 &&
           bytes[at + 3] == 0xBA;
}

TEST(MpegStreams, SplitRecordingIsPlayableAgainAfterTheRepair) {
    if (RunShell("command -v ffmpeg && command -v ffprobe").status != 0) {
        FAIL() << "ffmpeg and ffprobe are needed (tools/install-deps.sh installs them)";
    }
    TempDir work;
    TempDir programDir;
    const std::string source = work / "source.mpg";
    const ShellRun made = RunShell(
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 4 "
        "-c:v mpeg2video -b:v 2M -g 12 -f vob '" +
            source + "'",
        ShellMessages::Kept);
    ASSERT_EQ(made.status, 0) << made.out;
    const Bytes recording = ReadFile(source);
    ASSERT_GT(recording.size(), 16 * kPackSize);
    ASSERT_EQ(Probe(source), "format_name=mpeg video=mpeg2video");

    // The template: the first pack, which carries the system header.
    ASSERT_TRUE(IsPackStart(recording, 0));
    ASSERT_TRUE(IsPackStart(recording, kPackSize));
    const Bytes header = Slice(recording, 0, kPackSize);
    ASSERT_EQ(header[14], 0);  // the system header follows the 14-byte pack header
    ASSERT_EQ(header[17], 0xBB);
    WriteFile(programDir / "header.mpeg", header);

    // Cuts at pack starts, spread over the recording.
    std::vector<std::size_t> cuts;
    for (int part = 0; part <= kFollowUpFiles; ++part) {
        std::size_t cut = recording.size() * static_cast<std::size_t>(part) / (kFollowUpFiles + 1);
        while (cut < recording.size() && !IsPackStart(recording, cut)) {
            ++cut;
        }
        cuts.push_back(cut);
    }
    cuts.push_back(recording.size());
    WriteFile(work / "Film.mpg", Slice(recording, 0, cuts[1]));
    std::vector<Bytes> parts;
    for (int n = 1; n <= kFollowUpFiles; ++n) {
        const std::string path = work / ("Film#" + std::to_string(n) + ".mpg");
        parts.push_back(Slice(recording, cuts[static_cast<std::size_t>(n)],
                              cuts[static_cast<std::size_t>(n) + 1]));
        Bytes damaged = parts.back();
        std::fill(damaged.begin(), damaged.begin() + kPackSize, 0);
        WriteFile(path, damaged);
        // ffprobe finds its way into the damaged file further on, but its
        // start is no program stream: the zeroed pack alone is not recognised.
        WriteFile(work / "head.mpg", Slice(damaged, 0, kPackSize));
        EXPECT_EQ(Probe(work / "head.mpg"), "") << path;
        std::printf("damaged %s: ffprobe over the whole file says \"%s\"\n",
                    path.substr(work.path().size()).c_str(), Probe(path).c_str());
    }

    LinuxRepairFiles files;
    RecordingView view;
    RepairController controller(view, files);
    ASSERT_TRUE(StartUpIn(controller, programDir.path()));
    ChooseAndStart(controller, work / "Film.mpg");
    for (int tick = 0; tick <= kFollowUpFiles; ++tick) {
        controller.OnTick();
    }
    controller.OnShutdown();
    EXPECT_EQ(view.logLines.size(), static_cast<std::size_t>(kFollowUpFiles));
    EXPECT_EQ(view.currentFile, "Film#5.mpg");

    for (int n = 1; n <= kFollowUpFiles; ++n) {
        const std::string path = work / ("Film#" + std::to_string(n) + ".mpg");
        const Bytes repaired = ReadFile(path);
        const Bytes& original = parts[static_cast<std::size_t>(n - 1)];
        ASSERT_EQ(repaired.size(), original.size()) << path;
        EXPECT_TRUE(std::equal(header.begin(), header.end(), repaired.begin())) << path;
        EXPECT_TRUE(
            std::equal(original.begin() + kPackSize, original.end(), repaired.begin() + kPackSize))
            << path << ": a byte after the template changed";
        EXPECT_EQ(Probe(path), "format_name=mpeg video=mpeg2video") << path;
        WriteFile(work / "head.mpg", Slice(repaired, 0, kPackSize));
        EXPECT_EQ(Probe(work / "head.mpg"), "format_name=mpeg video=mpeg2video") << path;
    }
}

}  // namespace

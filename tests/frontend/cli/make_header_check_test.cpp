// velmora-cli make-header and check on real MPEG streams made by ffmpeg: the
// template made from a recording repairs a follow-up file so that ffprobe
// reads it as the recording; what is no program stream is refused with
// nothing written; check's verdicts and exit codes. repair and watch with
// --from-base, each series with the template of its own base file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_process.h"
#include "header_template.h"
#include "linux_repair_files.h"
#include "lock_free_recorder.h"
#include "mpeg_streams.h"
#include "program_stream.h"
#include "test_files.h"

namespace {

constexpr std::size_t kZeroedHead = 2048;  // what the recorder leaves of a follow-up file's start

// MPEG-2 as on a DVD (-f vob) or MPEG-1 (-f mpeg), with pictures and sound.
struct StreamKind {
    const char* name;  // as make-header and check print it
    const char* videoCodec;
    const char* format;
    std::size_t templateSize;
    const char* pictureSize;
};

void PrintTo(const StreamKind& kind, std::ostream* out) {
    *out << kind.name;
}

const StreamKind kMpeg2{"MPEG-2", "mpeg2video", "vob", 2048, "320x240"};
const StreamKind kMpeg1{"MPEG-1", "mpeg1video", "mpeg", 1024, "352x288"};

void MakeRecording(const std::string& path, const StreamKind& kind, int seconds) {
    const std::string duration = std::to_string(seconds);
    const ShellRun made = RunShell(
        std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=") + duration +
        ":size=" + kind.pictureSize + ":rate=25 -f lavfi -i sine=duration=" + duration + " -c:v " +
        kind.videoCodec + " -b:v 2M -c:a mp2 -f " + kind.format + " '" + path + "'");
    ASSERT_EQ(made.status, 0) << "ffmpeg and ffprobe are needed (tools/install-deps.sh)";
}

// How many bytes of pictures and sound ffprobe reads from the file, over
// all its packets.
std::size_t PayloadBytes(const std::string& path) {
    const ShellRun probe =
        RunShell("ffprobe -v error -show_entries packet=size -of csv=p=0 '" + path + "'");
    std::size_t total = 0;
    std::size_t start = 0;
    while (start < probe.out.size()) {
        const std::size_t end = std::min(probe.out.find('\n', start), probe.out.size());
        total += std::stoul(probe.out.substr(start, end - start));
        start = end + 1;
    }
    return total;
}

// The first pack start at or after `from`.
std::size_t PackStartFrom(const Bytes& bytes, std::size_t from) {
    const unsigned char packStart[] = {0x00, 0x00, 0x01, 0xBA};
    return static_cast<std::size_t>(std::search(bytes.begin() + static_cast<long>(from),
                                                bytes.end(), packStart, packStart + 4) -
                                    bytes.begin());
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* folder = opendir(path.c_str())) {
        while (const dirent* entry = readdir(folder)) {
            names.push_back(entry->d_name);
        }
        closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class MakeHeaderOnStream : public ::testing::TestWithParam<StreamKind> {};

// The recording is split at a pack in its middle; the follow-up file's first
// 2048 bytes are zeroed, as the recorder leaves them. The template made from
// the base file repairs it: check passes it, ffprobe reads it with its
// pictures and sound, and the template adds no byte of them nor hides one.
TEST_P(MakeHeaderOnStream, TemplateFromTheBaseFileRepairsAFollowUpFile) {
    const StreamKind& kind = GetParam();
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(MakeRecording(dir / "source.mpg", kind, 4));
    const Bytes recording = ReadFile(dir / "source.mpg");
    const std::size_t cut = PackStartFrom(recording, recording.size() / 2);
    ASSERT_LT(cut + 8 * kZeroedHead, recording.size());
    WriteFile(dir / "Film.mpg", Slice(recording, 0, cut));
    Bytes damaged = Slice(recording, cut, recording.size());
    std::fill(damaged.begin(), damaged.begin() + kZeroedHead, 0);
    WriteFile(dir / "Film#1.mpg", damaged);
    const std::size_t damagedPayload = PayloadBytes(dir / "Film#1.mpg");
    ASSERT_GT(damagedPayload, 10 * kZeroedHead);

    const std::string pack = std::string(kind.name) + "-Pack-Header mit System-Header";
    const CliRun before = RunCli({"check", "Film.mpg", "Film#1.mpg"}, dir.path());
    EXPECT_EQ(before.exitCode, 1);
    EXPECT_EQ(before.out,
              "Film.mpg: in Ordnung: " + pack +
                  "\nFilm#1.mpg: FEHLER: kein g\xC3\xBCltiger Pack-Header bei Byte 0\n");

    const std::string size = std::to_string(kind.templateSize);
    const CliRun made = RunCli({"make-header", "Film.mpg", "--size", size}, dir.path());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(made.out.rfind(std::string(kind.name) + "-Pack mit System-Header bei Byte 0 (", 0),
              0u)
        << made.out;
    EXPECT_NE(made.out.find(", Stream-IDs E0 C0); header.mpeg geschrieben (" + size + " Byte)\n"),
              std::string::npos)
        << made.out;
    const Bytes header = ReadFile(dir / "header.mpeg");
    ASSERT_EQ(header.size(), kind.templateSize);
    const FileStart start = CheckFileStart(header.data(), header.size());
    EXPECT_EQ(start.verdict, StartVerdict::Valid);
    EXPECT_EQ(start.system.streamIds, (std::vector<std::uint8_t>{0xE0, 0xC0}));
    // ffmpeg starts with the pack that carries the system header.
    const std::size_t headers = start.pack.length + start.system.length;
    EXPECT_EQ(Slice(header, 0, headers), Slice(recording, 0, headers));

    const CliRun repaired = RunCli({"repair", "Film.mpg", "--header", "header.mpeg"}, dir.path());
    ASSERT_EQ(repaired.exitCode, 0) << repaired.out << repaired.err;
    const Bytes file = ReadFile(dir / "Film#1.mpg");
    ASSERT_EQ(file.size(), damaged.size());
    EXPECT_EQ(Slice(file, 0, header.size()), header);
    EXPECT_EQ(Slice(file, header.size(), file.size()),
              Slice(damaged, header.size(), damaged.size()));

    const CliRun after = RunCli({"check", "Film#1.mpg", "--header", "header.mpeg"}, dir.path());
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(after.out, "Film#1.mpg: in Ordnung: " + pack + "; beginnt mit dem Header\n");
    EXPECT_EQ(Probe(dir / "Film#1.mpg"),
              std::string("format_name=mpeg video=") + kind.videoCodec + " audio=mp2");
    EXPECT_EQ(PayloadBytes(dir / "Film#1.mpg"), damagedPayload);
}

INSTANTIATE_TEST_SUITE_P(Streams, MakeHeaderOnStream, ::testing::Values(kMpeg2, kMpeg1),
                         [](const auto& info) { return std::string(info.param.videoCodec); });

// An MPEG-2 pack header and a system header listing 16 video streams: 74
// bytes, so the smallest template is 80.
Bytes PackWithLongSystemHeader() {
    Bytes bytes = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x43, 0x43, 0x5B,
                   0xF8, 0x00, 0x00, 0x01, 0xBB, 0x00, 0x36, 0xA1, 0xA1, 0xAD, 0x04, 0x21, 0xFF};
    for (unsigned char id = 0xE0; id <= 0xEF; ++id) {
        bytes.insert(bytes.end(), {id, 0xE0, 0xE6});
    }
    return bytes;
}

// A transport stream, a text, a header cut short, a missing file and a size
// out of range or too small for the headers: exit code 2, a message, and no
// file written. A pack far into the first MiB is found.
TEST(MakeHeader, RefusesWhatGivesNoTemplateAndWritesNothing) {
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(MakeRecording(dir / "source.mpg", kMpeg2, 1));
    ASSERT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=1 -c:v "
                       "mpeg2video -f mpegts '" +
                       dir / "film.ts'")
                  .status,
              0);
    WriteFile(dir / "cut.mpg", Slice(ReadFile(dir / "source.mpg"), 0, 20));
    const std::string text = "Aufnahme vom Montag, 20:15 Uhr\n";
    WriteFile(dir / "notes.txt", Bytes(text.begin(), text.end()));
    WriteFile(dir / "many-streams.mpg", PackWithLongSystemHeader());
    const std::vector<std::string> filesBefore = FolderEntries(dir.path());

    struct Refusal {
        std::vector<std::string> arguments;
        const char* reason;
    };
    const Refusal refusals[] = {
        {{"film.ts"}, "Transportstrom"},
        {{"notes.txt"}, "kein MPEG-Pack mit System-Header im ersten MiB"},
        {{"cut.mpg"}, "abgeschnitten"},
        {{"missing.mpg"}, "nicht gefunden"},
        {{"source.mpg", "--size", "63"}, "64 bis 2048"},
        {{"source.mpg", "--size", "2049"}, "64 bis 2048"},
        {{"source.mpg", "--size", "1k"}, "64 bis 2048"},
        {{"many-streams.mpg", "--size", "79"}, "zu klein"},
        {{"source.mpg", "other.mpg"}, "Aufruf"},
    };
    for (const Refusal& refusal : refusals) {
        std::vector<std::string> arguments{"make-header"};
        arguments.insert(arguments.end(), refusal.arguments.begin(), refusal.arguments.end());
        const CliRun run = RunCli(arguments, dir.path());
        EXPECT_EQ(run.exitCode, 2) << refusal.arguments[0];
        EXPECT_EQ(run.out, "") << refusal.arguments[0];
        EXPECT_NE(run.err.find(refusal.reason), std::string::npos) << run.err;
        EXPECT_EQ(FolderEntries(dir.path()), filesBefore) << refusal.arguments[0];
    }

    const CliRun smallest = RunCli({"make-header", "many-streams.mpg", "--size", "80"}, dir.path());
    EXPECT_EQ(smallest.exitCode, 0) << smallest.err;
    EXPECT_EQ(ReadFile(dir / "header.mpeg").size(), 80u);

    // Found past the first look at 64 KiB, within the first MiB.
    Bytes late = Pattern(300000, 1);
    const Bytes pack = PackWithLongSystemHeader();
    late.insert(late.end(), pack.begin(), pack.end());
    WriteFile(dir / "late.mpg", late);
    const CliRun found = RunCli({"make-header", "late.mpg", "-o", "late.mpeg"}, dir.path());
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.out.find("bei Byte 300000 "), std::string::npos) << found.out;
}

// Which file is at `path` and what it is, without following a link: the
// same text before and after means it was left as it was.
std::string Identity(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return "missing";
    }
    char target[256] = {};
    if (S_ISLNK(status.st_mode) && readlink(path.c_str(), target, sizeof target - 1) < 0) {
        return "unreadable link";
    }
    return std::to_string(status.st_ino) + " " + std::to_string(status.st_mode) + " " +
           std::to_string(status.st_rdev) + " " + target;
}

// An existing file is replaced only with --force, never when it is the
// recording itself; a folder that is not there is exit code 1. Anything but
// a regular file is never replaced (exit code 2, named in the message), and
// a leftover of an interrupted --force run neither blocks nor is written
// through.
TEST(MakeHeader, KeepsAnExistingFileUnlessForced) {
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(MakeRecording(dir / "Film.mpg", kMpeg2, 1));
    const Bytes recording = ReadFile(dir / "Film.mpg");
    const Bytes old = Pattern(100, 3);
    WriteFile(dir / "header.mpeg", old);

    const CliRun refused = RunCli({"make-header", "Film.mpg"}, dir.path());
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(dir / "header.mpeg"), old);

    const CliRun forced =
        RunCli({"make-header", "Film.mpg", "-o", "header.mpeg", "--force"}, dir.path());
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(ReadFile(dir / "header.mpeg").size(), 2048u);

    // A device also behind a link, as /dev/stdout is one; a real device node
    // where this root may make one.
    ASSERT_EQ(mkfifo((dir / "fifo.mpeg").c_str(), 0644), 0);
    ASSERT_EQ(symlink("/dev/null", (dir / "null.mpeg").c_str()), 0);
    ASSERT_EQ(mkdir((dir / "folder.mpeg").c_str(), 0755), 0);
    const bool device = mknod((dir / "device.mpeg").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    struct Kept {
        std::string name;
        std::string kind;
    };
    std::vector<Kept> kept = {{"fifo.mpeg", "eine FIFO (benannte Pipe)"},
                              {"null.mpeg", "eine symbolische Verkn\xC3\xBCpfung"},
                              {"folder.mpeg", "ein Ordner"}};
    if (device) {
        kept.push_back({"device.mpeg", "ein Ger\xC3\xA4t"});
    }
    for (const Kept& k : kept) {
        const std::string before = Identity(dir / k.name);
        for (const bool force : {false, true}) {
            std::vector<std::string> arguments{"make-header", "Film.mpg", "-o", k.name};
            if (force) {
                arguments.push_back("--force");
            }
            const CliRun run = RunCli(arguments, dir.path());
            EXPECT_EQ(run.exitCode, 2) << k.name << force;
            EXPECT_NE(run.err.find(k.name + " ist " + k.kind + ", keine"), std::string::npos)
                << run.err;
            EXPECT_EQ(Identity(dir / k.name), before) << k.name << force;
        }
    }
    EXPECT_EQ(FolderEntries(dir / "folder.mpeg"), (std::vector<std::string>{".", ".."}));

    // A leftover, a regular file and then a link to another file, does not
    // block and is not written through.
    const Bytes leftover = Pattern(10, 4);
    WriteFile(dir / "header.mpeg.velmora-new", leftover);
    WriteFile(dir / "other.mpeg", leftover);
    const std::vector<std::string> entries = FolderEntries(dir.path());
    for (int round = 0; round < 2; ++round) {
        WriteFile(dir / "header.mpeg", old);
        const CliRun again =
            RunCli({"make-header", "Film.mpg", "-o", "header.mpeg", "--force"}, dir.path());
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(ReadFile(dir / "header.mpeg").size(), 2048u);
        EXPECT_EQ(ReadFile(dir / "header.mpeg.velmora-new"), leftover);
        EXPECT_EQ(ReadFile(dir / "other.mpeg"), leftover);
        EXPECT_EQ(FolderEntries(dir.path()), entries);
        ASSERT_EQ(unlink((dir / "header.mpeg.velmora-new").c_str()), 0);
        ASSERT_EQ(symlink("other.mpeg", (dir / "header.mpeg.velmora-new").c_str()), 0);
    }

    const CliRun itself =
        RunCli({"make-header", "Film.mpg", "-o", "./Film.mpg", "--force"}, dir.path());
    EXPECT_EQ(itself.exitCode, 2);
    EXPECT_EQ(ReadFile(dir / "Film.mpg"), recording);

    const CliRun nowhere =
        RunCli({"make-header", "Film.mpg", "-o", "gone/header.mpeg"}, dir.path());
    EXPECT_EQ(nowhere.exitCode, 1);
    EXPECT_NE(nowhere.err.find("nicht geschrieben"), std::string::npos) << nowhere.err;
}

// A part cut at a later pack has no system header directly after its pack
// header and fails, MPEG-2 as MPEG-1. The worst file decides the exit code;
// a template that cannot be loaded is exit code 2 with the windows' own
// message.
TEST(Check, VerdictsAndExitCodes) {
    TempDir dir;
    for (const StreamKind& kind : {kMpeg2, kMpeg1}) {
        const std::string name = kind.videoCodec;
        ASSERT_NO_FATAL_FAILURE(MakeRecording(dir / (name + ".mpg"), kind, 2));
        const Bytes recording = ReadFile(dir / (name + ".mpg"));
        const std::size_t cut = PackStartFrom(recording, recording.size() / 2);
        WriteFile(dir / (name + "-part.mpg"), Slice(recording, cut, recording.size()));
    }
    WriteFile(dir / "tiny.mpeg", Pattern(63, 1));
    WriteFile(dir / "start.mpeg", Slice(ReadFile(dir / "mpeg2video.mpg"), 0, 2048));

    struct Expected {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
    };
    const Expected cases[] = {
        {{"mpeg2video.mpg", "mpeg2video-part.mpg"},
         1,
         "mpeg2video.mpg: in Ordnung: MPEG-2-Pack-Header mit System-Header\n"
         "mpeg2video-part.mpg: FEHLER: MPEG-2-Pack-Header ohne System-Header direkt dahinter\n"},
        {{"mpeg1video-part.mpg"},
         1,
         "mpeg1video-part.mpg: FEHLER: MPEG-1-Pack-Header ohne System-Header direkt dahinter\n"},
        {{"missing.mpg", "mpeg1video-part.mpg", "mpeg1video.mpg"},
         2,
         "missing.mpg: nicht lesbar: nicht gefunden\n"
         "mpeg1video-part.mpg: FEHLER: MPEG-1-Pack-Header ohne System-Header direkt dahinter\n"
         "mpeg1video.mpg: in Ordnung: MPEG-1-Pack-Header mit System-Header\n"},
        {{"mpeg2video.mpg", "--header", "start.mpeg"},
         0,
         "mpeg2video.mpg: in Ordnung: MPEG-2-Pack-Header mit System-Header; beginnt mit dem "
         "Header\n"},
        {{"mpeg1video.mpg", "--header", "start.mpeg"},
         1,
         "mpeg1video.mpg: FEHLER: MPEG-1-Pack-Header mit System-Header; beginnt nicht mit dem "
         "Header\n"},
        {{"mpeg2video.mpg", "--header", "tiny.mpeg"}, 2, ""},
        {{"mpeg2video.mpg", "--header", "missing.mpeg"}, 2, ""},
        {{}, 2, ""},
    };
    for (const Expected& c : cases) {
        std::vector<std::string> arguments{"check"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CliRun run = RunCli(arguments, dir.path());
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_EQ(run.out, c.out);
    }
    const CliRun tooSmall =
        RunCli({"check", "mpeg2video.mpg", "--header", "tiny.mpeg"}, dir.path());
    EXPECT_EQ(tooSmall.err, "velmora-cli check: Header zu klein! (Minimal 64 Byte)\n");

    // A template that a running service holds (open and locked) can still be
    // compared with.
    LinuxRepairFiles service;
    HeaderTemplate held;
    ASSERT_EQ(LoadHeaderTemplateFrom(held, service, (dir / "start.mpeg").c_str()),
              TemplateLoadResult::Loaded);
    const CliRun whileHeld =
        RunCli({"check", "mpeg2video.mpg", "--header", "start.mpeg"}, dir.path());
    EXPECT_EQ(whileHeld.exitCode, 0) << whileHeld.err;
}

// What ffprobe reads of a file's pictures: how many it decodes, and the
// file's start and duration.
std::string VideoTiming(const std::string& path) {
    return RunShell(
               "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
               "stream=nb_read_frames:format=start_time,duration -of default=nw=1 '" +
               path + "'")
        .out;
}

void MakeTransportStream(const std::string& path) {
    ASSERT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=1 -c:v "
                       "mpeg2video -f mpegts '" +
                       path + "'")
                  .status,
              0);
}

// A series of the recording's first half as base file: its part 1 the second
// half behind 2048 bytes the recorder left for the header.
struct Series {
    std::string stem;
    Bytes part;     // the second half, as recorded
    Bytes headers;  // the base file's pack header and system header
};

void MakeSeries(const std::string& dir, const std::string& work, Series* series,
                const StreamKind& kind, int seconds) {
    ASSERT_NO_FATAL_FAILURE(MakeRecording(work + "source.mpg", kind, seconds));
    const Bytes recording = ReadFile(work + "source.mpg");
    const std::size_t cut = PackStartFrom(recording, recording.size() / 2);
    WriteFile(dir + series->stem + ".mpg", Slice(recording, 0, cut));
    series->part = Slice(recording, cut, recording.size());
    WriteFile(work + series->stem + "-part.mpg", series->part);
    const FileStart start = CheckFileStart(recording.data(), recording.size());
    series->headers = Slice(recording, 0, start.pack.length + start.system.length);
}

Bytes LeftForTheHeader(const Bytes& part) {
    Bytes file(kZeroedHead + part.size(), 0);
    std::copy(part.begin(), part.end(), file.begin() + kZeroedHead);
    return file;
}

// Two series in one folder, MPEG-2 and MPEG-1 of other picture sizes, and a
// third whose base file is a transport stream; no header file anywhere.
// watch --from-base gives each part its own base file's pack header and
// system header, and ffprobe reads it exactly as the part alone: the same
// frames, start and duration (the base file's first 2048 bytes would add its
// pictures). The transport stream's parts are reported once and left alone
// until their base file changes.
TEST(FromBase, WatchRepairsEachSeriesWithItsOwnBaseFilesHeaders) {
    TempDir dir;
    TempDir work;
    Series film{"Film", {}, {}};
    Series talk{"Talk", {}, {}};
    ASSERT_NO_FATAL_FAILURE(MakeSeries(dir.path(), work.path(), &film, kMpeg2, 6));
    ASSERT_NO_FATAL_FAILURE(MakeSeries(dir.path(), work.path(), &talk, kMpeg1, 4));
    ASSERT_NE(film.headers, talk.headers);
    ASSERT_NO_FATAL_FAILURE(MakeTransportStream(dir / "News.mpg"));
    WriteFile(dir / "News#1.mpg", Pattern(6000, 5));

    WatchProcess service({dir.path(), "--from-base"}, work.path());
    ASSERT_TRUE(service.WaitUntilReady());
    const std::string refused =
        "Kein Header aus der Basis-Datei: " + dir / "News.mpg" + " ist ein MPEG-Transportstrom";
    // Standard error has a writer of its own: its line may follow the ready line.
    EXPECT_TRUE(service.WaitForErr(refused)) << service.Err();
    WriteFile(dir / "News#2.mpg", Pattern(6000, 6));
    for (const Series* series : {&film, &talk}) {
        WriteFile(dir / FollowUpOf(series->stem, 1), LeftForTheHeader(series->part));
    }
    ASSERT_TRUE(service.WaitForOut("restauriert!", 2)) << service.Out() << service.Err();
    for (const Series* series : {&film, &talk}) {
        const Bytes repaired = ReadFile(dir / FollowUpOf(series->stem, 1));
        ASSERT_EQ(repaired.size(), kZeroedHead + series->part.size());
        EXPECT_EQ(Slice(repaired, 0, series->headers.size()), series->headers) << series->stem;
        EXPECT_EQ(Slice(repaired, kZeroedHead, repaired.size()), series->part) << series->stem;
        const std::string pristine = VideoTiming(work / (series->stem + "-part.mpg"));
        EXPECT_NE(pristine.find("nb_read_frames="), std::string::npos) << pristine;
        EXPECT_EQ(VideoTiming(dir / FollowUpOf(series->stem, 1)), pristine) << series->stem;
    }
    EXPECT_EQ(CountOf(service.Err(), refused), 1) << "News#2.mpg was reported again";
    EXPECT_EQ(ReadFile(dir / "News#1.mpg"), Pattern(6000, 5));
    EXPECT_EQ(ReadFile(dir / "News#2.mpg"), Pattern(6000, 6));

    // The base file becomes a program stream: both parts are repaired with it.
    WriteFile(dir / "News.mpg", ReadFile(dir / "Film.mpg"));
    ASSERT_TRUE(service.WaitForOut("restauriert!", 4)) << service.Err();
    EXPECT_EQ(Slice(ReadFile(dir / "News#2.mpg"), 0, film.headers.size()), film.headers);
}

// repair --from-base needs no header file; a base file that gives no
// template is exit code 2 with its reason and nothing written. --header and
// --from-base together are bad usage, for repair and watch.
TEST(FromBase, RepairFromTheBaseFileAndTheOptionsThatExcludeEachOther) {
    TempDir dir;
    TempDir work;
    Series talk{"Talk", {}, {}};
    ASSERT_NO_FATAL_FAILURE(MakeSeries(dir.path(), work.path(), &talk, kMpeg1, 2));
    WriteFile(dir / "Talk#1.mpg", LeftForTheHeader(talk.part));
    const CliRun repaired = RunCli({"repair", "Talk.mpg", "--from-base"}, dir.path());
    EXPECT_EQ(repaired.exitCode, 0) << repaired.err;
    EXPECT_EQ(repaired.out, "Header \"Talk#1.mpg\" restauriert!\n");
    EXPECT_EQ(Slice(ReadFile(dir / "Talk#1.mpg"), 0, talk.headers.size()), talk.headers);

    ASSERT_NO_FATAL_FAILURE(MakeTransportStream(dir / "News.mpg"));
    WriteFile(dir / "News#1.mpg", Pattern(6000, 5));
    const CliRun refused = RunCli({"repair", "News.mpg", "--from-base"}, dir.path());
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("Transportstrom"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(dir / "News#1.mpg"), Pattern(6000, 5));

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"repair", "Talk.mpg", "--from-base", "--header", "h.mpeg"},
          {"watch", dir.path(), "--header", "h.mpeg", "--from-base"}}) {
        const CliRun run = RunCli(arguments, dir.path());
        EXPECT_EQ(run.exitCode, 2) << arguments[0];
        EXPECT_NE(run.err.find("--header und --from-base schlie\xC3\x9F"
                               "en einander aus"),
                  std::string::npos)
            << run.err;
    }
}

}  // namespace

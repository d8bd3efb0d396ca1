// velmora-cli repair on real files: each follow-up file up to the first gap
// repaired once, a second run writing nothing, the exit codes, and the one
// sync before it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "cli_process.h"
#include "linux_test_support.h"
#include "sync_shim.h"
#include "test_files.h"

namespace {

const Bytes kTemplate = Pattern(2048, 7);

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

// A file's bytes and when it was last written.
struct Seen {
    Bytes bytes;
    long long modified;
};

Seen Look(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return {ReadFile(path),
            static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec};
}

Bytes WithTemplateHead(Bytes bytes) {
    std::copy(kTemplate.begin(), kTemplate.end(), bytes.begin());
    return bytes;
}

class RepairCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "header.mpeg", kTemplate);
        WriteFile(dir / "Film.mpg", Pattern(10000, 1));
        for (const char* name : {"Film#1.mpg", "Film#2.mpg", "Film#3.mpg", "Film#5.mpg"}) {
            WriteFile(dir / name, Pattern(5000, static_cast<unsigned>(name[5])));
        }
    }
    CliRun Repair(std::vector<std::string> more = {}) {
        std::vector<std::string> arguments{"repair", "Film.mpg"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return RunCli(arguments, dir.path());
    }

    TempDir dir;
};

TEST_F(RepairCommandTest, RepairsUpToTheFirstGapAndASecondRunWritesNothing) {
    const CliRun first = Repair();
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out,
              Lines({"Header \"Film#1.mpg\" restauriert!", "Header \"Film#2.mpg\" restauriert!",
                     "Header \"Film#3.mpg\" restauriert!"}));
    for (const char* name : {"Film#1.mpg", "Film#2.mpg", "Film#3.mpg"}) {
        EXPECT_EQ(ReadFile(dir / name),
                  WithTemplateHead(Pattern(5000, static_cast<unsigned>(name[5]))))
            << name;
    }
    EXPECT_EQ(ReadFile(dir / "Film#5.mpg"), Pattern(5000, '5')) << "after the gap";

    const Seen before = Look(dir / "Film#2.mpg");
    const CliRun second = Repair();
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, Lines({"Header \"Film#1.mpg\" bereits restauriert",
                                 "Header \"Film#2.mpg\" bereits restauriert",
                                 "Header \"Film#3.mpg\" bereits restauriert"}));
    const Seen after = Look(dir / "Film#2.mpg");
    EXPECT_EQ(after.bytes, before.bytes);
    EXPECT_EQ(after.modified, before.modified) << "written again";
}

// 1: a file that another program holds, or a link in the series, is left
// alone and the others are repaired; 2: nothing can start.
TEST_F(RepairCommandTest, ExitCodesSayWhatWasLeftUndone) {
    TempDir elsewhere;
    WriteFile(elsewhere / "secret", Pattern(3000, 9));
    ASSERT_EQ(unlink((dir / "Film#3.mpg").c_str()), 0);
    ASSERT_EQ(symlink((elsewhere / "secret").c_str(), (dir / "Film#3.mpg").c_str()), 0);
    {
        HolderProcess recorder(dir / "Film#1.mpg", O_WRONLY);
        ASSERT_TRUE(recorder.held());
        const CliRun run = Repair();
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        EXPECT_NE(run.out.find("\"Film#2.mpg\" restauriert!"), std::string::npos) << run.out;
    }
    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), Pattern(5000, '1')) << "held by the recorder";
    EXPECT_EQ(ReadFile(elsewhere / "secret"), Pattern(3000, 9)) << "behind the link";
    const CliRun again = Repair();
    EXPECT_EQ(again.exitCode, 1) << "the link stays unrepaired";
    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), WithTemplateHead(Pattern(5000, '1')));

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"repair"},
          {"repair", "Missing.mpg"},
          {"repair", "Film.mpg", "--header", "nothing.mpeg"},
          {"repair", "Film.mpg", "--postfix", "12345678"},
          {"repair", "Film.mpg", "--what"},
          {"repair-all"}}) {
        const CliRun run = RunCli(arguments, dir.path());
        EXPECT_EQ(run.exitCode, 2) << arguments.back();
        EXPECT_EQ(run.out, "") << arguments.back();
        EXPECT_NE(run.err, "") << arguments.back();
    }
}

// Exit code 0 only once the repairs are on the disk: one syncfs before the
// end for the whole series (also when every file was repaired already, by a
// run that may have been killed before its sync); a failed sync is exit
// code 1 with the system's reason.
// A folder its user may enter but not list cannot be opened for syncfs:
// its files are repaired all the same, with the whole system synced.
TEST_F(RepairCommandTest, AFolderThatCannotBeListedIsRepairedAllTheSame) {
    for (const char* name :
         {"header.mpeg", "Film.mpg", "Film#1.mpg", "Film#2.mpg", "Film#3.mpg", "Film#5.mpg"}) {
        ASSERT_EQ(chown((dir / name).c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0300), 0);
    const Bytes second = ReadFile(dir / "Film#2.mpg");
    const CliRun run = RunCli({"repair", "Film.mpg"}, dir.path(), {.asNobody = true});
    chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(dir / "Film#2.mpg"), WithTemplateHead(second));
}

TEST_F(RepairCommandTest, SyncsOnceBeforeItEndsAndAFailedSyncIsExitCodeOne) {
    {
        SyncShim shim(SyncMode::Real);
        const CliRun run = Repair();
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(shim.FileSystemSyncs(), 1);
        EXPECT_EQ(shim.FileSyncs(), 0) << "one sync for the series, not one per file";
    }
    SyncShim failing(SyncMode::Failed);
    const CliRun run = Repair();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(failing.FileSystemSyncs(), 1);
    EXPECT_NE(
        run.err.find("nicht sicher auf dem Datentr\xC3\xA4ger: " + std::string(std::strerror(EIO))),
        std::string::npos)
        << run.err;
}

// repair always says what it found: a follow-up file given in place of its
// base file is named as such (exit 2), a series without follow-up files says
// so; a postfix no file name may hold is a usage error before anything else.
TEST_F(RepairCommandTest, SaysWhatItFoundAndRefusesPostfixesNoNameMayHold) {
    const CliRun given = RunCli({"repair", "Film#2.mpg"}, dir.path());
    EXPECT_EQ(given.exitCode, 2);
    EXPECT_EQ(given.out, "");
    EXPECT_NE(given.err.find("\"Film#2.mpg\" ist selbst die Folge-Datei 2 von \"Film.mpg\""),
              std::string::npos)
        << given.err;
    WriteFile(dir / "Talk.mpg", Pattern(100, 1));
    const CliRun none = RunCli({"repair", "Talk.mpg"}, dir.path());
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "Keine Folge-Datei: \"Talk#1.mpg\" gibt es nicht\n");
    for (const char* postfix : {"/", "#/../", "12345678"}) {
        const CliRun run = Repair({"--postfix", postfix});
        EXPECT_EQ(run.exitCode, 2) << postfix;
        EXPECT_EQ(run.out, "") << postfix;
    }
    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), Pattern(5000, '1'));
}

// A folder whose path leaves no room for the longest follow-up name
// (Film#65535.mpg within PATH_MAX - 1 = 4095 bytes), while Film.mpg itself
// fits: its path is too long, not the base file's name.
TEST_F(RepairCommandTest, AFolderPathTooLongIsCalledSo) {
    std::string folder = dir.path();
    constexpr std::size_t kFolderLength = 4085;
    while (kFolderLength - folder.size() > 201) {
        folder += std::string(200, 'd') + "/";
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0) << std::strerror(errno);
    }
    folder += std::string(kFolderLength - folder.size() - 1, 'e') + "/";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0) << std::strerror(errno);
    WriteFile(folder + "Film.mpg", Pattern(100, 1));
    WriteFile(folder + "Film#1.mpg", Pattern(5000, 2));

    const CliRun run =
        RunCli({"repair", folder + "Film.mpg", "--header", dir / "header.mpeg"}, dir.path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "velmora-cli repair: der Pfad des Ordners der Basis-Datei ist zu lang\n");
    EXPECT_EQ(ReadFile(folder + "Film#1.mpg"), Pattern(5000, 2));
}

// A part over 4 GiB (sparse, so it costs no disk) last written in 2040: its
// head repaired and every byte after the template left as it was, also past
// 2 and 4 GiB where 32-bit offsets and sizes would wrap. A 32-bit build
// without 64-bit file offsets and times cannot even open or look at it.
TEST_F(RepairCommandTest, APartOverFourGigabytesDatedAfter2038IsRepairedAndKeepsItsBytes) {
    constexpr std::int64_t kGiB = 1LL << 30;
    const std::int64_t samples[] = {2048,         2 * kGiB - 1,    2 * kGiB + 1, 4 * kGiB - 1,
                                    4 * kGiB + 1, 4 * kGiB + 4096, 5 * kGiB - 8};
    const std::string part = dir / "Film#1.mpg";
    const Bytes head = Pattern(2048, 3);
    const int fd = open(part.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), 2048);
    for (const std::int64_t offset : samples) {
        const unsigned char mark = static_cast<unsigned char>(offset % 251 + 1);
        ASSERT_EQ(pwrite(fd, &mark, 1, static_cast<off_t>(offset)), 1) << offset;
    }
    const timespec in2040[2] = {{2208988800, 0}, {2208988800, 0}};
    ASSERT_EQ(futimens(fd, in2040), 0) << std::strerror(errno);
    ASSERT_EQ(close(fd), 0);
    ASSERT_EQ(unlink((dir / "Film#2.mpg").c_str()), 0);

    const CliRun run = Repair();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Header \"Film#1.mpg\" restauriert!\n");
    const CliRun again = Repair();
    EXPECT_EQ(again.out, "Header \"Film#1.mpg\" bereits restauriert\n") << again.err;

    struct stat status {};
    ASSERT_EQ(stat(part.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 5 * kGiB - 7);
    const int reader = open(part.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    Bytes start(2048);
    EXPECT_EQ(pread(reader, start.data(), start.size(), 0), 2048);
    EXPECT_EQ(start, kTemplate);
    for (const std::int64_t offset : samples) {
        unsigned char seen[2] = {};
        EXPECT_EQ(pread(reader, seen, 2, static_cast<off_t>(offset - 1)), 2) << offset;
        EXPECT_EQ(seen[1], offset % 251 + 1) << "at " << offset;
        if (offset != 2048) {
            EXPECT_EQ(seen[0], 0) << "before " << offset;
        }
    }
    close(reader);
}

// This process and what it starts from now on see a kernel before 5.8:
// faccessat2 answers ENOSYS, as it does there.
bool WithoutFaccessat2() {
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_faccessat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
}

// NAS boxes run old kernels: without faccessat2 the series is repaired all
// the same (a file that may be written is not taken for a read-only one).
TEST_F(RepairCommandTest, RepairsOnAKernelWithoutFaccessat2) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(WithoutFaccessat2() ? Repair().exitCode : 100);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "100: no filter";
    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), WithTemplateHead(Pattern(5000, '1')));
    EXPECT_EQ(ReadFile(dir / "Film#3.mpg"), WithTemplateHead(Pattern(5000, '3')));
}

}  // namespace

// velmora-cli.exe run as a process, as a user or a script runs it on
// Windows: its exit code and what it printed, and the files it left.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "version.h"
#include "win32_cli.h"

namespace {

// A recording's start as a recorder writes it: an MPEG-2 pack header, a
// system header (video E0, audio C0) and a padding packet.
std::vector<unsigned char> RecordingStart() {
    std::vector<unsigned char> bytes = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01,
                                        0x01, 0x89, 0xC3, 0xF8, 0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C,
                                        0x80, 0xC4, 0xE1, 0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0xE8, 0xC0,
                                        0xC0, 0x20, 0x00, 0x00, 0x01, 0xBE, 0x01, 0x00};
    bytes.resize(bytes.size() + 0x100, 0xFF);
    return bytes;
}

// A folder of its own for each test, emptied and removed after it.
class CliTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The programs get a console of their own, as in cmd.exe: it carries
        // Ctrl+C (Wine's console of a program run from a Unix shell does not).
        FreeConsole();
        AllocConsole();
    }

    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder_ = std::string(temp) + "velmora-cli-test-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
        folder_ += "\\";
    }

    // Every file the test left in its folder, whatever its name.
    void TearDown() override {
        const std::wstring folder = FromAnsi(folder_);
        WIN32_FIND_DATAW entry{};
        const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((folder + entry.cFileName).c_str());
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryA(folder_.c_str());
    }

    // The ffmpeg recording as Film.mpg, and a part cut from its middle with
    // its first 2048 bytes lost, as a recorder leaves a follow-up file.
    void WriteRecordingAndPart(std::vector<unsigned char>* recording,
                               std::vector<unsigned char>* part) {
        *recording = ReadWhole(WinePath(VELMORA_MPEG2_RECORDING), 1 << 20);
        ASSERT_GT(recording->size(), 200000u);
        EXPECT_TRUE(WriteWhole(folder_ + "Film.mpg", *recording));
        part->assign(recording->begin() + 100000, recording->begin() + 200000);
        std::fill(part->begin(), part->begin() + 2048, 0);
    }

    // header.mpeg and the base file Film.mpg, as most tests start.
    void WriteTemplateAndBase() {
        EXPECT_TRUE(WriteWhole(folder_ + "header.mpeg", header_));
        EXPECT_TRUE(WriteWhole(folder_ + "Film.mpg", Pattern(300, 4)));
    }

    std::string folder_;
    const std::vector<unsigned char> header_ = Pattern(64, 1);
};

// One of the version resource's texts (German, Unicode), or "" without it.
std::string VersionResourceText(const std::string& exe, const char* name) {
    std::vector<BYTE> info(GetFileVersionInfoSizeA(exe.c_str(), nullptr));
    void* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040704B0\\") + name;
    if (info.empty() ||
        !GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) ||
        !VerQueryValueA(info.data(), path.c_str(), &value, &length) || length == 0) {
        return "";
    }
    return static_cast<const char*>(value);
}

// --version and Explorer's details tell the project's version.
TEST_F(CliTest, VersionIsTheProjectsInTheOptionAndTheResource) {
    const CliRun run = RunCli("--version", folder_);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "velmora-cli " VELMORA_VERSION "\r\n");  // a text stream
    EXPECT_EQ(VersionResourceText(CliPath(), "FileVersion"), VELMORA_VERSION_TEXT);
    EXPECT_EQ(VersionResourceText(CliPath(), "OriginalFilename"), "velmora-cli.exe");
}

TEST_F(CliTest, BadUsageEndsWithTwo) {
    EXPECT_EQ(RunCli("repair", folder_).exitCode, 2);
    EXPECT_EQ(RunCli("repair Film.mpg --unknown", folder_).exitCode, 2);
    EXPECT_EQ(RunCli("watch", folder_).exitCode, 2);
    EXPECT_EQ(RunCli("watch missing-folder", folder_).exitCode, 2);

    // A postfix no Windows file name may hold: said on standard error before
    // any file is read or written, by repair and watch alike. A separator
    // would reach Film\1.mpg.
    const std::vector<unsigned char> part = Pattern(300, 2);
    WriteTemplateAndBase();
    EXPECT_TRUE(WriteWhole(folder_ + "Film#1.mpg", part));
    ASSERT_TRUE(CreateDirectoryA((folder_ + "Film").c_str(), nullptr));
    EXPECT_TRUE(WriteWhole(folder_ + "Film\\1.mpg", part));
    for (const wchar_t* postfix :
         {L"*", L"?", L"<", L"|", L"\\\"", L"\\", L":", L"/", L"\"#\x01\""}) {
        for (const wchar_t* command : {L"repair Film.mpg", L"watch ."}) {
            const CliRunApart run =
                RunCliApart(std::wstring(command) + L" --postfix " + postfix, folder_, 5000);
            EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
            EXPECT_EQ(run.out, "");
            EXPECT_NE(run.err.find("Postfix"), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(ReadWhole(folder_ + "Film#1.mpg"), part);
    EXPECT_EQ(ReadWhole(folder_ + "Film\\1.mpg"), part);
    DeleteFileA((folder_ + "Film\\1.mpg").c_str());
    RemoveDirectoryA((folder_ + "Film").c_str());
}

TEST_F(CliTest, MakeHeaderWritesANewFileAndReplacesOnlyWithForce) {
    const std::vector<unsigned char> recording = RecordingStart();
    EXPECT_TRUE(WriteWhole(folder_ + "Film.mpg", recording));

    EXPECT_EQ(RunCli("make-header Film.mpg", folder_).exitCode, 0);
    const std::vector<unsigned char> made = ReadWhole(folder_ + "header.mpeg");
    ASSERT_EQ(made.size(), 2048u);
    EXPECT_TRUE(std::equal(recording.begin(), recording.begin() + 32, made.begin()));

    EXPECT_EQ(RunCli("make-header Film.mpg --size 128", folder_).exitCode, 2);
    EXPECT_EQ(ReadWhole(folder_ + "header.mpeg").size(), 2048u);
    EXPECT_EQ(RunCli("make-header Film.mpg --size 128 --force", folder_).exitCode, 0);
    EXPECT_EQ(ReadWhole(folder_ + "header.mpeg").size(), 128u);
    // Never over the recording it reads, not even with --force.
    EXPECT_EQ(RunCli("make-header Film.mpg -o Film.mpg --force", folder_).exitCode, 2);
    EXPECT_EQ(ReadWhole(folder_ + "Film.mpg"), recording);
}

// A recording as ffmpeg writes it: its header made, a part cut from its
// middle with the start lost repaired with it, and then found sound.
TEST_F(CliTest, HeaderFromARealMpeg2RecordingRepairsAPartOfIt) {
    std::vector<unsigned char> recording;
    std::vector<unsigned char> part;
    ASSERT_NO_FATAL_FAILURE(WriteRecordingAndPart(&recording, &part));
    EXPECT_TRUE(WriteWhole(folder_ + "Film#1.mpg", part));

    const CliRun made = RunCli("make-header Film.mpg", folder_);
    EXPECT_EQ(made.exitCode, 0) << made.output;
    EXPECT_EQ(RunCli("check Film#1.mpg", folder_).exitCode, 1);
    const CliRun repaired = RunCli("repair Film.mpg", folder_);
    EXPECT_EQ(repaired.exitCode, 0) << repaired.output;
    const CliRun checked = RunCli("check --header header.mpeg Film#1.mpg", folder_);
    EXPECT_EQ(checked.exitCode, 0) << checked.output;
    EXPECT_EQ(ReadWhole(folder_ + "Film#1.mpg", 1 << 20),
              Repaired(part, ReadWhole(folder_ + "header.mpeg")));

    // What an interrupted make-header --force leaves beside the template, a
    // file or a folder, never blocks the next one.
    const std::string leftover = folder_ + "header.mpeg.velmora-new";
    EXPECT_TRUE(WriteWhole(leftover, Pattern(100, 5)));
    const CliRun besideAFile = RunCli("make-header Film.mpg --size 1024 --force", folder_);
    EXPECT_EQ(besideAFile.exitCode, 0) << besideAFile.output;
    EXPECT_EQ(ReadWhole(folder_ + "header.mpeg").size(), 1024u);
    ASSERT_TRUE(DeleteFileA(leftover.c_str()));
    ASSERT_TRUE(CreateDirectoryA(leftover.c_str(), nullptr));
    const CliRun besideAFolder = RunCli("make-header Film.mpg --force", folder_);
    EXPECT_EQ(besideAFolder.exitCode, 0) << besideAFolder.output;
    EXPECT_EQ(ReadWhole(folder_ + "header.mpeg").size(), 2048u);
    EXPECT_NE(GetFileAttributesA(leftover.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    RemoveDirectoryA(leftover.c_str());
}

// repair always says what it found: a follow-up file given in place of its
// base file is named as such (exit 2, nothing written), a base file without
// follow-up files says there is none, and a base file's short 8.3 name
// repairs the series of its long name.
TEST_F(CliTest, RepairSaysWhatItFound) {
    const std::vector<unsigned char> part = Pattern(300, 2);
    WriteTemplateAndBase();
    EXPECT_TRUE(WriteWhole(folder_ + "Film#1.mpg", part));
    EXPECT_TRUE(WriteWhole(folder_ + "Talk.mpg", Pattern(300, 4)));
    EXPECT_TRUE(WriteWhole(folder_ + "Filmaufnahme.mpg", Pattern(300, 4)));
    EXPECT_TRUE(WriteWhole(folder_ + "Filmaufnahme#1.mpg", part));

    const CliRunApart given = RunCliApart(L"repair Film#1.mpg", folder_);
    EXPECT_EQ(given.exitCode, 2) << given.out;
    EXPECT_EQ(given.out, "");
    EXPECT_NE(given.err.find("\"Film#1.mpg\" ist selbst die Folge-Datei 1 von \"Film.mpg\""),
              std::string::npos)
        << given.err;
    EXPECT_EQ(ReadWhole(folder_ + "Film#1.mpg"), part);
    const CliRunApart none = RunCliApart(L"repair Talk.mpg", folder_);
    EXPECT_EQ(none.exitCode, 0) << none.err;
    EXPECT_EQ(none.out, "Keine Folge-Datei: \"Talk#1.mpg\" gibt es nicht\r\n");

    const std::wstring base = FromAnsi(folder_) + L"Filmaufnahme.mpg";
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(base.c_str(), shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || std::wstring(shortPath) == base) {
        GTEST_SKIP() << "no short 8.3 name here";
    }
    const CliRunApart shortly =
        RunCliApart(L"repair \"" + std::wstring(shortPath) + L"\"", folder_);
    EXPECT_EQ(shortly.exitCode, 0) << shortly.out << shortly.err;
    EXPECT_NE(shortly.out.find("Header \"Filmaufnahme#1.mpg\" restauriert!"), std::string::npos)
        << shortly.out;
    EXPECT_EQ(ReadWhole(folder_ + "Filmaufnahme#1.mpg"), Repaired(part, header_));
}

// The text of `wide` as the console shows it when it goes to a pipe: in
// the console's code page.
std::string InConsoleCodePage(const std::wstring& wide) {
    return Narrow(wide, GetConsoleOutputCP());
}

// File names come in the ANSI code page and the program's own texts are
// UTF-8; both must reach a redirected output in the console's code page,
// as cmd.exe's own commands write it.
TEST_F(CliTest, OutputIsInTheConsolesCodePageNamesAndTextsAlike) {
    const std::wstring base = L"Stra\u00DFe";
    char ansi[MAX_PATH] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, base.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr),
              0);
    EXPECT_TRUE(WriteWhole(folder_ + "header.mpeg", header_));
    EXPECT_TRUE(WriteWhole(folder_ + ansi + ".mpg", Pattern(300, 2)));
    EXPECT_TRUE(WriteWhole(folder_ + ansi + "#1.mpg", Pattern(300, 3)));
    EXPECT_TRUE(WriteWhole(folder_ + ansi + "#2.mpg", Pattern(300, 4)));
    const HANDLE held = CreateFileA((folder_ + ansi + "#2.mpg").c_str(), GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    const CliRun run = RunCli(std::string("repair \"") + ansi + ".mpg\"", folder_);
    CloseHandle(held);
    for (const char* name : {".mpg", "#1.mpg", "#2.mpg"}) {
        DeleteFileA((folder_ + ansi + name).c_str());
    }
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find(InConsoleCodePage(L"Header \"" + base + L"#1.mpg\" restauriert!")),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(InConsoleCodePage(L"Programm ge\u00F6\x66\x66net")),
              std::string::npos)
        << run.output;
}

// This test's own answer to the Ctrl+C it sends. (Ignoring it with a null
// handler instead would be inherited by the programs it starts next.)
BOOL WINAPI IgnoreControl(DWORD /*type*/) {
    return TRUE;
}

// Ctrl+C goes to every program on the console, this test's own too (which
// ignores it; Wine sends neither Ctrl+Break nor to one group). The program
// is ended by force if it did not end within 10 s: it never outlives the
// test. False when it could not be sent.
bool SendCtrlC(HANDLE process) {
    SetConsoleCtrlHandler(IgnoreControl, TRUE);
    const bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    if (!sent || WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 10000);
    }
    return sent;
}

long ExitCodeOf(HANDLE process) {
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) ? static_cast<long>(code) : -1;
}

// watch as a recording PC runs it: a file renamed into the folder is
// repaired, a file held with share mode 0 is left alone (and not called
// unreadable) until the recorder closes it, and Ctrl+C ends it with 0.
TEST_F(CliTest, WatchRepairsWhatComesInWaitsForAHeldFileAndEndsOnCtrlC) {
    const std::vector<unsigned char> renamed = Pattern(300, 2);
    const std::vector<unsigned char> recorded = Pattern(300, 3);
    WriteTemplateAndBase();
    const std::string outside = folder_.substr(0, folder_.size() - 1) + "-Film#1.mpg";
    EXPECT_TRUE(WriteWhole(outside, renamed));

    StartedCli watch = StartCli("watch .", folder_);
    ASSERT_NE(watch.process, nullptr);
    std::string output;
    ASSERT_TRUE(WaitForOutput(watch.output, "Beobachte 1 Ordner.", 10000, &output)) << output;

    ASSERT_TRUE(MoveFileA(outside.c_str(), (folder_ + "Film#1.mpg").c_str()));
    EXPECT_TRUE(WaitForOutput(watch.output, "\"Film#1.mpg\" restauriert!", 5000, &output))
        << output;
    EXPECT_EQ(ReadWholeOnceFree(folder_ + "Film#1.mpg"), Repaired(renamed, header_));

    // A recorder's part, written while held with no sharing at all.
    const HANDLE recorder = CreateFileA((folder_ + "Film#2.mpg").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, 0, nullptr);
    ASSERT_NE(recorder, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(recorder, recorded.data(), static_cast<DWORD>(recorded.size()), &written, nullptr);
    EXPECT_FALSE(WaitForOutput(watch.output, "Film#2.mpg", 1000, &output)) << output;
    CloseHandle(recorder);
    EXPECT_TRUE(WaitForOutput(watch.output, "\"Film#2.mpg\" restauriert!", 5000, &output))
        << output;
    EXPECT_EQ(ReadWholeOnceFree(folder_ + "Film#2.mpg"), Repaired(recorded, header_));

    EXPECT_TRUE(SendCtrlC(watch.process)) << GetLastError();
    const CliRun ended = FinishCli(watch);
    EXPECT_EQ(ended.exitCode, 0) << output << ended.output;
    EXPECT_EQ(output.find("nicht"), std::string::npos) << output;
}

// watch -r on a recording PC that makes a folder per day: a series in a
// folder made after the start, and in a folder made inside that one, is
// repaired once its recorder lets go of each part.
TEST_F(CliTest, WatchRecursiveRepairsSeriesInFoldersMadeAfterItsStart) {
    WriteTemplateAndBase();
    StartedCli watch = StartCli("watch -r .", folder_);
    ASSERT_NE(watch.process, nullptr);
    std::string output;
    ASSERT_TRUE(WaitForOutput(watch.output, "Beobachte 1 Ordner.", 10000, &output)) << output;

    const std::string day = folder_ + "day1\\";
    const std::string evening = day + "evening\\";
    const std::vector<unsigned char> recorded = Pattern(300, 3);
    for (const std::string& folder : {day, evening}) {
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        EXPECT_TRUE(WriteWhole(folder + "Film.mpg", Pattern(300, 4)));
        const HANDLE recorder = CreateFileA((folder + "Film#1.mpg").c_str(), GENERIC_WRITE, 0,
                                            nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(recorder, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(recorder, recorded.data(), static_cast<DWORD>(recorded.size()), &written,
                  nullptr);
        CloseHandle(recorder);
        // The line names the folder by its path, which ends in \day1 or \evening.
        const std::string name = folder.substr(folder.rfind('\\', folder.size() - 2));
        const std::string line = name.substr(0, name.size() - 1) + ": Header \"Film#1.mpg\"";
        EXPECT_TRUE(WaitForOutput(watch.output, line, 5000, &output)) << output;
        EXPECT_EQ(ReadWholeOnceFree(folder + "Film#1.mpg"), Repaired(recorded, header_));
    }

    EXPECT_TRUE(SendCtrlC(watch.process)) << GetLastError();
    const CliRun ended = FinishCli(watch);
    EXPECT_EQ(ended.exitCode, 0) << output << ended.output;
    EXPECT_EQ(output.find("nicht"), std::string::npos) << output;
    for (const std::string& folder : {evening, day}) {
        DeleteFileA((folder + "Film.mpg").c_str());
        DeleteFileA((folder + "Film#1.mpg").c_str());
        RemoveDirectoryA(folder.c_str());
    }
}

// A running watch holds its template so that others may read it and
// nobody may change it: a check with it and a repair of another folder
// work beside the service, and make-header --force says the file is in use.
TEST_F(CliTest, TheTemplateOfARunningWatchMayBeReadButNotReplaced) {
    const std::vector<unsigned char> header = RecordingStart();
    const std::vector<unsigned char> part = Pattern(600, 2);
    EXPECT_TRUE(WriteWhole(folder_ + "header.mpeg", header));
    EXPECT_TRUE(WriteWhole(folder_ + "Film.mpg", header));
    EXPECT_TRUE(WriteWhole(folder_ + "Film#1.mpg", part));
    const std::string other = folder_.substr(0, folder_.size() - 1) + "-other\\";
    CreateDirectoryA(other.c_str(), nullptr);
    EXPECT_TRUE(WriteWhole(other + "Film.mpg", Pattern(300, 4)));
    EXPECT_TRUE(WriteWhole(other + "Film#1.mpg", part));

    StartedCli watch = StartCli("watch .", folder_);
    ASSERT_NE(watch.process, nullptr);
    std::string output;
    ASSERT_TRUE(WaitForOutput(watch.output, "Beobachte 1 Ordner.", 10000, &output)) << output;

    const CliRun checked = RunCli("check --header header.mpeg Film#1.mpg", folder_);
    EXPECT_EQ(checked.exitCode, 0) << checked.output;
    const CliRun repaired = RunCli("repair \"" + other + "Film.mpg\"", folder_);
    EXPECT_EQ(repaired.exitCode, 0) << repaired.output;
    EXPECT_EQ(ReadWhole(other + "Film#1.mpg"), Repaired(part, header));
    const CliRun replaced = RunCli("make-header Film.mpg --force", folder_);
    EXPECT_EQ(replaced.exitCode, 1) << replaced.output;
    EXPECT_NE(replaced.output.find("wird gerade von einem anderen Programm benutzt"),
              std::string::npos)
        << replaced.output;
    const HANDLE writer = CreateFileA((folder_ + "header.mpeg").c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    }

    EXPECT_TRUE(SendCtrlC(watch.process)) << GetLastError();
    EXPECT_EQ(FinishCli(watch).exitCode, 0);
    EXPECT_EQ(ReadWhole(folder_ + "header.mpeg"), header);
    EXPECT_EQ(GetFileAttributesA((folder_ + "header.mpeg.velmora-new").c_str()),
              INVALID_FILE_ATTRIBUTES);
    for (const char* name : {"Film.mpg", "Film#1.mpg"}) {
        DeleteFileA((other + name).c_str());
    }
    RemoveDirectoryA(other.c_str());
}

// A recorder's new part, still shorter than the template, reopened with
// share mode 0 again and again while watch waits on it: watch looks at it
// by its attributes alone and never refuses the recorder an open. Once it
// is long enough and let go it is repaired; a part that starts as a
// program stream, judged inside the exclusive open, is left as it is.
TEST_F(CliTest, WatchNeverRefusesARecorderThatReopensItsWaitingPart) {
    const std::vector<unsigned char> part = Pattern(300, 2);
    const std::vector<unsigned char> sound = RecordingStart();
    WriteTemplateAndBase();
    EXPECT_TRUE(WriteWhole(folder_ + "Film#1.mpg",
                           std::vector<unsigned char>(part.begin(), part.begin() + 10)));
    StartedCli watch = StartCli("watch .", folder_);
    ASSERT_NE(watch.process, nullptr);
    std::string output;
    ASSERT_TRUE(WaitForOutput(watch.output, "Beobachte 1 Ordner.", 10000, &output)) << output;

    const std::string recorded = folder_ + "Film#1.mpg";
    int refused = 0;
    for (const ULONGLONG end = GetTickCount64() + 3000; GetTickCount64() < end;) {
        const HANDLE reopened =
            CreateFileA(recorded.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (reopened != INVALID_HANDLE_VALUE) {
            CloseHandle(reopened);
        } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
            ++refused;
        }
    }
    EXPECT_EQ(refused, 0);
    EXPECT_TRUE(WriteWhole(recorded, part));
    EXPECT_TRUE(WriteWhole(folder_ + "Film#2.mpg", sound));
    EXPECT_TRUE(WaitForOutput(watch.output, "\"Film#1.mpg\" restauriert!", 5000, &output))
        << output;
    EXPECT_FALSE(WaitForOutput(watch.output, "Film#2.mpg", 1000, &output)) << output;
    EXPECT_TRUE(SendCtrlC(watch.process)) << GetLastError();
    EXPECT_EQ(FinishCli(watch).exitCode, 0);
    EXPECT_EQ(ReadWhole(recorded), Repaired(part, header_));
    EXPECT_EQ(ReadWhole(folder_ + "Film#2.mpg"), sound);
}

// watch --from-base takes each series' header from its base file: a base
// file another program holds with share mode 0 for a moment is tried again
// as a busy part is, not set aside until it changes, so its damaged part is
// repaired soon after the holder lets go, the base file never written.
TEST_F(CliTest, WatchFromBaseTriesABaseFileHeldWithoutSharingAgain) {
    std::vector<unsigned char> recording;
    std::vector<unsigned char> part;
    ASSERT_NO_FATAL_FAILURE(WriteRecordingAndPart(&recording, &part));
    StartedCli watch = StartCli("watch --from-base .", folder_);
    ASSERT_NE(watch.process, nullptr);
    std::string output;
    ASSERT_TRUE(WaitForOutput(watch.output, "Beobachte 1 Ordner.", 10000, &output)) << output;

    const HANDLE holder = CreateFileA((folder_ + "Film.mpg").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(WriteWhole(folder_ + "Film#1.mpg", part));
    EXPECT_FALSE(WaitForOutput(watch.output, "Film", 1000, &output)) << output;
    CloseHandle(holder);
    EXPECT_TRUE(WaitForOutput(watch.output, "\"Film#1.mpg\" restauriert!", 5000, &output))
        << output;
    EXPECT_TRUE(SendCtrlC(watch.process)) << GetLastError();
    const CliRun ended = FinishCli(watch);
    EXPECT_EQ(ended.exitCode, 0) << output << ended.output;
    EXPECT_EQ(ReadWhole(folder_ + "Film.mpg", 1 << 20), recording);
    const CliRun checked = RunCli("check Film#1.mpg", folder_);
    EXPECT_EQ(checked.exitCode, 0) << checked.output;
    const std::vector<unsigned char> repaired = ReadWhole(folder_ + "Film#1.mpg", 1 << 20);
    ASSERT_EQ(repaired.size(), part.size());
    EXPECT_TRUE(std::equal(part.begin() + 2048, part.end(), repaired.begin() + 2048));
}

TEST_F(CliTest, RepairLeavesAHeldFileAloneUntilItIsClosed) {
    const std::vector<unsigned char> first = Pattern(300, 2);
    const std::vector<unsigned char> second = Pattern(300, 3);
    WriteTemplateAndBase();
    EXPECT_TRUE(WriteWhole(folder_ + "Film#1.mpg", first));
    EXPECT_TRUE(WriteWhole(folder_ + "Film#2.mpg", second));

    // Held as a recorder holds the file it writes: no sharing at all.
    const HANDLE held = CreateFileA((folder_ + "Film#2.mpg").c_str(), GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const CliRun busy = RunCli("repair Film.mpg", folder_);
    CloseHandle(held);
    EXPECT_EQ(busy.exitCode, 1) << busy.output;
    EXPECT_NE(busy.output.find("Film#1.mpg\" restauriert!"), std::string::npos) << busy.output;
    EXPECT_NE(busy.output.find("Film#2.mpg\" nicht restauriert!"), std::string::npos)
        << busy.output;
    EXPECT_EQ(ReadWhole(folder_ + "Film#1.mpg"), Repaired(first, header_));
    EXPECT_EQ(ReadWhole(folder_ + "Film#2.mpg"), second);

    const CliRun free = RunCli("repair Film.mpg", folder_);
    EXPECT_EQ(free.exitCode, 0) << free.output;
    EXPECT_NE(free.output.find("Film#1.mpg\" bereits restauriert"), std::string::npos)
        << free.output;
    EXPECT_NE(free.output.find("Film#2.mpg\" restauriert!"), std::string::npos) << free.output;
    EXPECT_EQ(ReadWhole(folder_ + "Film#1.mpg"), Repaired(first, header_));
    EXPECT_EQ(ReadWhole(folder_ + "Film#2.mpg"), Repaired(second, header_));
}

// This test's console screen, as a handle the program inherits: what the
// program writes there is read back as the characters a user sees.
HANDLE OpenConsoleScreen() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_EXISTING, 0, nullptr);
}

// Empties the screen and puts the cursor at its start.
void ClearConsole(HANDLE screen) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(screen, &info);
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    DWORD done = 0;
    FillConsoleOutputCharacterW(screen, L' ', cells, COORD{0, 0}, &done);
    SetConsoleCursorPosition(screen, COORD{0, 0});
}

// The screen's characters, row after row.
std::wstring ConsoleText(HANDLE screen) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(screen, &info)) {
        return std::wstring();
    }
    std::wstring text(static_cast<std::size_t>(info.dwSize.X) * info.dwSize.Y, L' ');
    DWORD got = 0;
    ReadConsoleOutputCharacterW(screen, text.data(), static_cast<DWORD>(text.size()), COORD{0, 0},
                                &got);
    text.resize(got);
    return text;
}

// Waits until `expected` is on the screen or `timeoutMs` has passed.
bool WaitForConsoleText(HANDLE screen, const std::wstring& expected, DWORD timeoutMs,
                        std::wstring* text) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        *text = ConsoleText(screen);
        if (text->find(expected) != std::wstring::npos) {
            return true;
        }
        if (GetTickCount64() > end) {
            return false;
        }
        Sleep(20);
    }
}

// For a failure's message: the screen's rows without their padding.
std::string Shown(const std::wstring& screen) {
    std::string text;
    for (const wchar_t c : screen) {
        text += c < 0x80 ? static_cast<char>(c) : '?';
    }
    std::string rows;
    std::size_t spaces = 0;
    for (const char c : text) {
        if (c == ' ') {
            ++spaces;
            continue;
        }
        rows += spaces > 8 ? std::string("\n") : std::string(spaces, ' ');
        spaces = 0;
        rows += c;
    }
    return rows;
}

// watch run in a console window, as from cmd.exe or a scheduled task: its
// lines are characters on the screen, the name's too, before and while it
// serves, and Ctrl+C ends it with 0.
TEST_F(CliTest, WatchWritesItsLinesToTheConsoleAndEndsOnCtrlC) {
    const std::wstring base = L"Stra\u00DFe";
    char ansi[MAX_PATH] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, base.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr),
              0);
    const std::vector<unsigned char> first = Pattern(300, 2);
    const std::vector<unsigned char> second = Pattern(300, 3);
    EXPECT_TRUE(WriteWhole(folder_ + "header.mpeg", header_));
    EXPECT_TRUE(WriteWhole(folder_ + ansi + ".mpg", Pattern(300, 4)));
    EXPECT_TRUE(WriteWhole(folder_ + ansi + "#1.mpg", first));
    const HANDLE screen = OpenConsoleScreen();
    ASSERT_NE(screen, INVALID_HANDLE_VALUE) << GetLastError();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(screen, &info)) {
        CloseHandle(screen);
        GTEST_SKIP() << "no console screen to read back (Wine's console needs a display)";
    }
    ClearConsole(screen);

    const HANDLE watch = StartCliWriting("watch .", folder_, screen, screen);
    ASSERT_NE(watch, nullptr);
    std::wstring text;
    EXPECT_TRUE(WaitForConsoleText(screen, L"Beobachte 1 Ordner.", 10000, &text)) << Shown(text);
    EXPECT_NE(text.find(L"Header \"" + base + L"#1.mpg\" restauriert!"), std::wstring::npos)
        << Shown(text);
    EXPECT_TRUE(WriteWhole(folder_ + ansi + "#2.mpg", second));
    EXPECT_TRUE(
        WaitForConsoleText(screen, L"Header \"" + base + L"#2.mpg\" restauriert!", 5000, &text))
        << Shown(text);

    EXPECT_TRUE(SendCtrlC(watch)) << GetLastError();
    EXPECT_EQ(ExitCodeOf(watch), 0) << Shown(ConsoleText(screen));
    CloseHandle(watch);
    CloseHandle(screen);
    EXPECT_EQ(ReadWhole(folder_ + ansi + "#1.mpg"), Repaired(first, header_));
    EXPECT_EQ(ReadWhole(folder_ + ansi + "#2.mpg"), Repaired(second, header_));
    for (const char* name : {".mpg", "#1.mpg", "#2.mpg"}) {
        DeleteFileA((folder_ + ansi + name).c_str());
    }
}

// velmora-cli.exe run with `arguments` in `folder`, its lines on this
// test's console `screen`; its exit code.
long RunCliOnScreen(const std::wstring& arguments, const std::string& folder, HANDLE screen) {
    const HANDLE process = StartCliWriting(arguments, folder, screen, screen);
    if (process == nullptr) {
        return -1;
    }
    WaitForSingleObject(process, 30000);
    const long code = ExitCodeOf(process);
    CloseHandle(process);
    return code;
}

// This test's console screen, emptied; null, and the test skipped, where
// there is none to read back.
HANDLE ClearedConsoleScreen() {
    const HANDLE screen = OpenConsoleScreen();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (screen == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen, &info)) {
        return nullptr;
    }
    ClearConsole(screen);
    return screen;
}

// A test whose program writes to this test's console screen, emptied first
// and read back (skipped where there is none: Wine's console needs a
// display), with names outside the system's code page (a Western one here)
// for a series whose follow-up files are `part_`.
class CliOnScreenTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        screen_ = ClearedConsoleScreen();
        if (screen_ == nullptr) {
            GTEST_SKIP() << "no console screen to read back (Wine's console needs a display)";
        }
        wideFolder_ = FromAnsi(folder_);
        EXPECT_TRUE(WriteWhole(folder_ + "header.mpeg", header_));
    }
    void TearDown() override {
        if (screen_ != nullptr) {
            CloseHandle(screen_);
        }
        CliTest::TearDown();
    }

    HANDLE screen_ = nullptr;
    std::wstring wideFolder_;
    const std::wstring film_ = L"\u0424\u0438\u043B\u044C\u043C";
    const std::vector<unsigned char> part_ = Pattern(300, 2);
};

// Names outside the system's code page (a Western one here) as Windows
// stores them, from the command line to the open, and shown as they are,
// in a repair's lines and in what is said of a base file (a transport
// stream; one held without sharing, with --from-base); Ωmega.mpg's repair
// never touches Omega#1.mpg, the part of the series its best-fit
// look-alike names; a short 8.3 name is taken as the file it names.
TEST_F(CliOnScreenTest, RepairTakesEveryNameAsWindowsStoresIt) {
    std::vector<unsigned char> transport(188 * 20, 0);
    for (std::size_t packet = 0; packet < transport.size(); packet += 188) {
        transport[packet] = 0x47;
    }
    for (const std::wstring& stem :
         {film_, std::wstring(L"\u03A9mega"), std::wstring(L"Omega"), std::wstring(L"Filmaufnahme"),
          std::wstring(L"\u0422\u0412")}) {
        EXPECT_TRUE(WriteWhole(wideFolder_ + stem + L".mpg",
                               stem == L"\u0422\u0412" ? transport : Pattern(300, 4)));
        EXPECT_TRUE(WriteWhole(wideFolder_ + stem + L"#1.mpg", part_));
    }
    EXPECT_EQ(RunCliOnScreen(L"repair " + film_ + L".mpg", folder_, screen_), 0);
    EXPECT_EQ(ReadWhole(wideFolder_ + film_ + L"#1.mpg"), Repaired(part_, header_));
    EXPECT_EQ(RunCliOnScreen(L"repair --from-base \u0422\u0412.mpg", folder_, screen_), 2);
    const HANDLE held = CreateFileW((wideFolder_ + L"\u03A9mega.mpg").c_str(), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(RunCliOnScreen(L"repair --from-base \u03A9mega.mpg", folder_, screen_), 2);
    CloseHandle(held);
    std::wstring text;
    for (const std::wstring& said : {L"Header \"" + film_ + L"#1.mpg\" restauriert!",
                                     std::wstring(L"\u0422\u0412.mpg ist ein MPEG-Transportstrom"),
                                     L"ge\u00F6\x66\x66net: " + wideFolder_ + L"\u03A9mega.mpg"}) {
        EXPECT_TRUE(WaitForConsoleText(screen_, said, 1000, &text)) << Shown(text);
    }

    EXPECT_EQ(RunCliOnScreen(L"repair \u03A9mega.mpg", folder_, screen_), 0) << Shown(text);
    EXPECT_EQ(ReadWhole(wideFolder_ + L"\u03A9mega#1.mpg"), Repaired(part_, header_));
    EXPECT_EQ(ReadWhole(wideFolder_ + L"Omega#1.mpg"), part_);

    wchar_t shortName[MAX_PATH] = {};
    GetShortPathNameW((wideFolder_ + L"Filmaufnahme.mpg").c_str(), shortName, MAX_PATH);
    EXPECT_EQ(RunCliOnScreen(L"repair \"" + std::wstring(shortName) + L"\"", folder_, screen_), 0);
    EXPECT_EQ(ReadWhole(wideFolder_ + L"Filmaufnahme#1.mpg"), Repaired(part_, header_))
        << shortName;
}

// watch lists the folder and hears of new files as Windows names them: a
// part named outside the system's code page, there at the start or
// arriving later, is repaired and shown as it is, never skipped nor taken
// for its best-fit look-alike.
TEST_F(CliOnScreenTest, WatchTakesEveryNameAsWindowsStoresIt) {
    for (const std::wstring& stem : {film_, std::wstring(L"\u03A9mega")}) {
        EXPECT_TRUE(WriteWhole(wideFolder_ + stem + L".mpg", Pattern(300, 4)));
        EXPECT_TRUE(WriteWhole(wideFolder_ + stem + L"#1.mpg", part_));
    }
    const HANDLE watch = StartCliWriting(L"watch .", folder_, screen_, screen_);
    ASSERT_NE(watch, nullptr);
    std::wstring text;
    EXPECT_TRUE(WaitForConsoleText(screen_, L"Beobachte 1 Ordner.", 10000, &text)) << Shown(text);
    EXPECT_TRUE(WriteWhole(wideFolder_ + film_ + L"#2.mpg", part_));
    EXPECT_TRUE(
        WaitForConsoleText(screen_, L"Header \"" + film_ + L"#2.mpg\" restauriert!", 5000, &text))
        << Shown(text);
    EXPECT_NE(text.find(L"Header \"" + film_ + L"#1.mpg\" restauriert!"), std::wstring::npos)
        << Shown(text);
    EXPECT_NE(text.find(L"Header \"\u03A9mega#1.mpg\" restauriert!"), std::wstring::npos)
        << Shown(text);
    EXPECT_TRUE(SendCtrlC(watch)) << GetLastError();
    EXPECT_EQ(ExitCodeOf(watch), 0);
    CloseHandle(watch);
    for (const std::wstring& name :
         {film_ + L"#1.mpg", film_ + L"#2.mpg", std::wstring(L"\u03A9mega#1.mpg")}) {
        EXPECT_EQ(ReadWhole(wideFolder_ + name), Repaired(part_, header_));
    }
}

// A folder whose path is longer than MAX_PATH (260): repair and watch name,
// open and repair its files like any other's.
TEST_F(CliTest, PathsLongerThanMaxPathAreRepairedAndWatched) {
    std::wstring deep = FromAnsi(folder_);
    std::vector<std::wstring> folders;
    while (deep.size() < 300) {
        deep += std::wstring(60, static_cast<wchar_t>(L'a' + folders.size())) + L"\\";
        folders.push_back(deep);
        ASSERT_TRUE(CreateDirectoryW(LongPath(deep).c_str(), nullptr)) << GetLastError();
    }
    const std::vector<unsigned char> part = Pattern(300, 2);
    EXPECT_TRUE(WriteWhole(folder_ + "header.mpeg", header_));
    EXPECT_TRUE(WriteWhole(deep + L"Film.mpg", Pattern(300, 4)));
    EXPECT_TRUE(WriteWhole(deep + L"Film#1.mpg", part));

    const CliRun repaired = RunCli(L"repair \"" + deep + L"Film.mpg\"", folder_);
    EXPECT_EQ(repaired.exitCode, 0) << repaired.output;
    EXPECT_EQ(ReadWhole(deep + L"Film#1.mpg"), Repaired(part, header_));
    // Without its last '\\', which would take the closing quote for a character.
    StartedCli watch = StartCli(L"watch \"" + deep.substr(0, deep.size() - 1) + L"\"", folder_);
    ASSERT_NE(watch.process, nullptr);
    std::string output;
    EXPECT_TRUE(WaitForOutput(watch.output, "Beobachte 1 Ordner.", 10000, &output)) << output;
    EXPECT_TRUE(WriteWhole(deep + L"Film#2.mpg", part));
    EXPECT_TRUE(WaitForOutput(watch.output, "\"Film#2.mpg\" restauriert!", 5000, &output))
        << output;
    EXPECT_TRUE(SendCtrlC(watch.process)) << GetLastError();
    EXPECT_EQ(FinishCli(watch).exitCode, 0);
    EXPECT_EQ(ReadWhole(deep + L"Film#2.mpg"), Repaired(part, header_));

    for (const wchar_t* name : {L"Film.mpg", L"Film#1.mpg", L"Film#2.mpg"}) {
        DeleteFileW(LongPath(deep + name).c_str());
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        RemoveDirectoryW(LongPath(*it).c_str());
    }
}

// The two ways a reader of the program's output goes: the read end of an
// anonymous pipe closed, and a named pipe disconnected by its server (as
// Wine's pipe to a Unix reader that has ended reports itself).
enum class ReaderEnd { Closed, Disconnected };

// watch's standard output redirected: text lines in the console's code page
// as repair writes them (CR LF), and when nobody reads them any more, it
// says so on standard error and ends with 1 at its next line, its repair
// done all the same.
void ExpectWatchEndsWhenItsReaderGoes(const std::string& folder, ReaderEnd how) {
    const std::vector<unsigned char> header = Pattern(64, 1);
    const std::vector<unsigned char> second = Pattern(300, 3);
    EXPECT_TRUE(WriteWhole(folder + "header.mpeg", header));
    EXPECT_TRUE(WriteWhole(folder + "Film.mpg", Pattern(300, 4)));
    EXPECT_TRUE(WriteWhole(folder + "Film#1.mpg", Pattern(300, 2)));

    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    if (how == ReaderEnd::Closed) {
        ASSERT_TRUE(MakePipe(&reader, &writer));
    } else {
        const std::string name =
            "\\\\.\\pipe\\velmora-cli-test-" + std::to_string(GetCurrentProcessId());
        reader = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                  4096, 4096, 0, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        writer = CreateFileA(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        ConnectNamedPipe(reader, nullptr);
    }
    HANDLE errors = nullptr;
    HANDLE errorsWriter = nullptr;
    ASSERT_TRUE(MakePipe(&errors, &errorsWriter));
    const HANDLE watch = StartCliWriting("watch .", folder, writer, errorsWriter);
    CloseHandle(writer);
    CloseHandle(errorsWriter);
    ASSERT_NE(watch, nullptr);
    std::string output;
    EXPECT_TRUE(WaitForOutput(reader, "Beobachte 1 Ordner.\r\n", 10000, &output)) << output;
    EXPECT_EQ(output, "Header \"Film#1.mpg\" restauriert!\r\nBeobachte 1 Ordner.\r\n");

    if (how == ReaderEnd::Closed) {
        CloseHandle(reader);
    } else {
        DisconnectNamedPipe(reader);
    }
    EXPECT_TRUE(WriteWhole(folder + "Film#2.mpg", second));
    if (WaitForSingleObject(watch, 10000) != WAIT_OBJECT_0) {
        SendCtrlC(watch);
        ADD_FAILURE() << "watch went on without a reader";
    }
    EXPECT_EQ(ExitCodeOf(watch), 1);
    CloseHandle(watch);
    if (how == ReaderEnd::Disconnected) {
        CloseHandle(reader);
    }
    const std::string said = ReadAll(errors);
    CloseHandle(errors);
    EXPECT_NE(said.find("Die Standardausgabe hat keinen Leser mehr ("), std::string::npos) << said;
    EXPECT_NE(said.find("), Ende.\r\n"), std::string::npos) << said;
    EXPECT_EQ(ReadWhole(folder + "Film#2.mpg"), Repaired(second, header));
}

TEST_F(CliTest, WatchEndsWithOneWhenTheReadEndOfItsPipeIsClosed) {
    ExpectWatchEndsWhenItsReaderGoes(folder_, ReaderEnd::Closed);
}

TEST_F(CliTest, WatchEndsWithOneWhenItsNamedPipeIsDisconnected) {
    ExpectWatchEndsWhenItsReaderGoes(folder_, ReaderEnd::Disconnected);
}

// A reader that has stopped reading without closing: the pipe fills up and
// the program's writes wait on it. The service goes on repairing, and
// Ctrl+C still ends it with 0 at once, the lines it could not write
// left behind.
TEST_F(CliTest, WatchEndsOnCtrlCWhileItsOutputIsNotRead) {
    const std::vector<unsigned char> part = Pattern(300, 2);
    EXPECT_TRUE(WriteWhole(folder_ + "header.mpeg", header_));
    // Long names, so that their lines are far more than a pipe holds.
    const std::string base = "Film" + std::string(100, 'x');
    constexpr int kParts = 400;
    EXPECT_TRUE(WriteWhole(folder_ + base + ".mpg", Pattern(300, 4)));
    std::vector<std::string> parts;
    for (int number = 1; number <= kParts; ++number) {
        parts.push_back(folder_ + base + "#" + std::to_string(number) + ".mpg");
        EXPECT_TRUE(WriteWhole(parts.back(), part));
    }
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    ASSERT_TRUE(MakePipe(&reader, &writer));
    const HANDLE watch = StartCliWriting("watch .", folder_, writer, writer);
    CloseHandle(writer);
    ASSERT_NE(watch, nullptr);

    // Every part repaired while nobody reads a line (the bound only keeps a
    // loaded machine from failing the test: a blocked output holds for ever).
    const ULONGLONG end = GetTickCount64() + 60000;
    std::size_t repaired = 0;
    while (repaired < parts.size() && GetTickCount64() < end) {
        if (ReadWhole(parts[repaired]) == Repaired(part, header_)) {
            ++repaired;
        } else {
            Sleep(20);
        }
    }
    EXPECT_EQ(repaired, parts.size());
    DWORD waiting = 0;
    PeekNamedPipe(reader, nullptr, 0, nullptr, &waiting, nullptr);
    EXPECT_GT(waiting, 0u);

    // A service that did not end is terminated with 99.
    EXPECT_TRUE(SendCtrlC(watch)) << GetLastError();
    EXPECT_EQ(ExitCodeOf(watch), 0);
    CloseHandle(watch);
    const std::string output = ReadAll(reader);
    CloseHandle(reader);
    // What got through before the pipe was full: far from every line.
    EXPECT_EQ(output.rfind("Header \"" + base + "#", 0), 0u) << output.substr(0, 200);
    EXPECT_LT(output.size(), parts.size() * base.size());
    for (const std::string& path : parts) {
        DeleteFileA(path.c_str());
    }
    DeleteFileA((folder_ + base + ".mpg").c_str());
}

// On a Japanese system (code page 932; CTest sets LC_ALL for these) the
// second byte of many characters is 0x5C, the byte of '\': names are taken
// apart by characters, so repair repairs and names ソフト#1.mpg whole, and
// watch repairs 表示#1.mpg.
class CliCp932Test : public CliTest {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 932u) << "needs LC_ALL=ja_JP.UTF-8 and that locale generated";
        CliTest::SetUp();
    }
};

TEST_F(CliCp932Test, DoubleByteNamesAreRepairedAndShownWhole) {
    const std::wstring folder = FromAnsi(folder_);
    const std::wstring sofuto = L"\u30BD\u30D5\u30C8";
    const std::wstring hyouji = L"\u8868\u793A";
    const std::vector<unsigned char> part = Pattern(300, 2);
    EXPECT_TRUE(WriteWhole(folder_ + "header.mpeg", header_));
    for (const std::wstring& stem : {sofuto, hyouji}) {
        EXPECT_TRUE(WriteWhole(folder + stem + L".mpg", Pattern(300, 4)));
    }
    EXPECT_TRUE(WriteWhole(folder + sofuto + L"#1.mpg", part));

    const CliRun repaired = RunCli(L"repair " + sofuto + L".mpg", folder_);
    EXPECT_EQ(repaired.exitCode, 0) << repaired.output;
    EXPECT_NE(repaired.output.find(InConsoleCodePage(L"Header \"" + sofuto + L"#1.mpg\"")),
              std::string::npos)
        << repaired.output;
    EXPECT_EQ(ReadWhole(folder + sofuto + L"#1.mpg"), Repaired(part, header_));

    StartedCli watch = StartCli("watch .", folder_);
    ASSERT_NE(watch.process, nullptr);
    std::string output;
    EXPECT_TRUE(WaitForOutput(watch.output, "Beobachte 1 Ordner.", 10000, &output)) << output;
    EXPECT_TRUE(WriteWhole(folder + hyouji + L"#1.mpg", part));
    EXPECT_TRUE(WaitForOutput(watch.output,
                              InConsoleCodePage(L"Header \"" + hyouji + L"#1.mpg\" restauriert!"),
                              5000, &output))
        << output;
    EXPECT_TRUE(SendCtrlC(watch.process)) << GetLastError();
    EXPECT_EQ(FinishCli(watch).exitCode, 0);
    EXPECT_EQ(ReadWhole(folder + hyouji + L"#1.mpg"), Repaired(part, header_));
}

}  // namespace

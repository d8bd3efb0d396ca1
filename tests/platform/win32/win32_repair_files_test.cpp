// The Windows file layer against the real file system (run under Wine here).
#include "win32_repair_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "win32_file_checks.h"

namespace {

class Win32FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        // Wine hands out the same process ids again, and a folder an earlier
        // run could not remove may still be there: a fresh name each time.
        const std::string stem = std::string(temp) + "velmora-files-" + test->name() + "-" +
                                 std::to_string(GetCurrentProcessId()) + "-";
        bool created = false;
        for (int attempt = 0; attempt < 1000 && !created; ++attempt) {
            folder_ = stem + std::to_string(attempt) + "\\";
            created = CreateDirectoryA(folder_.c_str(), nullptr) != FALSE;
        }
        ASSERT_TRUE(created) << folder_;
    }

    void TearDown() override {
        if (held_ != kNoFolder) {
            files_.ReleaseFolder(held_);  // a held folder cannot be removed
        }
        // Newest first: a folder's files go before the folder itself.
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
            const std::string& name = *it;
            SetFileAttributesA((folder_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA((folder_ + name).c_str());
            RemoveDirectoryA((folder_ + name).c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }

    std::string Path(const std::string& name) const { return folder_ + name; }

    void Write(const std::string& name, const std::string& content) {
        created_.push_back(name);
        const HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ASSERT_TRUE(
            WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
        CloseHandle(file);
    }

    std::string Read(const std::string& name) const {
        const HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return "<cannot open>";
        }
        std::string content(GetFileSize(file, nullptr), '\0');
        DWORD read = 0;
        ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
        CloseHandle(file);
        return content;
    }

    // A follow-up file of "Film.mpg" in the test's folder, held at the first open.
    FileHandle OpenWriting(const std::string& name, OpenFailure* failure) {
        if (held_ == kNoFolder) {
            held_ = files_.HoldFolder(folder_.c_str());
        }
        return files_.OpenForWriting(held_, name.c_str(), "Film.mpg", failure);
    }

    Win32RepairFiles files_{Win32FilesOptions{}};
    FolderHandle held_ = kNoFolder;
    std::string folder_;
    std::vector<std::string> created_;
};

TEST_F(Win32FilesTest, ReadsTheWholeFile) {
    Write("header.mpeg", std::string(100, 'h'));
    const FileHandle file = files_.OpenForReading(Path("header.mpeg").c_str());
    ASSERT_NE(file, kNoFile);
    EXPECT_EQ(files_.FileLength(file), 100u);
    char buffer[200] = {};
    std::uint32_t read = 0;
    EXPECT_TRUE(files_.ReadBytes(file, buffer, sizeof buffer, &read).ok);
    EXPECT_EQ(read, 100u);
    EXPECT_EQ(std::string(buffer, read), std::string(100, 'h'));
    // A failed call brings the system's reason with it.
    std::uint32_t written = 0;
    const FileResult refused = files_.WriteBytes(file, "x", 1, &written);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.systemError, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    files_.CloseFile(file);
}

TEST_F(Win32FilesTest, OpensOnlyExistingRegularFiles) {
    created_.push_back("folder.mpg");
    ASSERT_TRUE(CreateDirectoryA(Path("folder.mpg").c_str(), nullptr));
    OpenFailure failure = OpenFailure::None;

    EXPECT_EQ(files_.OpenForReading(Path("missing.mpeg").c_str()), kNoFile);
    EXPECT_EQ(files_.OpenForReading(Path("folder.mpg").c_str()), kNoFile);
    EXPECT_EQ(files_.OpenForReading("NUL"), kNoFile);
    EXPECT_EQ(OpenWriting("missing.mpg", &failure), kNoFile);
    EXPECT_EQ(failure, OpenFailure::Unavailable);
    EXPECT_EQ(OpenWriting("folder.mpg", &failure), kNoFile);
    EXPECT_EQ(OpenWriting("NUL", &failure), kNoFile);
    EXPECT_EQ(OpenWriting("CON", &failure), kNoFile);
    // A missing follow-up file is never created.
    EXPECT_EQ(GetFileAttributesA(Path("missing.mpg").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A follow-up name is written only when it is itself the file: a symbolic
// link in its place could lead anywhere.
TEST_F(Win32FilesTest, FollowUpFileIsNeverWrittenThroughALink) {
    Write("target.bin", "0123456789");
    created_.push_back("Film#1.mpg");
    const DWORD attributes =
        CreateSymbolicLinkA(Path("Film#1.mpg").c_str(), Path("target.bin").c_str(), 0)
            ? GetFileAttributesA(Path("Film#1.mpg").c_str())
            : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "this system made no symbolic link (error " << GetLastError() << ")";
    }
    OpenFailure failure = OpenFailure::None;
    EXPECT_EQ(OpenWriting("Film#1.mpg", &failure), kNoFile);
    EXPECT_EQ(failure, OpenFailure::Unavailable);
    EXPECT_EQ(Read("target.bin"), "0123456789");
}

TEST_F(Win32FilesTest, HeldFilesAreExclusive) {
    Write("Film#1.mpg", "0123456789");
    OpenFailure failure = OpenFailure::None;
    const FileHandle held = OpenWriting("Film#1.mpg", &failure);
    ASSERT_NE(held, kNoFile);
    EXPECT_EQ(failure, OpenFailure::None);

    // Neither this program nor anyone else gets it while it is held, even
    // when asking to share everything.
    EXPECT_EQ(OpenWriting("Film#1.mpg", &failure), kNoFile);
    EXPECT_EQ(failure, OpenFailure::Unavailable);
    EXPECT_EQ(files_.OpenForReading(Path("Film#1.mpg").c_str()), kNoFile);
    const HANDLE other = CreateFileA(Path("Film#1.mpg").c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    files_.CloseFile(held);

    const FileHandle again = OpenWriting("Film#1.mpg", &failure);
    EXPECT_NE(again, kNoFile);
    files_.CloseFile(again);
}

TEST_F(Win32FilesTest, FileHeldElsewhereIsNotOpened) {
    Write("Film#1.mpg", "0123456789");
    const HANDLE other = CreateFileA(Path("Film#1.mpg").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    OpenFailure failure = OpenFailure::None;
    EXPECT_EQ(OpenWriting("Film#1.mpg", &failure), kNoFile);
    EXPECT_EQ(failure, OpenFailure::Unavailable);
    CloseHandle(other);
}

TEST_F(Win32FilesTest, WritesOverTheStartWithoutTruncating) {
    Write("Film#1.mpg", "0123456789");
    Write("Film#2.mpg", "xy");
    OpenFailure failure = OpenFailure::None;
    std::uint32_t written = 0;

    FileHandle file = OpenWriting("Film#1.mpg", &failure);
    ASSERT_NE(file, kNoFile);
    EXPECT_TRUE(files_.WriteBytes(file, "ab", 2, &written).ok);
    EXPECT_EQ(written, 2u);
    files_.CloseFile(file);
    EXPECT_EQ(Read("Film#1.mpg"), "ab23456789");

    // A shorter file grows to the written length.
    file = OpenWriting("Film#2.mpg", &failure);
    ASSERT_NE(file, kNoFile);
    EXPECT_TRUE(files_.WriteBytes(file, "ABCDE", 5, &written).ok);
    files_.CloseFile(file);
    EXPECT_EQ(Read("Film#2.mpg"), "ABCDE");
}

TEST_F(Win32FilesTest, OpensInTheGivenDirectoryNotTheCurrentOne) {
    Write("Film#1.mpg", "in the base directory");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    ASSERT_TRUE(SetCurrentDirectoryA(temp));

    OpenFailure failure = OpenFailure::None;
    const FileHandle file = OpenWriting("Film#1.mpg", &failure);
    ASSERT_NE(file, kNoFile);
    std::uint32_t written = 0;
    files_.WriteBytes(file, "IN", 2, &written);
    files_.CloseFile(file);
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(Read("Film#1.mpg"), "IN the base directory");

    // Without an absolute directory nothing is opened at all.
    EXPECT_EQ(files_.HoldFolder(""), kNoFolder);
    EXPECT_EQ(files_.HoldFolder("relative\\"), kNoFolder);
}

TEST_F(Win32FilesTest, NamesThatLeaveTheDirectoryAreNeverOpened) {
    created_.push_back("sub");
    ASSERT_TRUE(CreateDirectoryA(Path("sub").c_str(), nullptr));
    Write("sub\\Film#1.mpg", "inside");
    Write("Film", "a stream host");
    OpenFailure failure = OpenFailure::None;
    for (const char* name : {"sub\\Film#1.mpg", "sub/Film#1.mpg", ".", "..", "", "Film:1.mpg"}) {
        EXPECT_EQ(OpenWriting(name, &failure), kNoFile) << name;
        EXPECT_EQ(failure, OpenFailure::Unavailable) << name;
    }
    EXPECT_EQ(Read("sub\\Film#1.mpg"), "inside");
}

TEST_F(Win32FilesTest, JoinedPathsOverTheLimitAreRefused) {
    EXPECT_EQ(files_.MaxPathLength(), 259u);
    const std::string name(MAX_PATH - folder_.size(), 'n');  // joined: 260 bytes
    OpenFailure failure = OpenFailure::None;
    EXPECT_EQ(OpenWriting(name, &failure), kNoFile);
    EXPECT_EQ(failure, OpenFailure::Unavailable);
}

// Root's permission override must be dropped for this one (make test-windows
// does so); on Windows an administrator is refused as well.
TEST_F(Win32FilesTest, ReadOnlyFilesAreNotOpenedForWriting) {
    Write("Film#1.mpg", "0123456789");
    ASSERT_TRUE(SetFileAttributesA(Path("Film#1.mpg").c_str(), FILE_ATTRIBUTE_READONLY));
    OpenFailure failure = OpenFailure::None;
    EXPECT_EQ(OpenWriting("Film#1.mpg", &failure), kNoFile);
    EXPECT_EQ(failure, OpenFailure::Unavailable);
    EXPECT_EQ(Read("Film#1.mpg"), "0123456789");
}

TEST_F(Win32FilesTest, SizesOfFourGibibytesAndMoreAreUnknown) {
    created_.push_back("huge.mpeg");
    const HANDLE huge = CreateFileA(Path("huge.mpeg").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(huge, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000LL + 100;  // sparse: no disk space is used
    ASSERT_TRUE(SetFilePointerEx(huge, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(huge));
    CloseHandle(huge);

    const FileHandle file = files_.OpenForReading(Path("huge.mpeg").c_str());
    ASSERT_NE(file, kNoFile);
    EXPECT_EQ(files_.FileLength(file), kUnknownLength);
    files_.CloseFile(file);
}

// A held folder keeps its name: Windows renames no folder above an open
// handle either. Wine does let a folder above it be renamed; the held
// folder's name then leads elsewhere, so it counts as gone and nothing is
// opened, least of all the file of the same name now under that name.
TEST_F(Win32FilesTest, HeldFolderWhoseNameLeadsElsewhereIsGone) {
    for (const char* folder : {"tv", "tv\\aufnahmen"}) {
        created_.push_back(folder);
        ASSERT_TRUE(CreateDirectoryA(Path(folder).c_str(), nullptr)) << folder;
    }
    Write("tv\\aufnahmen\\Film#1.mpg", "0123456789");
    held_ = files_.HoldFolder(Path("tv\\aufnahmen\\").c_str());
    ASSERT_NE(held_, kNoFolder);
    OpenFailure failure = OpenFailure::None;
    if (MoveFileA(Path("tv").c_str(), Path("tv.old").c_str())) {
        ASSERT_TRUE(CreateDirectoryA(Path("tv").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(Path("tv\\aufnahmen").c_str(), nullptr));
        Write("tv\\aufnahmen\\Film#1.mpg", "elsewhere");
        EXPECT_EQ(files_.OpenForWriting(held_, "Film#1.mpg", "Film.mpg", &failure), kNoFile);
        EXPECT_EQ(failure, OpenFailure::FolderGone);
        EXPECT_EQ(Read("tv\\aufnahmen\\Film#1.mpg"), "elsewhere");
        // Put back, the held folder's file is opened again.
        ASSERT_TRUE(DeleteFileA(Path("tv\\aufnahmen\\Film#1.mpg").c_str()));
        ASSERT_TRUE(RemoveDirectoryA(Path("tv\\aufnahmen").c_str()));
        ASSERT_TRUE(RemoveDirectoryA(Path("tv").c_str()));
        ASSERT_TRUE(MoveFileA(Path("tv.old").c_str(), Path("tv").c_str()));
    }
    const FileHandle file = files_.OpenForWriting(held_, "Film#1.mpg", "Film.mpg", &failure);
    ASSERT_NE(file, kNoFile);
    files_.CloseFile(file);
}

// Run under a Japanese system's code page (932; CTest sets LC_ALL for
// these), where the second byte of many characters is 0x5C, the byte of
// '\\': names are taken apart by characters.
class Win32FilesCp932Test : public Win32FilesTest {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 932u) << "needs LC_ALL=ja_JP.UTF-8 and that locale generated";
        Win32FilesTest::SetUp();
    }
};

TEST_F(Win32FilesCp932Test, DoubleByteNamesArePlainAndRepaired) {
    const std::string hyouji = "\x95\x5C\x8E\xA6";  // two characters, the first ending in 0x5C
    const std::string sofuto = "\x83\x5C\x83\x74\x83\x67";  // three, the first ending in 0x5C
    EXPECT_TRUE(IsPlainWindowsFileName((hyouji + "#1.mpg").c_str(), kAnsiCodePage));
    EXPECT_TRUE(IsPlainWindowsFileName((sofuto + "#1.mpg").c_str(), kAnsiCodePage));
    EXPECT_FALSE(IsPlainWindowsFileName((hyouji + "\\#1.mpg").c_str(), kAnsiCodePage));
    EXPECT_FALSE(IsPlainWindowsFileName("a\\b", kAnsiCodePage));

    for (const std::string& stem : {hyouji, sofuto}) {
        Write(stem + "#1.mpg", "0123456789");
        OpenFailure failure = OpenFailure::None;
        const FileHandle file = OpenWriting(stem + "#1.mpg", &failure);
        ASSERT_NE(file, kNoFile) << stem;
        std::uint32_t written = 0;
        EXPECT_TRUE(files_.WriteBytes(file, "ab", 2, &written).ok);
        files_.CloseFile(file);
        EXPECT_EQ(Read(stem + "#1.mpg"), "ab23456789");
    }
}

TEST(Win32FileNames, PlainNamesAndAbsolutePaths) {
    for (const unsigned codePage : {kAnsiCodePage, kUtf8CodePage}) {
        EXPECT_TRUE(IsPlainWindowsFileName("Film#1.mpg", codePage));
        EXPECT_TRUE(IsPlainWindowsFileName("..Film", codePage));
        EXPECT_FALSE(IsPlainWindowsFileName("a\\b", codePage));
        EXPECT_FALSE(IsPlainWindowsFileName("a/b", codePage));
        EXPECT_FALSE(IsPlainWindowsFileName("C:b", codePage));
        EXPECT_FALSE(IsPlainWindowsFileName(".", codePage));
        EXPECT_FALSE(IsPlainWindowsFileName("..", codePage));
        EXPECT_FALSE(IsPlainWindowsFileName("", codePage));
    }

    EXPECT_TRUE(IsAbsoluteWindowsPath("C:\\Rec\\"));
    EXPECT_TRUE(IsAbsoluteWindowsPath("z:/rec/"));
    EXPECT_TRUE(IsAbsoluteWindowsPath("\\\\server\\share\\"));
    EXPECT_FALSE(IsAbsoluteWindowsPath("C:Rec\\"));
    EXPECT_FALSE(IsAbsoluteWindowsPath("\\Rec\\"));
    EXPECT_FALSE(IsAbsoluteWindowsPath("Rec\\"));
    EXPECT_FALSE(IsAbsoluteWindowsPath(""));
}

// One answer for both file layers: a device name in any folder is a
// device; a path too long to have a full form names none (it cannot be
// opened at all).
TEST(Win32FileChecks, DeviceNames) {
    EXPECT_TRUE(IsDeviceName(L"NUL"));
    EXPECT_TRUE(IsDeviceName(L"C:\\Rec\\COM1.mpg"));
    EXPECT_FALSE(IsDeviceName(L"C:\\Rec\\Film#1.mpg"));
    EXPECT_FALSE(IsDeviceName(L"C:\\" + std::wstring(40000, L'a')));
}

}  // namespace

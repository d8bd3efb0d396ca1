// velmora-cli watch as a running service under a seeded random walk of file
// operations: parts recorded, grown, held, rewritten, renamed in and out and
// deleted; base files that come before or after their parts; parts the
// service must leave alone (sound, short, #0, another user's); and a parent
// folder swapped for a link. A model says what every file must end as. Now
// and then the walk lets go of everything, waits until the service is idle
// and checks every file and every line it printed.
// VELMORA_WALK_SEED replays a run, VELMORA_WALK_STEPS makes it longer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>

#include "cli_process.h"
#include "linux_test_support.h"
#include "lock_free_recorder.h"
#include "program_stream.h"
#include "proof_support.h"

namespace {

const Bytes kTemplate = Pattern(kLostHeadSize, 77);
const char* const kSeries[] = {"Film", "Talk"};
constexpr int kSeriesCount = 2;
constexpr int kLastNumber = 5;                // the walk's names: Film#0.mpg .. Film#5.mpg
constexpr int kPokeNumber = kLastNumber + 1;  // written only into a folder swapped away
constexpr long kStepsBetweenChecks = 100;

// An MPEG-2 pack header directly followed by a system header (one video, one
// audio stream), as ffmpeg starts a program stream.
const Bytes kSoundStart = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x43,
                           0x43, 0x5B, 0xF8, 0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C, 0xA1, 0xA1,
                           0xAD, 0x04, 0x21, 0xFF, 0xE0, 0xE0, 0xE6, 0xC0, 0xC0, 0x20};

std::string RepairedLine(const std::string& name) {
    return "Header \"" + name + "\" restauriert!";
}

// Zeros where the template goes, or a sound stream start.
void WriteHead(Bytes& bytes, bool sound) {
    std::fill_n(bytes.begin(), std::min<std::size_t>(bytes.size(), kLostHeadSize), 0);
    if (sound) {
        std::copy(kSoundStart.begin(), kSoundStart.end(), bytes.begin());
    }
}

// Writes bytes [from, to) at their place in the file, without any lock.
bool WriteAt(const std::string& path, const Bytes& bytes, std::size_t from, std::size_t to) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool written =
        fd >= 0 && pwrite(fd, bytes.data() + from, to - from, static_cast<off_t>(from)) ==
                       static_cast<ssize_t>(to - from);
    return fd >= 0 && close(fd) == 0 && written;
}

std::string Describe(const Bytes& actual, const Bytes& body) {
    return actual == body ? "as the walk left it"
           : actual == WithHead(body, kTemplate)
               ? "repaired"
               : "changed otherwise (" + std::to_string(actual.size()) + " of " +
                     std::to_string(body.size()) + " bytes)";
}

struct WalkFile {
    std::string name;            // in the watched folder
    std::string path;            // where it is now
    Bytes body;                  // what the walk last wrote
    bool inside = true;          // in the watched folder, not renamed out
    bool mayBeRepaired = false;  // left while a repair may have been due
    int series = 0;
    int number = 0;
    unsigned serial = 0;  // tells its bytes from other files'
    bool sound = false;
    bool otherOwner = false;
    bool needsNewLine = true;  // its head was damaged since the last check
    bool heldSinceHeadWritten = false;
    std::unique_ptr<HolderProcess> holder;
    long releaseStep = 0;
    std::string history;
};

// A file the walk no longer changes: it must stay as it is, or with
// `mayBeRepaired` be repaired.
WalkFile LeftFile(const std::string& path, Bytes body, bool mayBeRepaired) {
    WalkFile file;
    file.path = path;
    file.body = std::move(body);
    file.inside = false;
    file.mayBeRepaired = mayBeRepaired;
    return file;
}

class WatchWalk : public ::testing::Test {
protected:
    void SetUp() override {
        const auto now = std::chrono::system_clock::now().time_since_epoch().count();
        seed_ = static_cast<unsigned>(RunSize("VELMORA_WALK_SEED", static_cast<unsigned>(now)));
        steps_ = RunSize("VELMORA_WALK_STEPS", kUnderAddressSanitizer ? 100 : 200);
        random_.seed(seed_);
        std::printf("walk seed %u, %ld steps (replay: VELMORA_WALK_SEED=%u)\n", seed_, steps_,
                    seed_);
        for (int series = 0; series < kSeriesCount; ++series) {
            baseStep_[series] = static_cast<long>(Draw(static_cast<unsigned>(steps_ * 2 / 3 + 1)));
        }
        swapStep_ = steps_ / 3 + static_cast<long>(Draw(static_cast<unsigned>(steps_ / 3 + 1)));
        ASSERT_EQ(CheckFileStart(kSoundStart.data(), kSoundStart.size()).verdict,
                  StartVerdict::Valid);
        for (const std::string& folder : {watched_, second_, outside_, elsewhere_ + "aufnahmen/"}) {
            std::filesystem::create_directories(folder);
        }
        // Every name of the walk's, waiting for a repair, where the links
        // lead: nothing here may ever be written.
        const std::string links = elsewhere_ + "aufnahmen/";
        for (const std::string stem : {"Film", "Talk", "Radio"}) {
            elsewhereBytes_[links + stem + ".mpg"] = Pattern(8000, 5);
            for (int number = 0; number <= kPokeNumber; ++number) {
                elsewhereBytes_[links + FollowUpOf(stem, number)] = Damaged(5000, 6);
            }
        }
        for (const auto& [path, bytes] : elsewhereBytes_) {
            ASSERT_TRUE(WriteFile(path, bytes));
        }
        WriteFile(root_ / "header.mpeg", kTemplate);
        WriteFile(second_ + "Radio.mpg", Pattern(8000, 3));
        WriteFile(second_ + "Radio#1.mpg", Damaged(5000, 4));
        service_ = std::make_unique<WatchProcess>(
            std::vector<std::string>{watched_, second_, "--header", root_ / "header.mpeg"},
            root_.path());
        ASSERT_TRUE(service_->WaitUntilReady());
        ASSERT_TRUE(service_->WaitForOut(RepairedLine("Radio#1.mpg")));
    }

    unsigned Draw(unsigned count) { return static_cast<unsigned>(random_() % count); }

    // Mostly none, sometimes a moment, now and then long enough for the
    // service to finish what it does.
    void Pause() {
        const unsigned kind = Draw(10);
        if (kind >= 5) {
            usleep(kind < 9 ? Draw(3000) : 10000 + Draw(20000));
        }
    }

    // A part the service must repair once its base file is there.
    static bool NeedsRepair(const WalkFile& file) {
        return file.inside && file.number >= 1 && !file.otherOwner && !file.sound &&
               file.body.size() >= kLostHeadSize;
    }
    bool MustEndRepaired(const WalkFile& file) const {
        return NeedsRepair(file) && baseMade_[file.series];
    }

    WalkFile* Inside(const std::string& name) {
        const auto found = std::find_if(files_.begin(), files_.end(), [&](const WalkFile& file) {
            return file.inside && file.name == name;
        });
        return found == files_.end() ? nullptr : &*found;
    }

    // A head the walk wrote and closed.
    void HeadWritten(WalkFile& file, const std::string& what, long step) {
        const char* kind = file.sound                         ? "sound"
                           : file.body.size() < kLostHeadSize ? "short"
                           : file.otherOwner                  ? "another user's"
                                                              : "damaged";
        file.history += "step " + std::to_string(step) + ": " + what + " " + kind + "; ";
        file.needsNewLine = true;
        if (std::string(kind) != "damaged") {
            unusualNames_.insert(file.name);
        }
        damages_[file.name] += NeedsRepair(file);
    }

    // A new part under a name of the walk's (a file already there is
    // deleted): mostly one that needs its header, else sound, short or
    // another user's.
    WalkFile NewPart() {
        WalkFile file;
        file.series = static_cast<int>(Draw(kSeriesCount));
        file.number = static_cast<int>(Draw(kLastNumber + 1));
        file.name = FollowUpOf(kSeries[file.series], file.number);
        file.history = file.name + ": ";
        Delete(file.name);
        file.serial = nextSerial_++;
        const unsigned kind = Draw(20);
        file.sound = kind >= 11 && kind < 14;
        file.otherOwner = kind >= 17 && geteuid() == 0;
        const std::size_t size =
            kind >= 14 && kind < 17 ? 1 + Draw(kLostHeadSize - 1) : kLostHeadSize + 1 + Draw(6000);
        file.body = Pattern(size, file.serial);
        WriteHead(file.body, file.sound);
        return file;
    }

    // As a recorder writes: no lock, two writes with a pause between them;
    // another user's part is given away before its close. With `hold`, a
    // holder opens it before the close, so the service never meets it free.
    void Record(WalkFile& file, bool hold, long step) {
        const int fd = open(file.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << file.path << ": " << std::strerror(errno);
        const std::size_t split = Draw(static_cast<unsigned>(file.body.size()));
        const std::size_t rest = file.body.size() - split;
        bool written = pwrite(fd, file.body.data(), split, 0) == static_cast<ssize_t>(split);
        Pause();
        written = written && pwrite(fd, file.body.data() + split, rest,
                                    static_cast<off_t>(split)) == static_cast<ssize_t>(rest);
        written = written && (!file.otherOwner || fchown(fd, 65534, 65534) == 0);
        if (hold) {
            HoldFile(file, step);
            file.heldSinceHeadWritten = true;
        }
        EXPECT_TRUE(close(fd) == 0 && written) << file.path;
    }

    // One holder at a time: a second one would keep the first one's pipe.
    bool Holding() const {
        return std::any_of(files_.begin(), files_.end(),
                           [](const WalkFile& file) { return file.holder != nullptr; });
    }

    void HoldFile(WalkFile& file, long step) {
        const int modes[] = {O_RDONLY, O_WRONLY, HolderProcess::kMapped};
        file.holder = std::make_unique<HolderProcess>(file.path, modes[Draw(3)]);
        file.releaseStep = step + 1 + Draw(8);
        file.heldSinceHeadWritten = false;
        file.history += "step " + std::to_string(step) + ": held; ";
        EXPECT_TRUE(file.holder->held()) << file.path;
    }

    // A file held since the walk last wrote its head was never free.
    void LetGoOfDue(long step) {
        for (WalkFile& file : files_) {
            if (file.holder == nullptr || file.releaseStep > step) {
                continue;
            }
            if (file.heldSinceHeadWritten && ReadFile(file.path) != file.body) {
                ADD_FAILURE() << file.name << " written while held: " << file.history;
            }
            file.holder.reset();
            file.heldSinceHeadWritten = false;
            file.history += "let go; ";
        }
    }

    void Delete(const std::string& name) {
        if (WalkFile* file = Inside(name)) {
            EXPECT_EQ(unlink(file->path.c_str()), 0) << name;
            files_.erase(files_.begin() + (file - files_.data()));
        }
    }

    void RecordInside(long step) {
        WalkFile file = NewPart();
        file.path = watched_ + file.name;
        HeadWritten(file, "recorded", step);
        Record(file, !Holding() && Draw(4) == 0, step);
        files_.push_back(std::move(file));
    }

    void RenameIn(long step) {
        WalkFile file = NewPart();
        file.path = outside_ + "in-" + std::to_string(file.serial);
        Record(file, false, step);
        const std::string path = watched_ + file.name;
        EXPECT_EQ(rename(file.path.c_str(), path.c_str()), 0) << path;
        file.path = path;
        HeadWritten(file, "renamed in", step);
        files_.push_back(std::move(file));
    }

    // Appends to a part as its recorder does; its head stays as it is.
    void Grow(WalkFile& file, long step) {
        const std::size_t size = file.body.size();
        const Bytes grown = Pattern(size + 1 + Draw(4000), file.serial);
        file.body.insert(file.body.end(), grown.begin() + static_cast<long>(size), grown.end());
        EXPECT_TRUE(WriteAt(file.path, file.body, size, file.body.size())) << file.path;
        file.history += "step " + std::to_string(step) + ": grown; ";
    }

    // The head written again: damaged, or now and then a sound stream start.
    void Rewrite(WalkFile& file, long step) {
        file.sound = Draw(4) == 0;
        WriteHead(file.body, file.sound);
        EXPECT_TRUE(WriteAt(file.path, file.body, 0, kLostHeadSize)) << file.path;
        file.heldSinceHeadWritten = file.holder != nullptr;
        HeadWritten(file, "rewritten", step);
    }

    void RenameOut(WalkFile& file, long step) {
        const std::string path = outside_ + "out-" + std::to_string(file.serial);
        EXPECT_EQ(rename(file.path.c_str(), path.c_str()), 0) << file.path;
        file.path = path;
        file.mayBeRepaired = MustEndRepaired(file);
        file.inside = false;
        file.history += "step " + std::to_string(step) + ": renamed out; ";
    }

    void MakeBase(int series) {
        files_.push_back(LeftFile(watched_ + kSeries[series] + ".mpg", Pattern(8000, 7), false));
        EXPECT_TRUE(WriteFile(files_.back().path, files_.back().body));
        baseMade_[series] = true;
        for (WalkFile& file : files_) {
            file.history += file.inside && file.series == series ? "base file made; " : "";
        }
    }

    void Step(long step) {
        for (int series = 0; series < kSeriesCount; ++series) {
            if (step == baseStep_[series]) {
                MakeBase(series);
            }
        }
        if (step == swapStep_) {
            SwapForLink(root_ / "rec/radio", "Radio#2.mpg");
            files_.push_back(LeftFile(root_ / "rec/radio.old/aufnahmen/Radio#1.mpg",
                                      WithHead(Damaged(5000, 4), kTemplate), false));
            secondSwapped_ = true;
        }
        LetGoOfDue(step);
        std::vector<WalkFile*> inside;
        for (WalkFile& file : files_) {
            if (file.inside) {
                inside.push_back(&file);
            }
        }
        const unsigned operation = Draw(10);
        WalkFile* file =
            inside.empty() ? nullptr : inside[Draw(static_cast<unsigned>(inside.size()))];
        const bool full = file != nullptr && file->body.size() >= kLostHeadSize;
        if (operation < 3 || file == nullptr) {
            RecordInside(step);
        } else if (operation == 3) {
            RenameIn(step);
        } else if (operation == 4 && full) {
            Grow(*file, step);
        } else if (operation == 5 && full) {
            Rewrite(*file, step);
        } else if (operation == 6 && !Holding()) {
            HoldFile(*file, step);
        } else if (operation == 7) {
            RenameOut(*file, step);
        } else if (operation == 8) {
            Delete(file->name);
        }
        Pause();
    }

    // `parent` becomes a link to the folder with files of the same names; a
    // new part in the folder the service watched gives it an event to act on
    // (and it may act on it before it sees the folder gone).
    void SwapForLink(const std::string& parent, const std::string& pokeName) {
        ASSERT_EQ(rename(parent.c_str(), (parent + ".old").c_str()), 0);
        ASSERT_EQ(symlink(elsewhere_.c_str(), parent.c_str()), 0);
        files_.push_back(LeftFile(parent + ".old/aufnahmen/" + pokeName, Damaged(5000, 9), true));
        ASSERT_TRUE(WriteFile(files_.back().path, files_.back().body));
    }

    Bytes Expected(const WalkFile& file) const {
        return MustEndRepaired(file) ? WithHead(file.body, kTemplate) : file.body;
    }

    std::string CheckFiles() {
        std::string problems;
        for (const WalkFile& file : files_) {
            const Bytes actual = ReadFile(file.path);
            if (actual != Expected(file) &&
                !(file.mayBeRepaired && actual == WithHead(file.body, kTemplate))) {
                problems += file.path + " is " + Describe(actual, file.body) + ", must be " +
                            Describe(Expected(file), file.body) + " (" + file.history + ")\n";
            }
        }
        return problems + WrittenElsewhere();
    }

    std::string WrittenElsewhere() {
        std::string problems;
        for (const auto& [path, bytes] : elsewhereBytes_) {
            problems += ReadFile(path) != bytes ? path + " written behind a link\n" : "";
        }
        return problems;
    }

    // Per name: no more repairs than damages, a line for each repair since
    // the last check, and no "not repaired" for a part that needs its header.
    std::string CheckLines() {
        std::string problems;
        const std::string out = service_->Out();
        const std::string printed = out + service_->Err();
        for (int series = 0; series < kSeriesCount; ++series) {
            for (int number = 0; number <= kLastNumber; ++number) {
                const std::string name = FollowUpOf(kSeries[series], number);
                const long lines = CountOf(out, RepairedLine(name));
                if (lines > damages_[name]) {
                    problems += std::to_string(lines) + " repairs of " + name + ", damaged only " +
                                std::to_string(damages_[name]) + " times\n";
                }
                if (unusualNames_.count(name) == 0 &&
                    CountOf(printed, "\"" + name + "\" nicht restauriert") > 0) {
                    problems += name + " reported as not repaired\n";
                }
                const WalkFile* file = Inside(name);
                if (file != nullptr && MustEndRepaired(*file) &&
                    lines <= (file->needsNewLine ? linesAtLastCheck_[name] : 0)) {
                    problems += "no line for the repair of " + name + "\n";
                }
                linesAtLastCheck_[name] = lines;
            }
        }
        return problems;
    }

    // Lets go of every file, waits until the service is idle and checks
    // every file the walk touched and every line the service printed.
    void CheckQuiet(long step) {
        LetGoOfDue(std::numeric_limits<long>::max());
        WaitUntil(
            [this] {
                return std::all_of(files_.begin(), files_.end(), [this](const WalkFile& file) {
                    return !MustEndRepaired(file) || ReadFile(file.path) == Expected(file);
                });
            },
            20000);
        usleep(1500 * 1000);  // past a retry round: nothing more may change
        std::string problems = CheckFiles() + CheckLines();
        if (secondSwapped_ &&
            !service_->WaitForErr("Ordner nicht mehr da: " + second_.substr(0, second_.size() - 1),
                                  1, 10000)) {
            problems += "the swapped folder not reported gone\n";
        }
        if (service_->WaitForExit(0) != -1 || service_->pid() < 0) {
            problems += "the service ended\n";
        }
        for (WalkFile& file : files_) {
            file.needsNewLine = file.needsNewLine && !MustEndRepaired(file);
        }
        EXPECT_EQ(problems, "") << "after step " << step << "; the service's errors:\n"
                                << service_->Err();
    }

    TempDir root_;
    const std::string watched_ = root_ / "rec/tv/aufnahmen/";
    const std::string second_ = root_ / "rec/radio/aufnahmen/";
    const std::string outside_ = root_ / "rec/unterwegs/";
    const std::string elsewhere_ = root_ / "anderswo/";
    unsigned seed_ = 0;
    long steps_ = 0;
    std::mt19937 random_;
    long baseStep_[kSeriesCount] = {};
    bool baseMade_[kSeriesCount] = {};
    long swapStep_ = 0;
    bool secondSwapped_ = false;
    unsigned nextSerial_ = 1;
    std::vector<WalkFile> files_;          // every file the walk touched and did not delete
    std::map<std::string, long> damages_;  // times the walk closed the name's head damaged
    std::map<std::string, long> linesAtLastCheck_;
    std::set<std::string> unusualNames_;  // names that held a part to be left alone
    std::map<std::string, Bytes> elsewhereBytes_;
    std::unique_ptr<WatchProcess> service_;
};

// Every file ends repaired exactly when the model says so, each repair has
// its line and no damage more than one, and nothing behind a swapped link
// is written. At the end the last folder is swapped too: the service ends
// with exit code 1.
TEST_F(WatchWalk, EveryFileEndsAsTheModelSays) {
    SCOPED_TRACE("replay with VELMORA_WALK_SEED=" + std::to_string(seed_));
    for (long step = 0; step < steps_ && !HasFailure(); ++step) {
        Step(step);
        if ((step + 1) % kStepsBetweenChecks == 0 || step + 1 == steps_) {
            CheckQuiet(step);
        }
    }
    if (service_->pid() < 0) {
        return;
    }
    SwapForLink(root_ / "rec/tv", FollowUpOf("Film", kPokeNumber));
    EXPECT_EQ(service_->WaitForExit(10000), 1);
    EXPECT_NE(
        service_->Err().find("Ordner nicht mehr da: " + watched_.substr(0, watched_.size() - 1)),
        std::string::npos)
        << service_->Err();
    EXPECT_EQ(WrittenElsewhere(), "");
}

}  // namespace

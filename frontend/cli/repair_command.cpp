// velmora-cli repair: the follow-up files of a recording that has ended,
// each repaired once, in place, when no other program holds it.
#include <cstdio>
#include <string>

#include "cli_command.h"
#include "cli_files.h"
#include "cli_repair_files.h"
#include "follow_up_head.h"
#include "follow_up_name.h"
#include "header_template.h"
#include "reason_keeping_files.h"
#include "recording_header.h"
#include "repair_controller.h"
#include "repair_step.h"

namespace {

constexpr char kUsage[] =
    "Aufruf: velmora-cli repair BASISDATEI [--postfix P] [--header DATEI | --from-base]\n"
    "\n"
    "Stellt den Header der Folge-Dateien einer beendeten Aufnahme wieder her:\n"
    "zu BASISDATEI Film.mpg die Dateien Film#1.mpg, Film#2.mpg, ... bis zur\n"
    "ersten fehlenden Nummer. Jede Datei wird nur geschrieben, wenn kein anderes\n"
    "Programm sie offen hat; eine, die schon mit dem Header beginnt, bleibt\n"
    "unber\xC3\xBChrt. Eine Zeile je Datei. Vor dem Ende ist jede gemeldete\n"
    "Restaurierung auf dem Datentr\xC3\xA4ger.\n"
    "\n"
    "  --postfix P      Text zwischen Name und Nummer (Vorgabe: #, h\xC3\xB6"
    "chstens 7 Byte)\n"
    "  --header DATEI   der Header (Vorgabe: header.mpeg im aktuellen Ordner)\n"
    "  --from-base      der Header aus der Basis-Datei selbst, wie ihn make-header\n"
    "                   macht (2048 Byte), statt aus einer Header-Datei\n"
    "\n"
    "Exit-Codes: 0 jede vorhandene Folge-Datei ist restauriert oder war es schon,\n"
    "und das auf dem Datentr\xC3\xA4ger; 1 eine war belegt, ohne Exklusivzugriff\n"
    "oder nicht schreibbar, oder das Sichern auf den Datentr\xC3\xA4ger schlug fehl;\n"
    "2 falscher Aufruf, Basis-Datei oder Header nicht lesbar, aus der Basis-Datei\n"
    "kein Header (--from-base).\n";

constexpr char kHeldOrReadOnlySuffix[] =
    "\" nicht restauriert! (von einem anderen Programm ge\xC3\xB6"
    "ffnet oder schreibgesch\xC3\xBCtzt)";

void PrintLine(const char* before, const std::string& name, const char* after) {
    Print(stdout, "%s%s%s\n", before, NameAsText(name).c_str(), after);
    std::fflush(stdout);
}

// Repairs one existing follow-up file whose head was looked at; false when
// it is left unrepaired.
bool RepairOne(ReasonKeepingFiles& files, const HeaderTemplate& headerTemplate, FolderHandle folder,
               const std::string& name, const std::string& baseName, FollowUpHead head) {
    switch (head) {
    case FollowUpHead::Missing:
        return true;  // the caller stops at the first gap before this
    case FollowUpHead::AlreadyRepaired:
        PrintLine(kStatusPrefix, name, "\" bereits restauriert");
        return true;
    case FollowUpHead::NotAFile:
        PrintLine(kStatusPrefix, name,
                  "\" nicht restauriert! (keine gew\xC3\xB6hnliche Datei oder ein Link)");
        return false;
    case FollowUpHead::Empty:
        PrintLine(kStatusPrefix, name, "\" nicht restauriert! (leer)");
        return false;
    case FollowUpHead::Busy:
        PrintLine(kStatusPrefix, name, kHeldOrReadOnlySuffix);
        return false;
    case FollowUpHead::Unreadable:
        PrintLine(kStatusPrefix, name, "\" nicht restauriert! (nicht lesbar)");
        return false;
    case FollowUpHead::NeedsRepair:
        break;
    }
    const Durability durability =
        FlushesEachRepair() ? Durability::FlushedBeforeReturn : Durability::LeftToTheSystem;
    switch (RepairFollowUpFile(files, headerTemplate, folder, name.c_str(), baseName.c_str(),
                               durability)) {
    case RepairResult::Repaired:
        PrintLine(kStatusPrefix, name, kRepairedSuffix);
        return true;
    case RepairResult::Unavailable:
    case RepairResult::TooShort:
    case RepairResult::FolderGone:
        PrintLine(kStatusPrefix, name, kHeldOrReadOnlySuffix);
        return false;
    case RepairResult::OtherOwner:
        PrintLine(FromWindows1252(kOtherOwnerPrefix).c_str(), name, kNoExclusivitySuffix);
        return false;
    case RepairResult::NoExclusivity:
        PrintLine(kNoExclusivityPrefix, name, kNoExclusivitySuffix);
        return false;
    case RepairResult::WriteFailed:
        Print(stderr, "%s: %s (%s)\n", NameAsText(name).c_str(),
              FromWindows1252(kWriteFailedMessage).c_str(), files.lastFailure.c_str());
        PrintLine(kStatusPrefix, name, kNotRepairedSuffix);
        return false;
    case RepairResult::FlushFailed:
        Print(stderr, "%s: nicht auf den Datentr\xC3\xA4ger geschrieben: %s\n",
              NameAsText(name).c_str(), files.lastFailure.c_str());
        PrintLine(kStatusPrefix, name, kNotRepairedSuffix);
        return false;
    }
    return false;
}

// The template from --header (or header.mpeg), or with --from-base made
// from the base file; false with the message why there is none.
bool ChooseTemplate(const CliArguments& arguments, RepairFiles& files, const std::string& basePath,
                    HeaderTemplate* headerTemplate, std::string* message) {
    if (arguments.Has("--from-base")) {
        if (MakeSeriesTemplate(basePath, headerTemplate, message)) {
            return true;
        }
        *message = "kein Header aus der Basis-Datei: " + *message;
        return false;
    }
    const TemplateLoadResult loaded = LoadHeaderTemplateFrom(
        *headerTemplate, files, arguments.Value("--header", kTemplateFileName).c_str());
    if (loaded == TemplateLoadResult::Loaded) {
        return true;
    }
    ReleaseHeaderTemplate(*headerTemplate, files);
    *message = FromWindows1252(TemplateLoadMessage(loaded));
    return false;
}

int UsageError(const std::string& message) {
    Print(stderr, "velmora-cli repair: %s\n", message.c_str());
    return kExitUsage;
}

int RunRepair(const CliArguments& arguments) {
    if (arguments.positional.size() != 1) {
        Print(stderr, "%s", kUsage);
        return kExitUsage;
    }
    if (arguments.Has("--header") && arguments.Has("--from-base")) {
        return UsageError(
            "--header und --from-base schlie\xC3\x9F"
            "en einander aus");
    }
    const std::string postfix = arguments.Value("--postfix", "#");
    if (postfix.size() > kMaxPostfixLength) {
        return UsageError("der Postfix ist l\xC3\xA4nger als 7 Byte");
    }
    std::string basePath;
    std::string directory;
    std::string baseName;
    if (!AbsolutePath(arguments.positional[0].c_str(), &basePath) ||
        !IsRegularFile(basePath.c_str())) {
        return UsageError("Basis-Datei nicht gefunden: " + NameAsText(arguments.positional[0]));
    }
    SplitPath(basePath, &directory, &baseName);
    CliRepairFiles platformFiles;
    ReasonKeepingFiles files{platformFiles};
    // As the windows judge it: the longest follow-up name must fit, in the
    // base file's folder too (Windows allows 259 bytes for the whole path).
    const std::size_t longestName = MaxFollowUpNameLength(baseName.c_str(), postfix.c_str());
    if (longestName > kMaxNameLength || directory.size() + longestName > files.MaxPathLength()) {
        return UsageError("der Name der Basis-Datei ist zu lang");
    }
    HeaderTemplate headerTemplate;
    std::string message;
    if (!ChooseTemplate(arguments, files, basePath, &headerTemplate, &message)) {
        return UsageError(message);
    }
    RepairSync sync;
    if (!BeginRepairSync(directory.c_str(), &sync, &message)) {
        ReleaseHeaderTemplate(headerTemplate, files);
        return UsageError("Ordner der Basis-Datei nicht lesbar: " + message);
    }

    const FolderHandle folder = files.HoldFolder(directory.c_str());
    const std::uint16_t stemLength = StemLengthOfName(baseName.c_str());
    bool allDone = true;
    for (std::uint32_t counter = 1; counter <= UINT16_MAX; ++counter) {
        char name[kNameBufferSize];
        BuildFollowUpName(baseName.c_str(), stemLength, postfix.c_str(),
                          static_cast<std::uint16_t>(counter), name, sizeof name);
        const FollowUpHead head = LookAtHead(directory + name, headerTemplate);
        if (head == FollowUpHead::Missing) {
            break;
        }
        allDone = RepairOne(files, headerTemplate, folder, name, baseName, head) && allDone;
    }
    ReleaseHeaderTemplate(headerTemplate, files);
    files.ReleaseFolder(folder);
    // Also after a run that only found files already repaired: a run killed
    // before its sync may have left them in the system's cache alone.
    if (!FinishRepairSync(&sync, &message)) {
        Print(stderr,
              "velmora-cli repair: die Restaurierungen sind nicht sicher auf dem "
              "Datentr\xC3\xA4ger: %s\n",
              message.c_str());
        return kExitFailed;
    }
    return allDone ? kExitOk : kExitFailed;
}

}  // namespace

const CliCommand kRepairCommand{
    "repair",
    "stellt die Folge-Dateien einer beendeten Aufnahme wieder her",
    kUsage,
    {{"--postfix", "-p", true}, {"--header", nullptr, true}, {"--from-base", nullptr, false}},
    RunRepair,
};

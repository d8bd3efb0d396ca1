// velmora-cli repair: the follow-up files of a recording that has ended,
// each repaired once, in place, when no other program holds it.
#include <cstdio>
#include <string>

#include "byte_text.h"
#include "cli_command.h"
#include "cli_repair_files.h"
#include "file_reads.h"
#include "follow_up_name.h"
#include "follow_up_outcome.h"
#include "header_template.h"
#include "paths.h"
#include "recording_header.h"
#include "repair_controller.h"
#include "repair_step.h"
#include "repair_sync.h"
#include "system_text.h"

namespace {

constexpr auto kUsage = JoinTexts(
    FixedText("Aufruf: velmora-cli repair BASISDATEI [--postfix P] [--header DATEI | --from-base]\n"
              "\n"
              "Stellt den Header der Folge-Dateien einer beendeten Aufnahme wieder her:\n"
              "zu BASISDATEI Film.mpg die Dateien Film#1.mpg, Film#2.mpg, ... bis zur\n"
              "ersten fehlenden Nummer. Jede Datei wird nur geschrieben, wenn kein anderes\n"
              "Programm sie offen hat und sie nicht k\xC3\xBCrzer als der Header ist. Eine, die\n"
              "schon mit dem Header beginnt oder schon wie ein Programmstrom (Pack-Header,\n"
              "direkt dahinter System-Header), bleibt unber\xC3\xBChrt. Eine Zeile je Datei.\n"
              "Vor dem Ende ist jede gemeldete Restaurierung auf dem Datentr\xC3\xA4ger.\n"
              "\n"),
    kPostfixAndHeaderHelp,
    FixedText("  --from-base      der Header aus der Basis-Datei selbst, wie ihn make-header\n"
              "                   macht ("),
    DecimalText<kTemplateMaxLength>(),
    FixedText(" Byte), statt aus einer Header-Datei\n"
              "\n"
              "Exit-Codes: 0 jede vorhandene Folge-Datei ist restauriert oder war es schon,\n"
              "und das auf dem Datentr\xC3\xA4ger; 1 eine war belegt, leer, zu kurz, ohne\n"
              "Exklusivzugriff, eines anderen Eigent\xC3\xBCmers oder nicht schreibbar, oder das\n"
              "Sichern auf den Datentr\xC3\xA4ger schlug fehl;\n"
              "2 falscher Aufruf, Basis-Datei oder Header nicht lesbar, aus der Basis-Datei\n"
              "kein Header (--from-base).\n"));

void PrintLine(const std::string& line) {
    Print(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

// Looks at one existing follow-up file, repairs it when it needs it, and
// says what became of it; false when it is left undone.
bool RepairOne(RepairFiles& files, const SeriesFolder& folder, const std::string& name,
               const std::string& baseName, const HeaderTemplate& headerTemplate, Finding finding,
               const std::string& lookReason) {
    std::string reason = lookReason;
    if (finding == Finding::NeedsRepair) {
        const Durability durability =
            FlushesEachRepair() ? Durability::FlushedBeforeReturn : Durability::LeftToTheSystem;
        finding = RepairFollowUpFileIn(files, folder, name, baseName, headerTemplate, durability,
                                       &reason);
    }
    const FindingReport report = ReportOf(finding, name, reason);
    PrintLine(report.line);
    return report.kind == FindingKind::Done;
}

// The template from --header (or header.mpeg), or with --from-base made
// from the base file; false with the message why there is none.
bool ChooseTemplate(const CliArguments& arguments, RepairFiles& files, const SeriesFolder& folder,
                    const std::string& baseName, HeaderTemplate* headerTemplate,
                    std::string* message) {
    if (arguments.Has("--from-base")) {
        switch (MakeSeriesTemplate(folder, baseName, headerTemplate, message)) {
        case SeriesTemplateResult::Made:
            return true;
        case SeriesTemplateResult::Busy:
        case SeriesTemplateResult::None:
            break;
        }
        *message = "kein Header aus der Basis-Datei: " + *message;
        return false;
    }
    const TemplateLoadResult loaded = LoadHeaderTemplateFrom(
        *headerTemplate, files, arguments.Value("--header", kTemplateFileName).c_str());
    if (loaded == TemplateLoadResult::Loaded) {
        return true;
    }
    *message = FromWindows1252(TemplateLoadMessage(loaded));
    return false;
}

// A follow-up file given in place of its base file would find nothing to
// repair; say what it is instead.
bool IsFollowUpOfAnother(const SeriesFolder& folder, const std::string& name,
                         const std::string& postfix, std::string* problem) {
    char base[kNameBufferSize];
    std::uint16_t number = 0;
    FileStamp stamp;
    if (!ParseFollowUpName(name.c_str(), postfix.c_str(), base, sizeof base, &number) ||
        number == 0 || !StampFileIn(folder.handle, folder.path, base, &stamp) || !stamp.regular) {
        return false;
    }
    *problem = "\"" + NameAsText(name) + "\" ist selbst die Folge-Datei " + std::to_string(number) +
               " von \"" + NameAsText(base) + "\"; die Basis-Datei ist \"" + NameAsText(base) +
               "\"";
    return true;
}

int UsageError(const std::string& message) {
    Print(stderr, "velmora-cli repair: %s\n", message.c_str());
    return kExitUsage;
}

int RunRepair(const CliArguments& arguments) {
    if (arguments.positional.size() != 1) {
        Print(stderr, "%s", kUsage.c_str());
        return kExitUsage;
    }
    if (arguments.Has("--header") && arguments.Has("--from-base")) {
        return UsageError(
            "--header und --from-base schlie\xC3\x9F"
            "en einander aus");
    }
    const std::string postfix = arguments.Value("--postfix", "#");
    std::string problem;
    if (!IsUsablePostfix(postfix, &problem)) {
        return UsageError(problem);
    }
    std::string basePath;
    std::string directory;
    std::string baseName;
    if (!AbsolutePath(arguments.positional[0].c_str(), &basePath) ||
        !IsRegularFile(basePath.c_str())) {
        return UsageError("Basis-Datei nicht gefunden: " + NameAsText(arguments.positional[0]));
    }
    SplitPath(basePath, &directory, &baseName);
    CliRepairFiles files;
    // As the windows judge it: the longest follow-up name must fit, and in
    // the base file's folder the longest path the file layer opens.
    const std::size_t longestName = MaxFollowUpNameLength(baseName.c_str(), postfix.c_str());
    if (longestName > kMaxNameLength) {
        return UsageError("der Name der Basis-Datei ist zu lang");
    }
    if (directory.size() + longestName > files.MaxPathLength()) {
        return UsageError("der Pfad des Ordners der Basis-Datei ist zu lang");
    }
    // Held from here on: every file of the series is read and written in
    // this folder, whatever becomes of its name meanwhile.
    const SeriesFolder folder{files.HoldFolder(directory.c_str()), directory};
    if (folder.handle == kNoFolder) {
        return UsageError("Ordner der Basis-Datei nicht lesbar: " + NameAsText(directory));
    }
    HeaderTemplate headerTemplate;
    std::string message;
    if (!ChooseTemplate(arguments, files, folder, baseName, &headerTemplate, &message)) {
        files.ReleaseFolder(folder.handle);
        return UsageError(message);
    }
    RepairSync sync;
    if (!BeginRepairSync(directory.c_str(), &sync, &message)) {
        headerTemplate.ReleaseFile();
        files.ReleaseFolder(folder.handle);
        return UsageError("Ordner der Basis-Datei nicht lesbar: " + message);
    }

    const std::uint16_t stemLength = StemLengthOfName(baseName.c_str());
    bool allDone = true;
    bool followUpOfAnother = false;
    for (std::uint32_t counter = 1; counter <= UINT16_MAX; ++counter) {
        char name[kNameBufferSize];
        BuildFollowUpName(baseName.c_str(), stemLength, postfix.c_str(),
                          static_cast<std::uint16_t>(counter), name, sizeof name);
        std::string reason;
        const Finding finding = LookAtFollowUpFile(folder, name, headerTemplate, &reason);
        if (finding == Finding::Missing) {
            followUpOfAnother =
                counter == 1 && IsFollowUpOfAnother(folder, baseName, postfix, &problem);
            if (counter == 1 && !followUpOfAnother) {
                PrintLine("Keine Folge-Datei: \"" + NameAsText(name) + "\" gibt es nicht");
            }
            break;
        }
        allDone =
            RepairOne(files, folder, name, baseName, headerTemplate, finding, reason) && allDone;
    }
    headerTemplate.ReleaseFile();
    files.ReleaseFolder(folder.handle);
    if (followUpOfAnother) {
        FinishRepairSync(&sync, &message);
        return UsageError(problem);
    }
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
    kUsage.c_str(),
    {{"--postfix", "-p", true}, {"--header", nullptr, true}, {"--from-base", nullptr, false}},
    RunRepair,
};

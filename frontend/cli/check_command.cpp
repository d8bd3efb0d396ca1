// velmora-cli check: whether files start as strict players and editors
// require, and with --header whether they start with that template.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli_command.h"
#include "file_reads.h"
#include "header_template.h"
#include "program_stream.h"
#include "system_text.h"

namespace {

constexpr char kUsage[] =
    "Aufruf: velmora-cli check DATEI... [--header DATEI]\n"
    "\n"
    "Pr\xC3\xBC"
    "ft f\xC3\xBCr jede DATEI, ob sie so beginnt, wie strenge Abspieler und\n"
    "Schnittprogramme es verlangen: bei Byte 0 ein g\xC3\xBCltiger Pack-Header\n"
    "(MPEG-1 oder MPEG-2), direkt dahinter ein g\xC3\xBCltiger System-Header. Eine\n"
    "solche Datei ist in Ordnung; repair und watch lassen sie unber\xC3\xBChrt. Mit\n"
    "--header auch, ob die Datei mit genau diesem Header beginnt. Eine Zeile je\n"
    "Datei.\n"
    "\n"
    "  --header DATEI   der Header, mit dem jede Datei beginnen soll\n"
    "\n"
    "Exit-Codes: 0 alle Dateien in Ordnung; 1 mindestens eine nicht; 2 falscher\n"
    "Aufruf, eine Datei oder der Header nicht lesbar.\n";

const char* SystemName(const PackHeader& pack) {
    return pack.system == MpegSystem::Mpeg1 ? "MPEG-1" : "MPEG-2";
}

// What the start of a file holds, in words; *passed tells whether it is
// what strict programs require.
std::string JudgeStart(const FileStart& start, bool* passed) {
    const std::string pack = std::string(SystemName(start.pack)) + "-Pack-Header";
    *passed = start.verdict == StartVerdict::Valid;
    switch (start.verdict) {
    case StartVerdict::Valid:
        return pack + " mit System-Header";
    case StartVerdict::NoPackHeader:
        return "kein g\xC3\xBCltiger Pack-Header bei Byte 0";
    case StartVerdict::PackHeaderTruncated:
        return "Pack-Header bei Byte 0 abgeschnitten (Datei zu kurz)";
    case StartVerdict::NoSystemHeader:
        return pack + " ohne System-Header direkt dahinter";
    case StartVerdict::BadSystemHeader:
        return pack + " mit ung\xC3\xBCltigem oder abgeschnittenem System-Header";
    }
    return "";
}

bool StartsWithTemplate(const std::vector<unsigned char>& bytes,
                        const HeaderTemplate& headerTemplate) {
    return bytes.size() >= headerTemplate.length &&
           std::memcmp(bytes.data(), headerTemplate.bytes, headerTemplate.length) == 0;
}

// Checks one file and prints its line; the exit code it calls for.
int CheckOne(const std::string& path, const HeaderTemplate* headerTemplate) {
    std::vector<unsigned char> bytes(kLongestPackAndSystemHeader);
    std::size_t count = 0;
    const char* unreadable = nullptr;
    switch (ReadFileStart(path.c_str(), bytes.data(), bytes.size(), &count)) {
    case ReadHeadResult::Read:
        break;
    case ReadHeadResult::Missing:
        unreadable = "nicht gefunden";
        break;
    case ReadHeadResult::NotAFile:
        unreadable = "keine gew\xC3\xB6hnliche Datei";
        break;
    case ReadHeadResult::Busy:
        unreadable =
            "von einem anderen Programm ge\xC3\xB6"
            "ffnet";
        break;
    case ReadHeadResult::Failed:
        unreadable = "Lesefehler";
        break;
    }
    if (unreadable != nullptr) {
        Print(stdout, "%s: nicht lesbar: %s\n", NameAsText(path).c_str(), unreadable);
        return kExitUsage;
    }
    bytes.resize(count);
    bool passed = false;
    std::string findings = JudgeStart(CheckFileStart(bytes.data(), bytes.size()), &passed);
    if (headerTemplate != nullptr) {
        const bool same = StartsWithTemplate(bytes, *headerTemplate);
        findings += same ? "; beginnt mit dem Header" : "; beginnt nicht mit dem Header";
        passed = passed && same;
    }
    Print(stdout, "%s: %s: %s\n", NameAsText(path).c_str(), passed ? "in Ordnung" : "FEHLER",
          findings.c_str());
    return passed ? kExitOk : kExitFailed;
}

// The template is only compared with, so it is read without holding it: a
// running watch service or window keeps its own copy locked.
TemplateLoadResult ReadTemplateToCompare(const std::string& path, HeaderTemplate* headerTemplate) {
    unsigned char bytes[kTemplateMaxLength + 1];
    std::size_t count = 0;
    if (ReadFileStart(path.c_str(), bytes, sizeof bytes, &count) != ReadHeadResult::Read) {
        return TemplateLoadResult::NotFound;  // as the windows say it
    }
    return TemplateFromBytes(*headerTemplate, bytes, static_cast<std::uint32_t>(count));
}

int RunCheck(const CliArguments& arguments) {
    if (arguments.positional.empty()) {
        Print(stderr, "%s", kUsage);
        return kExitUsage;
    }
    HeaderTemplate headerTemplate;
    const bool withTemplate = arguments.Has("--header");
    if (withTemplate) {
        const TemplateLoadResult loaded =
            ReadTemplateToCompare(arguments.Value("--header", ""), &headerTemplate);
        if (loaded != TemplateLoadResult::Loaded) {
            Print(stderr, "velmora-cli check: %s\n",
                  FromWindows1252(TemplateLoadMessage(loaded)).c_str());
            return kExitUsage;
        }
    }
    // The worst result decides: unreadable over failed over passed.
    int exitCode = kExitOk;
    for (const std::string& path : arguments.positional) {
        const int result = CheckOne(path, withTemplate ? &headerTemplate : nullptr);
        exitCode = result > exitCode ? result : exitCode;
    }
    return exitCode;
}

}  // namespace

const CliCommand kCheckCommand{
    "check",
    "pr\xC3\xBC"
    "ft, ob Dateien mit einem g\xC3\xBCltigen Pack (oder dem Header) beginnen",
    kUsage,
    {{"--header", nullptr, true}},
    RunCheck,
};

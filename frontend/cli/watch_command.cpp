// velmora-cli watch: the options of the headless service (watch_service.h).
#include <clocale>
#include <cstdio>
#include <string>

#include "byte_text.h"
#include "cli_command.h"
#include "follow_up_name.h"
#include "header_template.h"
#include "paths.h"
#include "watch_service.h"

namespace {

constexpr auto kUsage = JoinTexts(
    FixedText(
        "Aufruf: velmora-cli watch [-r] ORDNER... [--postfix P] [--header DATEI | --from-base]\n"
        "\n"
        "Beobachtet die Ordner als Dienst und stellt den Header jeder Folge-Datei\n"
        "wieder her (Film#1.mpg, Film#2.mpg, ... neben Film.mpg im selben Ordner),\n"
        "sobald sie mindestens so lang wie der Header ist und kein anderes Programm\n"
        "sie offen hat, f\xC3\xBCr beliebig viele Aufnahmen zugleich. Dateien, die schon\n"
        "mit dem Header oder wie ein Programmstrom (Pack-Header, direkt dahinter\n"
        "System-Header) beginnen, bleiben unber\xC3\xBChrt, ebenso Dateien eines anderen\n"
        "Eigent\xC3\xBCmers als die Basis-Datei. Eine Zeile je restaurierte Datei auf der\n"
        "Standardausgabe, erst wenn ihr Header auf dem Datentr\xC3\xA4ger ist; Fehler auf\n"
        "der Standardfehlerausgabe; bei mehr als einem Ordner und mit -r steht der\n"
        "Ordner vorn.\n"
        "\n"
        "  -r, --recursive  auch jeden Ordner unter den Ordnern beobachten, ebenso jeden,\n"
        "                   der sp\xC3\xA4ter angelegt oder hineinverschoben wird (Links\n"
        "                   auf Ordner ausgenommen); eine Aufnahme bleibt in ihrem\n"
        "                   Ordner; ein Unterordner, der verschwindet, wird still\n"
        "                   vergessen; ist die Grenze des Systems erreicht, nennt eine\n"
        "                   Meldung die Einstellung und die ausgelassenen Ordner\n"),
    kPostfixAndHeaderHelp,
    FixedText("  --from-base      statt einer Header-Datei: jede Aufnahme bekommt den Header\n"
              "                   ihrer eigenen Basis-Datei, wie ihn make-header macht ("),
    DecimalText<kTemplateMaxLength>(),
    FixedText("\n"
              "                   Byte), sobald eine ihrer Folge-Dateien zum ersten Mal\n"
              "                   ansteht; l\xC3\xA4sst sich keiner machen, wird das einmal\n"
              "                   gemeldet, und ihre Folge-Dateien bleiben unber\xC3\xBChrt, bis\n"
              "                   sich die Basis-Datei \xC3\xA4ndert\n"
              "\n"
              "SIGTERM und SIGINT beenden den Dienst, SIGHUP l\xC3\xA4\x64t den Header neu (geht\n"
              "das nicht, bleibt der bisherige); mit --from-base macht SIGHUP jeden Header\n"
              "neu aus seiner Basis-Datei, sobald er wieder gebraucht wird.\n"
              "\n"
              "Exit-Codes: 0 beendet durch SIGTERM oder SIGINT; 1 keiner der Ordner ist\n"
              "mehr da, oder niemand liest mehr die Ausgabe; 2 falscher Aufruf, Ordner oder\n"
              "Header nicht lesbar.\n"));

int UsageError(const std::string& message) {
    Print(stderr, "velmora-cli watch: %s\n", message.c_str());
    return kExitUsage;
}

int RunWatch(const CliArguments& arguments) {
    if (arguments.positional.empty()) {
        Print(stderr, "%s", kUsage.c_str());
        return kExitUsage;
    }
#ifdef LC_MESSAGES
    std::setlocale(LC_MESSAGES, "");  // the system's reasons in the system's language
#endif
    if (arguments.Has("--header") && arguments.Has("--from-base")) {
        return UsageError(
            "--header und --from-base schlie\xC3\x9F"
            "en einander aus");
    }
    WatchSettings settings;
    settings.folders = arguments.positional;
    settings.fromBase = arguments.Has("--from-base");
    settings.subfolders = arguments.Has("--recursive");
    settings.postfix = arguments.Value("--postfix", "#");
    std::string problem;
    if (!IsUsablePostfix(settings.postfix, &problem)) {
        return UsageError(problem);
    }
    // Absolute, so that a reload finds the same file.
    if (!settings.fromBase && !AbsolutePath(arguments.Value("--header", kTemplateFileName).c_str(),
                                            &settings.headerPath)) {
        return UsageError(FromWindows1252(TemplateLoadMessage(TemplateLoadResult::NotFound)));
    }
    WatchService service(settings);
    if (!service.Start(&problem)) {
        return UsageError(problem);
    }
    return service.Run();
}

}  // namespace

const CliCommand kWatchCommand{
    "watch",
    "beobachtet Ordner als Dienst und stellt jede fertige Folge-Datei wieder her",
    kUsage.c_str(),
    {{"--postfix", "-p", true},
     {"--header", nullptr, true},
     {"--from-base", nullptr, false},
     {"--recursive", "-r", false}},
    RunWatch,
};

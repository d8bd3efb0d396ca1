// velmora-cli: the command-line companion of the Velmora windows. Makes the
// header template from a recording, checks the start of files, repairs a
// finished series, and watches folders as a service.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "cli_command.h"
#include "system_text.h"
#include "version.h"
#ifdef _WIN32
#include "win32_names.h"
#endif

namespace {

const CliCommand* const kCommands[] = {&kMakeHeaderCommand, &kCheckCommand, &kRepairCommand,
                                       &kWatchCommand};

void PrintOverview(std::FILE* stream) {
    Print(stream,
          "Aufruf: velmora-cli BEFEHL [OPTIONEN] [ARGUMENTE]\n"
          "\n"
          "Stellt den MPEG-Header der Folge-Dateien einer Aufnahme wieder her\n"
          "(Film.mpg, Film#1.mpg, Film#2.mpg, ...), an Ort und Stelle.\n"
          "\n"
          "Befehle:\n");
    for (const CliCommand* command : kCommands) {
        Print(stream, "  %-12s %s\n", command->name, command->summary);
    }
    Print(stream,
          "\n"
          "  velmora-cli BEFEHL --help   zeigt die Hilfe zu einem Befehl.\n"
          "  velmora-cli --version       zeigt die Version.\n"
          "\n"
          "Exit-Codes: 0 alles erledigt, 1 nicht alles erledigt, 2 falscher Aufruf\n"
          "oder unlesbare Eingabe.\n");
}

const CliCommand* FindCommand(const char* name) {
    for (const CliCommand* command : kCommands) {
        if (std::strcmp(command->name, name) == 0) {
            return command;
        }
    }
    return nullptr;
}

// The program on UTF-8 arguments.
int RunProgram(int argc, char* argv[]) {
    if (argc < 2) {
        PrintOverview(stderr);
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        PrintOverview(stdout);
        return kExitOk;
    }
    if (first == "--version") {
        Print(stdout, "velmora-cli %s\n", VELMORA_VERSION);
        return kExitOk;
    }
    const CliCommand* command = FindCommand(argv[1]);
    if (command == nullptr) {
        Print(stderr, "velmora-cli: unbekannter Befehl \"%s\"\n\n", NameAsText(argv[1]).c_str());
        PrintOverview(stderr);
        return kExitUsage;
    }
    CliArguments arguments;
    std::string error;
    if (!ParseArguments(argc - 2, argv + 2, command->options, &arguments, &error)) {
        Print(stderr, "velmora-cli %s: %s\n\n%s", command->name, NameAsText(error).c_str(),
              command->usage);
        return kExitUsage;
    }
    if (arguments.Has("--help")) {
        Print(stdout, "%s", command->usage);
        return kExitOk;
    }
    return command->run(arguments);
}

}  // namespace

#ifdef _WIN32
// Windows hands over the arguments as it stores names, in UTF-16 (the
// program is linked with -municode); inside, names are UTF-8 on both
// systems. An argument without a UTF-8 form (an unpaired surrogate) names
// nothing the program could open.
int wmain(int argc, wchar_t* argv[]) {
    std::vector<std::string> arguments(static_cast<std::size_t>(argc));
    std::vector<char*> pointers;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (!Utf8FromWide(argv[i], std::wcslen(argv[i]), &arguments[i])) {
            Print(stderr, "velmora-cli: Argument %zu ist kein g\xC3\xBCltiger Unicode-Text\n", i);
            return kExitUsage;
        }
        pointers.push_back(arguments[i].data());
    }
    pointers.push_back(nullptr);
    return RunProgram(argc, pointers.data());
}
#else
int main(int argc, char* argv[]) {
    return RunProgram(argc, argv);
}
#endif

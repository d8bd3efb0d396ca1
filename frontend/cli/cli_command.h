// The subcommands of velmora-cli, its arguments and its exit codes.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "byte_text.h"
#include "follow_up_name.h"

// 0: everything done; 1: something was not (a file busy, a check failed);
// 2: the program could not start on its task (bad usage, unreadable input).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// An option a subcommand takes: "--size" with a value, "--force" without.
struct CliOption {
    const char* longName;   // "--output"
    const char* shortName;  // "-o", or nullptr
    bool takesValue;
};

struct CliArguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // long name, value

    bool Has(const char* longName) const;
    // The option's value, or `fallback` when it was not given.
    std::string Value(const char* longName, const std::string& fallback) const;
};

// Splits argv (the subcommand's own arguments) by the options given. An
// unknown option, a missing value or a repeated option fails with *error.
// "--" ends the options; "--help" is always known.
bool ParseArguments(int argc, char** argv, const std::vector<CliOption>& options,
                    CliArguments* arguments, std::string* error);

struct CliCommand {
    const char* name;
    const char* summary;  // one line in the overview
    const char* usage;    // the whole text of `velmora-cli NAME --help`
    std::vector<CliOption> options;
    int (*run)(const CliArguments& arguments);
};

extern const CliCommand kMakeHeaderCommand;
extern const CliCommand kCheckCommand;
extern const CliCommand kRepairCommand;
extern const CliCommand kWatchCommand;

// The engine's own texts (the template messages) are Windows-1252; the
// program's are UTF-8. File names become text through NameAsText.
std::string FromWindows1252(const char* text);

// The help lines of --postfix and --header, which repair and watch share.
inline constexpr auto kPostfixAndHeaderHelp = JoinTexts(
    FixedText("  --postfix P      Text zwischen Name und Nummer (Vorgabe: #, h\xC3\xB6"
              "chstens "),
    DecimalText<kMaxPostfixLength>(),
    FixedText(" Byte)\n"
              "  --header DATEI   der Header (Vorgabe: header.mpeg im aktuellen Ordner)\n"));

// Whether `postfix` (--postfix of repair and watch) can form follow-up names:
// at most kMaxPostfixLength bytes, and only characters a file name may hold.
// False with the usage error's text.
bool IsUsablePostfix(const std::string& postfix, std::string* problem);

#ifdef __MINGW32__
#define VELMORA_PRINTF_FORMAT gnu_printf
#else
#define VELMORA_PRINTF_FORMAT printf
#endif

// printf into UTF-8 text, written to stdout or stderr in the terminal's
// encoding (WriteText).
void Print(std::FILE* stream, const char* format, ...)
    __attribute__((format(VELMORA_PRINTF_FORMAT, 2, 3)));

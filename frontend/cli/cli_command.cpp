#include "cli_command.h"

#include <cstdarg>
#include <cstring>

#include "byte_text.h"
#include "follow_up_name.h"
#include "paths.h"
#include "system_text.h"
#include "windows_1252.h"

namespace {

const CliOption* FindOption(const std::vector<CliOption>& options, const std::string& name) {
    for (const CliOption& option : options) {
        if (name == option.longName || (option.shortName != nullptr && name == option.shortName)) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

bool CliArguments::Has(const char* longName) const {
    for (const auto& [name, value] : options) {
        if (name == longName) {
            return true;
        }
    }
    return false;
}

std::string CliArguments::Value(const char* longName, const std::string& fallback) const {
    for (const auto& [name, value] : options) {
        if (name == longName) {
            return value;
        }
    }
    return fallback;
}

bool ParseArguments(int argc, char** argv, const std::vector<CliOption>& options,
                    CliArguments* arguments, std::string* error) {
    static const CliOption help{"--help", "-h", false};
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            arguments->positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        // "--size=1024" is "--size 1024".
        std::string value;
        bool valueGiven = false;
        const std::size_t equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word.resize(equals);
            valueGiven = true;
        }
        const CliOption* option = FindOption(options, word);
        if (option == nullptr && (word == help.longName || word == help.shortName)) {
            option = &help;
        }
        if (option == nullptr) {
            *error = "Unbekannte Option: " + word;
            return false;
        }
        if (arguments->Has(option->longName)) {
            *error = std::string("Option zweimal angegeben: ") + option->longName;
            return false;
        }
        if (option->takesValue && !valueGiven) {
            if (i + 1 >= argc) {
                *error = std::string("Option ohne Wert: ") + option->longName;
                return false;
            }
            value = argv[++i];
        } else if (!option->takesValue && valueGiven) {
            *error = std::string("Option ohne Wert erwartet: ") + option->longName;
            return false;
        }
        arguments->options.emplace_back(option->longName, value);
    }
    return true;
}

std::string FromWindows1252(const char* text) {
    // An undefined byte of the code page becomes a C1 control, which a
    // terminal must not get as it is.
    return Utf8WithControlsEscaped(Windows1252ToUtf8(text));
}

void Print(std::FILE* stream, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    WriteText(stream, text);
}

bool IsUsablePostfix(const std::string& postfix, std::string* problem) {
    if (postfix.size() > kMaxPostfixLength) {
        *problem =
            "der Postfix ist l\xC3\xA4nger als " + std::to_string(kMaxPostfixLength) + " Byte";
        return false;
    }
    // Such a character would make no file name at all, or a path into
    // another folder.
    if (!MayStandInFileName(postfix)) {
        *problem = "der Postfix \"" + NameAsText(postfix) +
                   "\" enth\xC3\xA4lt ein Zeichen, das kein Dateiname enthalten darf";
        return false;
    }
    return true;
}

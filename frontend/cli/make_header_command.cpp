// velmora-cli make-header: the header template made from a good recording:
// its first pack that carries a system header, padded to the template's size,
// so a repaired file starts with a complete pack and none of the first
// part's pictures.
#include <cstdio>
#include <string>

#include "byte_text.h"
#include "cli_command.h"
#include "header_template.h"
#include "new_file.h"
#include "paths.h"
#include "program_stream.h"
#include "recording_header.h"
#include "system_text.h"

namespace {

constexpr auto kUsage = JoinTexts(
    FixedText("Aufruf: velmora-cli make-header AUFNAHME [-o DATEI] [--size N] [--force]\n"
              "\n"
              "Macht den Header aus einer guten Aufnahme (meist der Basis-Datei, Film.mpg):\n"
              "aus dem ersten Pack im ersten MiB, der einen System-Header tr\xC3\xA4gt (MPEG-1\n"
              "oder MPEG-2), dessen Pack-Header und System-Header, gefolgt von einem\n"
              "Padding-Paket, das den Header genau N Byte lang macht. Eine restaurierte\n"
              "Datei beginnt so mit einem vollst\xC3\xA4ndigen Pack ohne Bilder des ersten Teils.\n"
              "\n"
              "  -o, --output DATEI  die Header-Datei (Vorgabe: header.mpeg im aktuellen Ordner)\n"
              "  --size N            ihre Gr\xC3\xB6\xC3\x9F"
              "e in Byte, "),
    DecimalText<kTemplateMinLength>(), FixedText(" bis "), DecimalText<kTemplateMaxLength>(),
    FixedText(" (Vorgabe: "), DecimalText<kTemplateMaxLength>(),
    FixedText(
        ")\n"
        "  --force             eine vorhandene Header-Datei ersetzen (nur eine\n"
        "                      gew\xC3\xB6hnliche Datei, nie ein Ger\xC3\xA4t, eine FIFO, einen\n"
        "                      Ordner oder eine symbolische Verkn\xC3\xBCpfung)\n"
        "\n"
        "Exit-Codes: 0 geschrieben; 1 die Header-Datei lie\xC3\x9F sich nicht schreiben;\n"
        "2 falscher Aufruf, Aufnahme nicht lesbar, ein Transportstrom oder ohne Pack\n"
        "mit System-Header, Header-Datei schon vorhanden (ohne --force) oder keine\n"
        "gew\xC3\xB6hnliche Datei.\n"));

constexpr auto kSizeRefusal =
    JoinTexts(FixedText("--size erwartet eine Zahl von "), DecimalText<kTemplateMinLength>(),
              FixedText(" bis "), DecimalText<kTemplateMaxLength>());

int Refuse(const std::string& message) {
    Print(stderr, "velmora-cli make-header: %s\n", message.c_str());
    return kExitUsage;
}

// A whole number from kTemplateMinLength to kTemplateMaxLength, digits only.
bool ParseTemplateSize(const std::string& text, std::size_t* size) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    *size = value;
    return value >= kTemplateMinLength && value <= kTemplateMaxLength;
}

// What stands at the output path instead of a regular file, e.g. "ein
// Ger\xC3\xA4t" for /dev/null.
const char* KindText(NotAFileKind kind) {
    switch (kind) {
    case NotAFileKind::Folder:
        return "ein Ordner";
    case NotAFileKind::Link:
        return "eine symbolische Verkn\xC3\xBCpfung";
    case NotAFileKind::Device:
        return "ein Ger\xC3\xA4t";
    case NotAFileKind::Fifo:
        return "eine FIFO (benannte Pipe)";
    case NotAFileKind::Socket:
        return "ein Socket";
    }
    return "";
}

std::string StreamIdList(const SystemHeader& system) {
    if (system.streamIds.empty()) {
        return "keine";
    }
    std::string list;
    for (const std::uint8_t id : system.streamIds) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", id);
        list += list.empty() ? "" : " ";
        list += hex;
    }
    return list;
}

// What was found, e.g. "MPEG-2-Pack mit System-Header bei Byte 0
// (Mux-Rate 10080000 bit/s, Stream-IDs E0 C0)".
std::string Describe(const HeaderPack& found) {
    const char* system = found.pack.system == MpegSystem::Mpeg1 ? "MPEG-1" : "MPEG-2";
    // The mux rate counts units of 50 bytes a second.
    const unsigned long long bitsPerSecond = found.pack.muxRate * 400ull;
    return std::string(system) + "-Pack mit System-Header bei Byte " +
           std::to_string(found.offset) + " (Mux-Rate " + std::to_string(bitsPerSecond) +
           " bit/s, Stream-IDs " + StreamIdList(found.system) + ")";
}

int RunMakeHeader(const CliArguments& arguments) {
    if (arguments.positional.size() != 1) {
        Print(stderr, "%s", kUsage.c_str());
        return kExitUsage;
    }
    const std::string recording = arguments.positional[0];
    const std::string output = arguments.Value("--output", kTemplateFileName);
    std::size_t size = kTemplateMaxLength;
    if (arguments.Has("--size") && !ParseTemplateSize(arguments.Value("--size", ""), &size)) {
        return Refuse(kSizeRefusal.c_str());
    }
    if (AreSameFile(recording.c_str(), output.c_str())) {
        return Refuse("die Header-Datei w\xC3\xA4re die Aufnahme selbst: " + NameAsText(output));
    }
    RecordingHeader header;
    std::string message;
    if (!MakeRecordingHeader(recording, size, &header, &message)) {
        return Refuse(message);
    }
    NotAFileKind kind = NotAFileKind::Folder;
    std::string error;
    switch (CreateNewFile(output.c_str(), header.bytes.data(), header.bytes.size(),
                          arguments.Has("--force"), &kind, &error)) {
    case CreateFileResult::Created:
        break;
    case CreateFileResult::Exists:
        return Refuse(NameAsText(output) + " gibt es schon (--force ersetzt die Datei)");
    case CreateFileResult::NotAFile:
        return Refuse(NameAsText(output) + " ist " + KindText(kind) +
                      ", keine gew\xC3\xB6hnliche Datei, und wird auch mit --force nicht ersetzt");
    case CreateFileResult::Failed:
        Print(stderr, "velmora-cli make-header: %s nicht geschrieben: %s\n",
              NameAsText(output).c_str(), error.c_str());
        return kExitFailed;
    }
    Print(stdout, "%s; %s geschrieben (%zu Byte)\n", Describe(header.found).c_str(),
          NameAsText(output).c_str(), header.bytes.size());
    return kExitOk;
}

}  // namespace

const CliCommand kMakeHeaderCommand{
    "make-header",
    "macht den Header (header.mpeg) aus einer guten Aufnahme",
    kUsage.c_str(),
    {{"--output", "-o", true}, {"--size", nullptr, true}, {"--force", nullptr, false}},
    RunMakeHeader,
};

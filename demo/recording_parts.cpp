#include "recording_parts.h"

#include "program_stream.h"

namespace {

bool IsPackStart(const std::vector<unsigned char>& bytes, std::size_t at) {
    PackHeader pack;
    return ParsePackHeader(bytes.data() + at, bytes.size() - at, &pack) == ParseResult::Valid;
}

// The first pack start at or after `from`; the size when there is none.
std::size_t NextPackStart(const std::vector<unsigned char>& bytes, std::size_t from) {
    for (std::size_t at = from; at < bytes.size(); ++at) {
        if (bytes[at] == 0x00 && IsPackStart(bytes, at)) {
            return at;
        }
    }
    return bytes.size();
}

}  // namespace

std::vector<std::size_t> CutAtPacks(const std::vector<unsigned char>& recording, int parts) {
    if (parts < 1 || recording.empty() || !IsPackStart(recording, 0)) {
        return {};
    }
    std::vector<std::size_t> cuts{0};
    for (int part = 1; part < parts; ++part) {
        const std::size_t even =
            recording.size() / static_cast<std::size_t>(parts) * static_cast<std::size_t>(part);
        cuts.push_back(NextPackStart(recording, even));
    }
    cuts.push_back(recording.size());
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        // Two packs at least: the second starts after the first one's start.
        if (NextPackStart(recording, cuts[i] + 1) >= cuts[i + 1]) {
            return {};
        }
    }
    return cuts;
}

std::size_t StepEnd(std::size_t size, int step, int steps) {
    if (steps < 1 || step >= steps) {
        return size;
    }
    return step < 1 ? 0
                    : size / static_cast<std::size_t>(steps) * static_cast<std::size_t>(step) +
                          size % static_cast<std::size_t>(steps) * static_cast<std::size_t>(step) /
                              static_cast<std::size_t>(steps);
}

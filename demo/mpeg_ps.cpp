#include "mpeg_ps.h"

namespace {

// 25200 units of 50 bytes a second: 10 Mbit/s, as on a DVD.
constexpr std::uint32_t kMuxRate = 25200;

void AppendStartCode(std::vector<unsigned char>& out, unsigned char code) {
    out.insert(out.end(), {0x00, 0x00, 0x01, code});
}

// MPEG-2 pack header, 14 bytes: the 33-bit clock reference spread over
// marker bits, no extension, the mux rate, no stuffing.
void AppendPackHeader(std::vector<unsigned char>& out, std::uint64_t clock) {
    AppendStartCode(out, 0xBA);
    const std::uint64_t c = clock & 0x1FFFFFFFFull;
    out.push_back(static_cast<unsigned char>(0x44 | ((c >> 27) & 0x38) | ((c >> 28) & 0x03)));
    out.push_back(static_cast<unsigned char>(c >> 20));
    out.push_back(static_cast<unsigned char>(((c >> 12) & 0xF8) | 0x04 | ((c >> 13) & 0x03)));
    out.push_back(static_cast<unsigned char>(c >> 5));
    out.push_back(static_cast<unsigned char>(((c << 3) & 0xF8) | 0x04));
    out.push_back(0x01);  // clock extension 0, marker
    const std::uint32_t rate = (kMuxRate << 2) | 0x03;
    out.insert(out.end(),
               {static_cast<unsigned char>(rate >> 16), static_cast<unsigned char>(rate >> 8),
                static_cast<unsigned char>(rate)});
    out.push_back(0xF8);  // reserved, no stuffing
}

void AppendSystemHeader(std::vector<unsigned char>& out) {
    AppendStartCode(out, 0xBB);
    out.insert(out.end(), {0x00, 0x0C});  // 6 bytes plus 3 per stream
    const std::uint32_t rateBound = 0x800000 | (kMuxRate << 1) | 0x01;
    out.insert(out.end(),
               {static_cast<unsigned char>(rateBound >> 16),
                static_cast<unsigned char>(rateBound >> 8), static_cast<unsigned char>(rateBound)});
    out.push_back(0x04);                        // one audio stream, variable rate, not constrained
    out.push_back(0xE1);                        // audio and video locked, marker, one video stream
    out.push_back(0x7F);                        // no packet rate restriction, reserved
    out.insert(out.end(), {0xE0, 0xE0, 0xE8});  // video: buffer 232 x 1024 bytes
    out.insert(out.end(), {0xC0, 0xC0, 0x20});  // audio: buffer 32 x 128 bytes
}

void AppendPaddingUpTo(std::vector<unsigned char>& out, std::size_t size) {
    AppendStartCode(out, 0xBE);
    const std::size_t length = size - out.size() - 2;
    out.push_back(static_cast<unsigned char>(length >> 8));
    out.push_back(static_cast<unsigned char>(length));
    out.resize(size, 0xFF);
}

}  // namespace

std::vector<unsigned char> MakeHeaderPack() {
    std::vector<unsigned char> pack;
    AppendPackHeader(pack, 0);
    AppendSystemHeader(pack);
    AppendPaddingUpTo(pack, kPackSize);
    return pack;
}

std::vector<unsigned char> MakePaddingPack(std::uint64_t systemClock) {
    std::vector<unsigned char> pack;
    AppendPackHeader(pack, systemClock);
    AppendPaddingUpTo(pack, kPackSize);
    return pack;
}

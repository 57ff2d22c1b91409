#include "crc32.h"

namespace {

// Eight tables: eight bytes per step instead of one. Built on first use: as data in the
// program they would be 8 KiB.
std::uint32_t Table[8][256];
bool TableBuilt = false;

void BuildTable() {
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        Table[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (int t = 1; t < 8; ++t) Table[t][i] = (Table[t - 1][i] >> 8) ^ Table[0][Table[t - 1][i] & 0xFF];
    TableBuilt = true;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::uint32_t Crc32(std::uint32_t Crc, const void* Data, std::size_t Size) {
    if (!TableBuilt) BuildTable();
    const auto* p = static_cast<const std::uint8_t*>(Data);
    std::uint32_t c = ~Crc;
    for (; Size >= 8; Size -= 8, p += 8) {
        const std::uint32_t a = Le32(p) ^ c;
        const std::uint32_t b = Le32(p + 4);
        c = Table[7][a & 0xFF] ^ Table[6][(a >> 8) & 0xFF] ^ Table[5][(a >> 16) & 0xFF] ^ Table[4][a >> 24] ^
            Table[3][b & 0xFF] ^ Table[2][(b >> 8) & 0xFF] ^ Table[1][(b >> 16) & 0xFF] ^ Table[0][b >> 24];
    }
    for (; Size > 0; --Size) c = Table[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return ~c;
}

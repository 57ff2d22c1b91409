// CRC-32 as zip and PNG compute it (reflected polynomial 0xEDB88320): the checksum an
// installer carries of its package.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues Crc (0 to start) over Size bytes.
std::uint32_t Crc32(std::uint32_t Crc, const void* Data, std::size_t Size);

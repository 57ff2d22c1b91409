// CRC-32 as zip and PNG compute it (reflected polynomial 0xEDB88320): the checksum an
// installer carries of its package.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.h"

// Continues Crc (0 to start) over Size bytes.
std::uint32_t Crc32(std::uint32_t Crc, const void* Data, std::size_t Size);

// Keeps the CRC-32 of what is written to it, passing it on to Target when there is one.
// Function computes it: Crc32, or a faster one of the same value.
class Crc32Sink final : public ByteSink {
public:
    using Function = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);
    explicit Crc32Sink(ByteSink* Target = nullptr, Function Compute = Crc32, std::uint32_t Start = 0)
        : crc(Start), target_(Target), compute_(Compute) {}
    std::size_t Write(const void* buffer, std::size_t count) override {
        const std::size_t written = target_ ? target_->Write(buffer, count) : count;
        crc = compute_(crc, buffer, written);
        return written;
    }
    std::uint32_t crc;

private:
    ByteSink* target_;
    Function compute_;
};

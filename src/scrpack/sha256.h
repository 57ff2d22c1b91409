// SHA-256 (FIPS 180-4), for the installer's hash that package managers check after download.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace scrpack {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t count);
    // The digest of everything given; the object is then spent.
    std::array<std::uint8_t, 32> Finish();

private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingCount_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// Upper-case hexadecimal, as package manifests write hashes.
std::string HexUpper(const std::array<std::uint8_t, 32>& digest);

}  // namespace scrpack

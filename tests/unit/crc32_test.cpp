#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/crc32.h"
#include "platform/win32/crc32_clmul.h"

// Published check values of the zip CRC-32.
TEST(Crc32, KnownValues) {
    EXPECT_EQ(Crc32(0, "", 0), 0u);
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(0, "The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    // Continued in pieces, the same value as at once.
    EXPECT_EQ(Crc32(Crc32(0, "12345", 5), "6789", 4), 0xCBF43926u);
}

// The folding path takes 64 bytes at a time and 16 more at a time, then the rest byte by
// byte: every length and alignment around those steps gives the table's value.
TEST(Crc32, CarrylessMultiplicationGivesTheTablesValue) {
    std::mt19937 random(7);
    std::string bytes(5000, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    for (std::size_t length = 0; length <= 300; ++length)
        for (const std::size_t offset : {0, 1, 7})
            ASSERT_EQ(Crc32Clmul(0x12345678u, bytes.data() + offset, length),
                      Crc32(0x12345678u, bytes.data() + offset, length))
                << "length " << length << ", offset " << offset;
    EXPECT_EQ(Crc32Clmul(0, bytes.data(), bytes.size()), Crc32(0, bytes.data(), bytes.size()));
    EXPECT_EQ(Crc32Clmul(0, "123456789", 9), 0xCBF43926u);
}

#include "crc32_clmul.h"

#include "../../common/crc32.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define CRC32_CLMUL 1
#include <immintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define CLMUL_TARGET
#else
#include <cpuid.h>
#define CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
#endif
#endif

#ifdef CRC32_CLMUL
namespace {

bool ProcessorHasClmul() {
    unsigned ecx = 0;
#if defined(_MSC_VER) && !defined(__clang__)
    int regs[4];
    __cpuid(regs, 1);
    ecx = static_cast<unsigned>(regs[2]);
#else
    unsigned eax = 0, ebx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
#endif
    const unsigned pclmulqdq = 1u << 1, sse41 = 1u << 19;
    return (ecx & pclmulqdq) && (ecx & sse41);
}

CLMUL_TARGET inline __m128i Load(const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// x times the folding constants in k, added to the next 128 bits.
CLMUL_TARGET inline __m128i Fold16(__m128i x, __m128i k, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), next), low);
}

// Folds 64 bytes at a time into four 128-bit remainders, then those into one, and reduces
// it to 32 bits (Barrett). Size is a multiple of 16 and at least 64; State is the CRC
// register (the inverted CRC).
CLMUL_TARGET std::uint32_t Fold(std::uint32_t State, const std::uint8_t* p, std::size_t Size) {
    alignas(16) static const std::uint64_t k1k2[2] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const std::uint64_t k3k4[2] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const std::uint64_t k5k0[2] = {0x0163cd6124, 0};
    alignas(16) static const std::uint64_t poly[2] = {0x01db710641, 0x01f7011641};

    __m128i x1 = Load(p), x2 = Load(p + 16), x3 = Load(p + 32), x4 = Load(p + 48);
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(State)));
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    p += 64;
    Size -= 64;
    for (; Size >= 64; p += 64, Size -= 64) {
        x1 = Fold16(x1, k, Load(p));
        x2 = Fold16(x2, k, Load(p + 16));
        x3 = Fold16(x3, k, Load(p + 32));
        x4 = Fold16(x4, k, Load(p + 48));
    }

    k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    x1 = Fold16(x1, k, x2);
    x1 = Fold16(x1, k, x3);
    x1 = Fold16(x1, k, x4);
    for (; Size >= 16; p += 16, Size -= 16) x1 = Fold16(x1, k, Load(p));

    // 128 bits to 64, then to 32.
    const __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask), k, 0x00), x2);
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask), k, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, x2), 1));
}

}  // namespace
#endif

std::uint32_t Crc32Clmul(std::uint32_t Crc, const void* Data, std::size_t Size) {
#ifdef CRC32_CLMUL
    static const bool available = ProcessorHasClmul();
    if (available && Size >= 64) {
        const auto* p = static_cast<const std::uint8_t*>(Data);
        const std::size_t bulk = Size & ~static_cast<std::size_t>(15);
        const std::uint32_t state = Fold(~Crc, p, bulk);
        return Crc32(~state, p + bulk, Size - bulk);
    }
#endif
    return Crc32(Crc, Data, Size);
}

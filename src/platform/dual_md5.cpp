#include "platform/dual_md5.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZAFREL_MD5_VECTOR 1
#endif

namespace zafrel {

namespace {

constexpr uint32_t kInitial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

inline void loadWords(const unsigned char* block, uint32_t* words)
{
    std::memcpy(words, block, 64);
    if constexpr (std::endian::native == std::endian::big)
        for (int i = 0; i < 16; ++i)
            words[i] = __builtin_bswap32(words[i]);
}

// The 64 steps, each as STEP(function, registers in their turn, word, constant, rotation).
#define MD5_ROUNDS \
    STEP(F, a, b, c, d, 0, 0xd76aa478, 7) STEP(F, d, a, b, c, 1, 0xe8c7b756, 12) \
    STEP(F, c, d, a, b, 2, 0x242070db, 17) STEP(F, b, c, d, a, 3, 0xc1bdceee, 22) \
    STEP(F, a, b, c, d, 4, 0xf57c0faf, 7) STEP(F, d, a, b, c, 5, 0x4787c62a, 12) \
    STEP(F, c, d, a, b, 6, 0xa8304613, 17) STEP(F, b, c, d, a, 7, 0xfd469501, 22) \
    STEP(F, a, b, c, d, 8, 0x698098d8, 7) STEP(F, d, a, b, c, 9, 0x8b44f7af, 12) \
    STEP(F, c, d, a, b, 10, 0xffff5bb1, 17) STEP(F, b, c, d, a, 11, 0x895cd7be, 22) \
    STEP(F, a, b, c, d, 12, 0x6b901122, 7) STEP(F, d, a, b, c, 13, 0xfd987193, 12) \
    STEP(F, c, d, a, b, 14, 0xa679438e, 17) STEP(F, b, c, d, a, 15, 0x49b40821, 22) \
    STEP(G, a, b, c, d, 1, 0xf61e2562, 5) STEP(G, d, a, b, c, 6, 0xc040b340, 9) \
    STEP(G, c, d, a, b, 11, 0x265e5a51, 14) STEP(G, b, c, d, a, 0, 0xe9b6c7aa, 20) \
    STEP(G, a, b, c, d, 5, 0xd62f105d, 5) STEP(G, d, a, b, c, 10, 0x02441453, 9) \
    STEP(G, c, d, a, b, 15, 0xd8a1e681, 14) STEP(G, b, c, d, a, 4, 0xe7d3fbc8, 20) \
    STEP(G, a, b, c, d, 9, 0x21e1cde6, 5) STEP(G, d, a, b, c, 14, 0xc33707d6, 9) \
    STEP(G, c, d, a, b, 3, 0xf4d50d87, 14) STEP(G, b, c, d, a, 8, 0x455a14ed, 20) \
    STEP(G, a, b, c, d, 13, 0xa9e3e905, 5) STEP(G, d, a, b, c, 2, 0xfcefa3f8, 9) \
    STEP(G, c, d, a, b, 7, 0x676f02d9, 14) STEP(G, b, c, d, a, 12, 0x8d2a4c8a, 20) \
    STEP(H, a, b, c, d, 5, 0xfffa3942, 4) STEP(H, d, a, b, c, 8, 0x8771f681, 11) \
    STEP(H, c, d, a, b, 11, 0x6d9d6122, 16) STEP(H, b, c, d, a, 14, 0xfde5380c, 23) \
    STEP(H, a, b, c, d, 1, 0xa4beea44, 4) STEP(H, d, a, b, c, 4, 0x4bdecfa9, 11) \
    STEP(H, c, d, a, b, 7, 0xf6bb4b60, 16) STEP(H, b, c, d, a, 10, 0xbebfbc70, 23) \
    STEP(H, a, b, c, d, 13, 0x289b7ec6, 4) STEP(H, d, a, b, c, 0, 0xeaa127fa, 11) \
    STEP(H, c, d, a, b, 3, 0xd4ef3085, 16) STEP(H, b, c, d, a, 6, 0x04881d05, 23) \
    STEP(H, a, b, c, d, 9, 0xd9d4d039, 4) STEP(H, d, a, b, c, 12, 0xe6db99e5, 11) \
    STEP(H, c, d, a, b, 15, 0x1fa27cf8, 16) STEP(H, b, c, d, a, 2, 0xc4ac5665, 23) \
    STEP(I, a, b, c, d, 0, 0xf4292244, 6) STEP(I, d, a, b, c, 7, 0x432aff97, 10) \
    STEP(I, c, d, a, b, 14, 0xab9423a7, 15) STEP(I, b, c, d, a, 5, 0xfc93a039, 21) \
    STEP(I, a, b, c, d, 12, 0x655b59c3, 6) STEP(I, d, a, b, c, 3, 0x8f0ccc92, 10) \
    STEP(I, c, d, a, b, 10, 0xffeff47d, 15) STEP(I, b, c, d, a, 1, 0x85845dd1, 21) \
    STEP(I, a, b, c, d, 8, 0x6fa87e4f, 6) STEP(I, d, a, b, c, 15, 0xfe2ce6e0, 10) \
    STEP(I, c, d, a, b, 6, 0xa3014314, 15) STEP(I, b, c, d, a, 13, 0x4e0811a1, 21) \
    STEP(I, a, b, c, d, 4, 0xf7537e82, 6) STEP(I, d, a, b, c, 11, 0xbd3af235, 10) \
    STEP(I, c, d, a, b, 2, 0x2ad7d2bb, 15) STEP(I, b, c, d, a, 9, 0xeb86d391, 21)

// The word and constant are added first: they do not wait for the step before, so only the
// function, one addition, the rotation and the last addition stand on the chain.
#define MD5_STEP(f, a, b, c, d, k, t, s) \
    a += words[k] + t; \
    a += f(b, c, d); \
    a = std::rotl(a, s) + b;

// Advances one state over `blocks` blocks.
void compress(uint32_t* state, const unsigned char* data, size_t blocks)
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t words[16];
    for (; blocks > 0; --blocks, data += 64) {
        loadWords(data, words);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
#define STEP(f, a, b, c, d, k, t, s) MD5_STEP(f, a, b, c, d, k, t, s)
        MD5_ROUNDS
#undef STEP
        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a, state[1] = b, state[2] = c, state[3] = d;
}

// Advances two states over the same `blocks` blocks, step by step side by side: the second
// state's registers are the first's names with a 2.
void compressBoth(uint32_t* one, uint32_t* two, const unsigned char* data, size_t blocks)
{
    uint32_t a = one[0], b = one[1], c = one[2], d = one[3];
    uint32_t a2 = two[0], b2 = two[1], c2 = two[2], d2 = two[3];
    uint32_t words[16];
    for (; blocks > 0; --blocks, data += 64) {
        loadWords(data, words);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        const uint32_t a20 = a2, b20 = b2, c20 = c2, d20 = d2;
#define STEP(f, a, b, c, d, k, t, s) MD5_STEP(f, a, b, c, d, k, t, s) MD5_STEP(f, a##2, b##2, c##2, d##2, k, t, s)
        MD5_ROUNDS
#undef STEP
        a += a0, b += b0, c += c0, d += d0;
        a2 += a20, b2 += b20, c2 += c20, d2 += d20;
    }
    one[0] = a, one[1] = b, one[2] = c, one[3] = d;
    two[0] = a2, two[1] = b2, two[2] = c2, two[3] = d2;
}

#undef MD5_STEP

#ifdef ZAFREL_MD5_VECTOR
// The same, with both states in the low lanes of one vector register (AVX-512 on 128 bits): each
// step's boolean function is one instruction and its rotation another, so a step of both states
// waits less than a step of one on the plain registers.
constexpr int kTableF = 0xca, kTableG = 0xe4, kTableH = 0x96, kTableI = 0x39;   // the functions as ternary truth tables

__attribute__((target("avx512f,avx512vl"))) void compressBothVector(uint32_t* one, uint32_t* two,
                                                                    const unsigned char* data, size_t blocks)
{
    __m128i a = _mm_setr_epi32(int(one[0]), int(two[0]), 0, 0), b = _mm_setr_epi32(int(one[1]), int(two[1]), 0, 0);
    __m128i c = _mm_setr_epi32(int(one[2]), int(two[2]), 0, 0), d = _mm_setr_epi32(int(one[3]), int(two[3]), 0, 0);
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t words[16];
        loadWords(data, words);
        const __m128i a0 = a, b0 = b, c0 = c, d0 = d;
#define STEP(f, a, b, c, d, k, t, s) \
    a = _mm_add_epi32(a, _mm_set1_epi32(int(words[k] + t))); \
    a = _mm_add_epi32(a, _mm_ternarylogic_epi32(b, c, d, kTable##f)); \
    a = _mm_add_epi32(_mm_rol_epi32(a, s), b);
        MD5_ROUNDS
#undef STEP
        a = _mm_add_epi32(a, a0), b = _mm_add_epi32(b, b0), c = _mm_add_epi32(c, c0), d = _mm_add_epi32(d, d0);
    }
    one[0] = uint32_t(_mm_extract_epi32(a, 0)), two[0] = uint32_t(_mm_extract_epi32(a, 1));
    one[1] = uint32_t(_mm_extract_epi32(b, 0)), two[1] = uint32_t(_mm_extract_epi32(b, 1));
    one[2] = uint32_t(_mm_extract_epi32(c, 0)), two[2] = uint32_t(_mm_extract_epi32(c, 1));
    one[3] = uint32_t(_mm_extract_epi32(d, 0)), two[3] = uint32_t(_mm_extract_epi32(d, 1));
}

bool cpuHasVectorMd5()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
}
#endif

#undef MD5_ROUNDS

std::atomic<bool> vectorAllowed{true};

void compressTwo(uint32_t* one, uint32_t* two, const unsigned char* data, size_t blocks)
{
#ifdef ZAFREL_MD5_VECTOR
    static const bool vector = cpuHasVectorMd5();
    if (vector && vectorAllowed.load(std::memory_order_relaxed)) {
        compressBothVector(one, two, data, blocks);
        return;
    }
#endif
    compressBoth(one, two, data, blocks);
}

}  // namespace

bool useVectorMd5(bool allowed)
{
#ifdef ZAFREL_MD5_VECTOR
    vectorAllowed.store(allowed);
    return allowed && cpuHasVectorMd5();
#else
    (void)allowed;
    return false;
#endif
}

Md5Hasher::Md5Hasher() { std::memcpy(state_, kInitial, sizeof state_); }

size_t Md5Hasher::fillBlock(const unsigned char* data, size_t size)
{
    const size_t held = size_t(length_ % 64);
    if (held == 0)
        return 0;
    const size_t taken = std::min(size, 64 - held);
    std::memcpy(block_ + held, data, taken);
    length_ += taken;
    if (held + taken == 64)
        compress(state_, block_, 1);
    return taken;
}

void Md5Hasher::add(const void* data, size_t size)
{
    if (size == 0)
        return;
    auto bytes = static_cast<const unsigned char*>(data);
    const size_t taken = fillBlock(bytes, size);
    bytes += taken;
    size -= taken;
    const size_t whole = size / 64;
    compress(state_, bytes, whole);
    length_ += whole * 64;
    std::memcpy(block_, bytes + whole * 64, size % 64);
    length_ += size % 64;
}

void addToBoth(Md5Hasher& a, Md5Hasher& b, const void* data, size_t size)
{
    if (size == 0)
        return;
    if (a.length_ % 64 != b.length_ % 64) {
        a.add(data, size);
        b.add(data, size);
        return;
    }
    // Each completes its own partly filled block (the same bytes, after different earlier ones);
    // from there on they stand at the same block boundary.
    auto bytes = static_cast<const unsigned char*>(data);
    const size_t taken = a.fillBlock(bytes, size);
    b.fillBlock(bytes, size);
    bytes += taken;
    size -= taken;
    const size_t whole = size / 64;
    compressTwo(a.state_, b.state_, bytes, whole);
    a.length_ += whole * 64;
    b.length_ += whole * 64;
    std::memcpy(a.block_, bytes + whole * 64, size % 64);
    std::memcpy(b.block_, bytes + whole * 64, size % 64);
    a.length_ += size % 64;
    b.length_ += size % 64;
}

std::string Md5Hasher::finishHex()
{
    // A 1 bit, zeros up to 8 bytes before a block's end, then the length in bits, little-endian.
    const uint64_t bits = length_ * 8;
    unsigned char tail[72] = {0x80};
    const size_t held = size_t(length_ % 64);
    const size_t padding = (held < 56 ? 56 : 120) - held;
    for (int i = 0; i < 8; ++i)
        tail[padding + i] = static_cast<unsigned char>(bits >> (8 * i));
    add(tail, padding + 8);

    static const char digits[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; ++i) {
        const auto byte = static_cast<unsigned char>(state_[i / 4] >> (8 * (i % 4)));
        out[2 * i] = digits[byte >> 4];
        out[2 * i + 1] = digits[byte & 0xf];
    }
    return out;
}

}  // namespace zafrel

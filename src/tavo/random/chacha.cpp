#include "tavo/random/chacha.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tavo/error.hpp"

namespace tavo {

namespace {

// "expand 32-byte k" as four little-endian words.
constexpr std::uint32_t sigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

// Six double rounds (a column round, then a diagonal round) over the 16 state words, whatever a word
// is: one block's 32-bit words, or vectors holding the same word of several blocks.
template <class Word, class QuarterRound>
inline void twelve_rounds(Word (&x)[16], QuarterRound quarter_round) {
    for (int round = 0; round < 6; ++round) {
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
}

#if defined(__has_builtin) && !defined(TAVO_CHACHA_SCALAR)
#if __has_builtin(__builtin_shufflevector)
#define TAVO_CHACHA_LANES 1
#endif
#endif

#ifdef TAVO_CHACHA_LANES

// The four blocks are computed together: lane b of vector i is word i of block counter + b. This is
// plain vector-extension code, so it compiles to SSE2 on any x86-64 (and NEON elsewhere) without
// asking for a particular instruction set.
typedef std::uint32_t Lanes __attribute__((vector_size(16)));

typedef std::uint16_t HalfLanes __attribute__((vector_size(16)));

template <int n>
inline Lanes rotl(Lanes x) {
    if constexpr (n == 16) {
        // Swapping the halves of each word is a single shuffle (two on SSE2) instead of two shifts
        // and an or.
        const auto halves = (HalfLanes)x;
        return (Lanes)__builtin_shufflevector(halves, halves, 1, 0, 3, 2, 5, 4, 7, 6);
    } else {
        return (x << n) | (x >> (32 - n));
    }
}

// clang-format off
inline void quarter_round(Lanes& a, Lanes& b, Lanes& c, Lanes& d) {
    a += b; d ^= a; d = rotl<16>(d);
    c += d; b ^= c; b = rotl<12>(b);
    a += b; d ^= a; d = rotl<8>(d);
    c += d; b ^= c; b = rotl<7>(b);
}
// clang-format on

// Writes words i .. i+3 of each of the four blocks: a 4x4 transpose of rows a, b, c, d.
inline void store_transposed(Lanes a, Lanes b, Lanes c, Lanes d, std::uint32_t* out) {
    const Lanes ab_low = __builtin_shufflevector(a, b, 0, 4, 1, 5);
    const Lanes ab_high = __builtin_shufflevector(a, b, 2, 6, 3, 7);
    const Lanes cd_low = __builtin_shufflevector(c, d, 0, 4, 1, 5);
    const Lanes cd_high = __builtin_shufflevector(c, d, 2, 6, 3, 7);
    const Lanes block[4] = {
        __builtin_shufflevector(ab_low, cd_low, 0, 1, 4, 5),
        __builtin_shufflevector(ab_low, cd_low, 2, 3, 6, 7),
        __builtin_shufflevector(ab_high, cd_high, 0, 1, 4, 5),
        __builtin_shufflevector(ab_high, cd_high, 2, 3, 6, 7),
    };
    for (int b = 0; b < 4; ++b) std::memcpy(out + 16 * b, &block[b], sizeof(Lanes));
}

}  // namespace

void chacha12_four_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                          std::uint32_t* out) {
    Lanes input[16];
    for (int i = 0; i < 4; ++i) input[i] = Lanes{} + sigma[i];
    for (int i = 0; i < 8; ++i) input[4 + i] = Lanes{} + key[i];
    const std::uint64_t counters[4] = {counter, counter + 1, counter + 2, counter + 3};
    for (int b = 0; b < 4; ++b) {
        input[12][b] = static_cast<std::uint32_t>(counters[b]);
        input[13][b] = static_cast<std::uint32_t>(counters[b] >> 32);
    }
    input[14] = Lanes{} + static_cast<std::uint32_t>(stream);
    input[15] = Lanes{} + static_cast<std::uint32_t>(stream >> 32);

    Lanes x[16];
    for (int i = 0; i < 16; ++i) x[i] = input[i];
    twelve_rounds(x, [](auto& a, auto& b, auto& c, auto& d) { quarter_round(a, b, c, d); });
    for (int i = 0; i < 16; ++i) x[i] += input[i];
    for (int i = 0; i < 16; i += 4) store_transposed(x[i], x[i + 1], x[i + 2], x[i + 3], out + i);
}

#else

constexpr std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// clang-format off
void quarter_round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) {
    a += b; d ^= a; d = rotl(d, 16);
    c += d; b ^= c; b = rotl(b, 12);
    a += b; d ^= a; d = rotl(d, 8);
    c += d; b ^= c; b = rotl(b, 7);
}
// clang-format on

void chacha12_block(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                    std::uint32_t* out) {
    // clang-format off
    const std::uint32_t input[16] = {
        sigma[0], sigma[1], sigma[2], sigma[3],
        key[0], key[1], key[2], key[3], key[4], key[5], key[6], key[7],
        static_cast<std::uint32_t>(counter), static_cast<std::uint32_t>(counter >> 32),
        static_cast<std::uint32_t>(stream), static_cast<std::uint32_t>(stream >> 32),
    };
    // clang-format on
    std::uint32_t x[16];
    std::memcpy(x, input, sizeof x);
    twelve_rounds(x, [](auto& a, auto& b, auto& c, auto& d) { quarter_round(a, b, c, d); });
    for (int i = 0; i < 16; ++i) out[i] = x[i] + input[i];
}

}  // namespace

void chacha12_four_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                          std::uint32_t* out) {
    for (int b = 0; b < 4; ++b) chacha12_block(key, counter + b, stream, out + 16 * b);
}

#endif

std::uint64_t inclusive_threshold(double p) noexcept {
    constexpr std::uint64_t never = std::uint64_t{1} << 52;
    // The draw is a non-decreasing function of m (an exact subtraction, then a rounded
    // multiplication by a positive constant), so the mantissas giving a draw below p form a prefix
    // 0 .. T-1 and T is found by bisection. A NaN p makes every comparison false: T = 0.
    auto below = [p](std::uint64_t m) { return inclusive_from_u64(m << 12) < p; };
    if (!below(0)) return 0;
    if (below(never - 1)) return never;
    std::uint64_t low = 0, high = never - 1;  // below(low) holds, below(high) does not
    while (high - low > 1) {
        const std::uint64_t mid = low + (high - low) / 2;
        (below(mid) ? low : high) = mid;
    }
    return high;
}

ChaCha12Rng ChaCha12Rng::seed_from_u64(std::uint64_t seed) noexcept {
    // One PCG32 (XSH RR) step per key word.
    ChaChaKey key;
    std::uint64_t state = seed;
    for (auto& word : key) {
        state = state * 6364136223846793005ULL + 11634580027462260723ULL;
        const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
        word = std::rotr(xorshifted, static_cast<int>(state >> 59));
    }
    return ChaCha12Rng(key);
}

void ChaCha12Rng::refill() noexcept {
    chacha12_four_blocks(key_, counter_, stream_, buffer_.data());
    counter_ += 4;
    index_ = 0;
}

std::uint64_t ChaCha12Rng::next_u64_across_refill() noexcept {
    if (index_ == buffer_words - 1) {
        const std::uint64_t low = buffer_[buffer_words - 1];
        refill();
        const std::uint64_t high = buffer_[0];
        index_ = 1;
        return (high << 32) | low;
    }
    refill();
    index_ = 2;
    return (std::uint64_t{buffer_[1]} << 32) | buffer_[0];
}

void os_entropy(void* out, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(out);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = getrandom(bytes + done, size - done, 0);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    if (done == size) return;

    // No getrandom (an old kernel, or a sandbox that refuses it): read the device instead.
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        while (done < size) {
            const ssize_t got = ::read(fd, bytes + done, size - done);
            if (got > 0) {
                done += static_cast<std::size_t>(got);
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
        ::close(fd);
    }
    if (done != size) throw Panic("no entropy available from the operating system");
}

void ThreadRng::rekey() {
    ChaChaKey key;
    os_entropy(key.data(), sizeof key);
    rng_ = ChaCha12Rng(key);
}

}  // namespace tavo

#include "tavo/random/chacha.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <type_traits>
#include <utility>

#include "tavo/error.hpp"

namespace tavo {

namespace {

// "expand 32-byte k" as four little-endian words.
constexpr std::uint32_t sigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

// Six double rounds (a column round, then a diagonal round) over the 16 state words, whatever a word
// is: one block's 32-bit words, or vectors holding the same word of several blocks.
template <class Word, class QuarterRound>
[[gnu::always_inline]] inline void twelve_rounds(Word (&x)[16], QuarterRound quarter_round) {
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

// The blocks are computed side by side: lane b of vector i is word i of block counter + b. This is
// plain vector-extension code, instantiated for three widths. Four lanes compile to SSE2 on any
// x86-64 (and NEON elsewhere) without asking for a particular instruction set; eight and sixteen
// are instantiated only inside functions compiled for AVX2 and AVX-512F, which are called only when
// the CPU has them.
typedef std::uint32_t Lanes4 __attribute__((vector_size(16)));
typedef std::uint32_t Lanes8 __attribute__((vector_size(32)));
typedef std::uint32_t Lanes16 __attribute__((vector_size(64)));
typedef std::uint8_t Bytes16 __attribute__((vector_size(16)));
typedef std::uint8_t Bytes32 __attribute__((vector_size(32)));
typedef std::uint8_t Bytes64 __attribute__((vector_size(64)));

// Every helper below, lambdas included, is always inlined into its caller: vectors never cross a
// call, and the wide kernels never fall back on code compiled for the baseline instruction set.
// Vectors are passed by reference; the warning that returning them by value depends on the
// instruction set does not apply, and is off for the rest of the file (GCC reports at its end).
#pragma GCC diagnostic ignored "-Wpsabi"

template <class V>
constexpr int lanes_of = int(sizeof(V) / sizeof(std::uint32_t));

// A rotation by 8 or 16 moves whole bytes: one byte shuffle where the instruction set has one for
// the width (SSSE3 and AVX2 do, AVX-512F alone does not and rotates in one instruction anyway).
// Without SSSE3, the four-lane version swaps 16-bit halves for the rotation by 16 only.
template <int n, bool byte_shuffles, class V>
[[gnu::always_inline]] inline void rotl(V& x) {
    constexpr int lanes = lanes_of<V>;
    if constexpr (byte_shuffles && (n == 8 || n == 16)) {
        using Bytes = std::conditional_t<lanes == 4, Bytes16,
                                         std::conditional_t<lanes == 8, Bytes32, Bytes64>>;
        const Bytes bytes = (Bytes)x;
        // Result byte k of a word comes from byte (k - n/8) mod 4 of the same word.
        [&]<std::size_t... I>(std::index_sequence<I...>) __attribute__((always_inline)) {
            x = (V)__builtin_shufflevector(bytes, bytes,
                                           int(I / 4 * 4 + (I % 4 + 4 - n / 8) % 4)...);
        }(std::make_index_sequence<4 * lanes>{});
    } else if constexpr (n == 16 && lanes == 4) {
        typedef std::uint16_t Halves __attribute__((vector_size(16)));
        const auto halves = (Halves)x;
        x = (V)__builtin_shufflevector(halves, halves, 1, 0, 3, 2, 5, 4, 7, 6);
    } else {
        x = (x << n) | (x >> (32 - n));
    }
}

// clang-format off
template <bool byte_shuffles, class V>
[[gnu::always_inline]] inline void quarter_round(V& a, V& b, V& c, V& d) {
    a += b; d ^= a; rotl<16, byte_shuffles>(d);
    c += d; b ^= c; rotl<12, byte_shuffles>(b);
    a += b; d ^= a; rotl<8, byte_shuffles>(d);
    c += d; b ^= c; rotl<7, byte_shuffles>(b);
}
// clang-format on

// Within each group of four lanes, picks from a and b (b's lanes numbered from `lanes`): the
// `pick(k)` of each position k = 0..3 of the group, offset to the group.
template <class V, class Pick>
[[gnu::always_inline]] inline V shuffle_groups(const V& a, const V& b, Pick pick) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) __attribute__((always_inline)) {
        return __builtin_shufflevector(a, b, int(I / 4 * 4 + pick(I % 4))...);
    }(std::make_index_sequence<lanes_of<V>>{});
}

// Writes words i .. i+3 of every block from rows a, b, c, d (words i .. i+3, one block per lane):
// a 4x4 transpose within each group of four lanes, after which each 16-byte group is four
// consecutive words of one block.
template <class V>
[[gnu::always_inline]] inline void store_transposed(const V& a, const V& b, const V& c, const V& d,
                                                    std::uint32_t* out) {
    constexpr int lanes = lanes_of<V>;
    // Interleave the low and the high halves of each group: (a0 b0 a1 b1) and (a2 b2 a3 b3).
    auto low_halves = [](std::size_t k) { return int(k / 2 + k % 2 * lanes); };
    auto high_halves = [](std::size_t k) { return int(2 + k / 2 + k % 2 * lanes); };
    const V ab_low = shuffle_groups(a, b, low_halves);
    const V ab_high = shuffle_groups(a, b, high_halves);
    const V cd_low = shuffle_groups(c, d, low_halves);
    const V cd_high = shuffle_groups(c, d, high_halves);
    // Then join 64-bit pieces of ab and cd: (a b c d) of one lane per group.
    auto first_pairs = [](std::size_t k) { return int(k % 2 + k / 2 * lanes); };
    auto second_pairs = [](std::size_t k) { return int(2 + k % 2 + k / 2 * lanes); };
    const V rows[4] = {
        shuffle_groups(ab_low, cd_low, first_pairs),
        shuffle_groups(ab_low, cd_low, second_pairs),
        shuffle_groups(ab_high, cd_high, first_pairs),
        shuffle_groups(ab_high, cd_high, second_pairs),
    };
    // Row k's group g belongs to the block in lane 4g + k.
    for (int g = 0; g < lanes / 4; ++g) {
        for (int k = 0; k < 4; ++k) {
            const auto* words = reinterpret_cast<const std::uint32_t*>(&rows[k]);
            std::memcpy(out + 16 * (4 * g + k), words + 4 * g, 4 * sizeof(std::uint32_t));
        }
    }
}

template <class V, bool byte_shuffles>
[[gnu::always_inline]] inline void blocks_in_lanes(const ChaChaKey& key, std::uint64_t counter,
                                                   std::uint64_t stream, std::uint32_t* out) {
    constexpr int lanes = lanes_of<V>;
    V input[16];
    for (int i = 0; i < 4; ++i) input[i] = V{} + sigma[i];
    for (int i = 0; i < 8; ++i) input[4 + i] = V{} + key[i];
    for (int b = 0; b < lanes; ++b) {
        const std::uint64_t block = counter + std::uint64_t(b);
        input[12][b] = static_cast<std::uint32_t>(block);
        input[13][b] = static_cast<std::uint32_t>(block >> 32);
    }
    input[14] = V{} + static_cast<std::uint32_t>(stream);
    input[15] = V{} + static_cast<std::uint32_t>(stream >> 32);

    V x[16];
    for (int i = 0; i < 16; ++i) x[i] = input[i];
    twelve_rounds(x, [](V& a, V& b, V& c, V& d) __attribute__((always_inline)) {
        quarter_round<byte_shuffles>(a, b, c, d);
    });
    for (int i = 0; i < 16; ++i) x[i] += input[i];
    for (int i = 0; i < 16; i += 4) store_transposed(x[i], x[i + 1], x[i + 2], x[i + 3], out + i);
}

#ifdef __SSSE3__
constexpr bool baseline_byte_shuffles = true;
#else
constexpr bool baseline_byte_shuffles = false;
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define TAVO_CHACHA_WIDE 1

__attribute__((target("avx2"))) void avx2_blocks(const ChaChaKey& key, std::uint64_t counter,
                                                 std::uint64_t stream, std::uint32_t* out) {
    blocks_in_lanes<Lanes8, true>(key, counter, stream, out);
}

__attribute__((target("avx512f"))) void avx512_blocks(const ChaChaKey& key, std::uint64_t counter,
                                                      std::uint64_t stream, std::uint32_t* out) {
    blocks_in_lanes<Lanes16, false>(key, counter, stream, out);
}
#endif

}  // namespace

void chacha12_four_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                          std::uint32_t* out) {
    blocks_in_lanes<Lanes4, baseline_byte_shuffles>(key, counter, stream, out);
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

namespace {

bool cpu_has(ChaChaKernel kernel) {
#ifdef TAVO_CHACHA_WIDE
    switch (kernel) {
        case ChaChaKernel::Portable: return true;
        case ChaChaKernel::Avx2: return __builtin_cpu_supports("avx2");
        case ChaChaKernel::Avx512: return __builtin_cpu_supports("avx512f");
    }
    return false;
#else
    return kernel == ChaChaKernel::Portable;
#endif
}

ChaChaKernel narrower(ChaChaKernel kernel) {
    return kernel == ChaChaKernel::Avx512 && cpu_has(ChaChaKernel::Avx2) ? ChaChaKernel::Avx2
                                                                         : ChaChaKernel::Portable;
}

ChaChaKernel widest_kernel() {
    for (ChaChaKernel kernel : {ChaChaKernel::Avx512, ChaChaKernel::Avx2}) {
        if (cpu_has(kernel)) return kernel;
    }
    return ChaChaKernel::Portable;
}

// The kernel generators refill with; chosen once, on first use.
std::atomic<ChaChaKernel>& active_kernel() {
    static std::atomic<ChaChaKernel> kernel{widest_kernel()};
    return kernel;
}

}  // namespace

const char* chacha_kernel_name(ChaChaKernel kernel) noexcept {
    switch (kernel) {
        case ChaChaKernel::Portable: return "portable";
        case ChaChaKernel::Avx2: return "avx2";
        case ChaChaKernel::Avx512: return "avx512";
    }
    return "?";
}

bool chacha_kernel_supported(ChaChaKernel kernel) noexcept { return cpu_has(kernel); }

void chacha12_blocks(ChaChaKernel kernel, const ChaChaKey& key, std::uint64_t counter,
                     std::uint64_t stream, std::uint32_t* out) noexcept {
    switch (kernel) {
#ifdef TAVO_CHACHA_WIDE
        case ChaChaKernel::Avx2: avx2_blocks(key, counter, stream, out); return;
        case ChaChaKernel::Avx512: avx512_blocks(key, counter, stream, out); return;
#endif
        default: chacha12_four_blocks(key, counter, stream, out); return;
    }
}

ChaChaKernel chacha_kernel() noexcept { return active_kernel().load(std::memory_order_relaxed); }

bool select_chacha_kernel(ChaChaKernel kernel) noexcept {
    if (!cpu_has(kernel)) return false;
    active_kernel().store(kernel, std::memory_order_relaxed);
    return true;
}

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
    // A kernel computes its n blocks only from a counter that is a non-zero multiple of n (the
    // portable four always qualify). Refills then never straddle a multiple of 16 blocks, so the
    // per-thread generator's re-keying point stays exact whatever the kernel; and a new generator
    // starts with four blocks, then four, eight and sixteen, so that the many that draw only a few
    // outputs (one trial's, one request's) do not pay for sixteen.
    ChaChaKernel kernel = chacha_kernel();
    while (kernel != ChaChaKernel::Portable &&
           (counter_ == 0 || counter_ % chacha_kernel_blocks(kernel) != 0)) {
        kernel = narrower(kernel);
    }
    chacha12_blocks(kernel, key_, counter_, stream_, buffer_.data());
    const std::size_t blocks = chacha_kernel_blocks(kernel);
    counter_ += blocks;
    end_ = static_cast<std::uint32_t>(16 * blocks);
    index_ = 0;
}

std::uint64_t ChaCha12Rng::next_u64_across_refill() noexcept {
    if (index_ + 1 == end_) {
        const std::uint64_t low = buffer_[index_];
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

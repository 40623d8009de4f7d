#include "tavo/random/chacha.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
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

// The kernels are written with the vector extensions of GCC and Clang.
#if !defined(__has_builtin)
#error "the ChaCha kernels need __builtin_shufflevector (GCC 12 or Clang)"
#elif !__has_builtin(__builtin_shufflevector)
#error "the ChaCha kernels need __builtin_shufflevector (GCC 12 or Clang)"
#endif

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

// A 4x4 transpose within each group of four lanes: word k of group g of output j is word j of
// group g of input k. Its own inverse.
template <class V>
[[gnu::always_inline]] inline void transpose_groups(const V (&in)[4], V (&out)[4]) {
    constexpr int lanes = lanes_of<V>;
    // Interleave the low and the high halves of each group: (a0 b0 a1 b1) and (a2 b2 a3 b3).
    auto low_halves = [](std::size_t k) { return int(k / 2 + k % 2 * lanes); };
    auto high_halves = [](std::size_t k) { return int(2 + k / 2 + k % 2 * lanes); };
    const V ab_low = shuffle_groups(in[0], in[1], low_halves);
    const V ab_high = shuffle_groups(in[0], in[1], high_halves);
    const V cd_low = shuffle_groups(in[2], in[3], low_halves);
    const V cd_high = shuffle_groups(in[2], in[3], high_halves);
    // Then join 64-bit pieces of ab and cd: (a b c d) of one lane per group.
    auto first_pairs = [](std::size_t k) { return int(k % 2 + k / 2 * lanes); };
    auto second_pairs = [](std::size_t k) { return int(2 + k % 2 + k / 2 * lanes); };
    out[0] = shuffle_groups(ab_low, cd_low, first_pairs);
    out[1] = shuffle_groups(ab_low, cd_low, second_pairs);
    out[2] = shuffle_groups(ab_high, cd_high, first_pairs);
    out[3] = shuffle_groups(ab_high, cd_high, second_pairs);
}

// Writes words i .. i+3 of every block from rows a, b, c, d (words i .. i+3, one block per lane)
// to out + stride * lane + i: after the transpose each 16-byte group is four consecutive words
// of one block.
template <class V, int stride = 16>
[[gnu::always_inline]] inline void store_transposed(const V& a, const V& b, const V& c, const V& d,
                                                    std::uint32_t* out) {
    constexpr int lanes = lanes_of<V>;
    const V in[4] = {a, b, c, d};
    V rows[4];
    transpose_groups(in, rows);
    // Row k's group g belongs to the block in lane 4g + k.
    for (int g = 0; g < lanes / 4; ++g) {
        for (int k = 0; k < 4; ++k) {
            const auto* words = reinterpret_cast<const std::uint32_t*>(&rows[k]);
            std::memcpy(out + stride * (4 * g + k), words + 4 * g, 4 * sizeof(std::uint32_t));
        }
    }
}

// The inverse: rows[j] gets word i + j of every lane, lane b's words read at in + stride * b + i.
template <class V, int stride>
[[gnu::always_inline]] inline void load_transposed(const std::uint32_t* in, V (&rows)[4]) {
    constexpr int lanes = lanes_of<V>;
    V groups[4];
    for (int g = 0; g < lanes / 4; ++g) {
        for (int k = 0; k < 4; ++k) {
            auto* words = reinterpret_cast<std::uint32_t*>(&groups[k]);
            std::memcpy(words + 4 * g, in + stride * (4 * g + k), 4 * sizeof(std::uint32_t));
        }
    }
    transpose_groups(groups, rows);
}

// The rounds, the final addition and the store, for input words laid out one block per lane.
template <class V, bool byte_shuffles>
[[gnu::always_inline]] inline void finish_lanes(const V (&input)[16], std::uint32_t* out) {
    V x[16];
    for (int i = 0; i < 16; ++i) x[i] = input[i];
    twelve_rounds(x, [](V& a, V& b, V& c, V& d) __attribute__((always_inline)) {
        quarter_round<byte_shuffles>(a, b, c, d);
    });
    for (int i = 0; i < 16; ++i) x[i] += input[i];
    for (int i = 0; i < 16; i += 4) store_transposed(x[i], x[i + 1], x[i + 2], x[i + 3], out + i);
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
    finish_lanes<V, byte_shuffles>(input, out);
}

// 64-bit lanes filling as many bytes as V: half as many lanes.
template <class V>
struct HalfAsWide;
template <>
struct HalfAsWide<Lanes4> {
    typedef std::uint64_t type __attribute__((vector_size(16)));
};
template <>
struct HalfAsWide<Lanes8> {
    typedef std::uint64_t type __attribute__((vector_size(32)));
};
template <>
struct HalfAsWide<Lanes16> {
    typedef std::uint64_t type __attribute__((vector_size(64)));
};

constexpr std::uint64_t pcg_multiplier = 6364136223846793005ULL;
constexpr std::uint64_t pcg_increment = 11634580027462260723ULL;

// A PCG32 step is affine in its state, so after step i the state of seed s + b is that of seed s
// plus b * multiplier^i (mod 2^64): lane b's offset at step i, for the sixteen lanes.
constexpr auto pcg_lane_offsets = [] {
    std::array<std::array<std::uint64_t, 16>, 8> offsets{};
    std::uint64_t power = 1;
    for (auto& step : offsets) {
        power *= pcg_multiplier;
        for (std::uint64_t b = 0; b < 16; ++b) step[b] = b * power;
    }
    return offsets;
}();

// Block 0 of the given stream for one key per lane, the key rows already laid out.
template <class V, bool byte_shuffles>
[[gnu::always_inline]] inline void first_blocks_of_key_rows(const V (&key)[8], std::uint64_t stream,
                                                            std::uint32_t* out) {
    V input[16];
    for (int i = 0; i < 4; ++i) input[i] = V{} + sigma[i];
    for (int i = 0; i < 8; ++i) input[4 + i] = key[i];
    input[12] = V{};
    input[13] = V{};
    input[14] = V{} + static_cast<std::uint32_t>(stream);
    input[15] = V{} + static_cast<std::uint32_t>(stream >> 32);
    finish_lanes<V, byte_shuffles>(input, out);
}

// Block 0 of the seeded generators first_seed, first_seed + 1, ..., one per lane. The PCG32 steps
// of seed_from_u64 run side by side on 64-bit lanes (two vectors for the lanes of V), each lane's
// state the first seed's plus its offset, and each step's word lands directly as the key row the
// block function needs.
template <class V, bool byte_shuffles>
[[gnu::always_inline]] inline void seeded_first_blocks(std::uint64_t first_seed,
                                                       std::uint64_t stream, std::uint32_t* out,
                                                       ChaChaKey* keys) {
    constexpr int lanes = lanes_of<V>;
    using Wide = typename HalfAsWide<V>::type;
    // The low 32 bits of every 64-bit lane of a and then of b.
    auto low_words = [](const Wide& a, const Wide& b) __attribute__((always_inline)) {
        return [&]<std::size_t... I>(std::index_sequence<I...>) __attribute__((always_inline)) {
            return V(__builtin_shufflevector((V)a, (V)b, int(2 * I)...));
        }(std::make_index_sequence<lanes>{});
    };
    V key[8];
    std::uint64_t state = first_seed;
    for (int word = 0; word < 8; ++word) {
        state = state * pcg_multiplier + pcg_increment;
        Wide shifted[2], rotation[2];
        for (int h = 0; h < 2; ++h) {
            Wide offsets;
            std::memcpy(&offsets, pcg_lane_offsets[word].data() + h * lanes / 2, sizeof offsets);
            const Wide lane_state = (Wide{} + state) + offsets;
            shifted[h] = ((lane_state >> 18) ^ lane_state) >> 27;
            rotation[h] = lane_state >> 59;
        }
        const V x = low_words(shifted[0], shifted[1]);
        const V r = low_words(rotation[0], rotation[1]);
        key[word] = (x >> r) | (x << ((32 - r) & 31));
    }
    if (keys) {
        static_assert(sizeof(ChaChaKey) == 8 * sizeof(std::uint32_t));
        auto* words = reinterpret_cast<std::uint32_t*>(keys);
        store_transposed<V, 8>(key[0], key[1], key[2], key[3], words);
        store_transposed<V, 8>(key[4], key[5], key[6], key[7], words + 4);
    }
    first_blocks_of_key_rows<V, byte_shuffles>(key, stream, out);
}

// Block 0 of the given stream for each of the keys, one per lane.
template <class V, bool byte_shuffles>
[[gnu::always_inline]] inline void keyed_first_blocks(const ChaChaKey* keys, std::uint64_t stream,
                                                      std::uint32_t* out) {
    static_assert(sizeof(ChaChaKey) == 8 * sizeof(std::uint32_t));
    const auto* words = reinterpret_cast<const std::uint32_t*>(keys);
    V key[8];
    load_transposed<V, 8>(words, reinterpret_cast<V(&)[4]>(key[0]));
    load_transposed<V, 8>(words + 4, reinterpret_cast<V(&)[4]>(key[4]));
    first_blocks_of_key_rows<V, byte_shuffles>(key, stream, out);
}

// One or two blocks, each held in four vectors of four words (its rows), the diagonal round
// done by rotating rows. A block takes as long as four in lanes, but needs no other blocks to
// share the work: two interleaved blocks keep the execution units busier.
template <int count, bool byte_shuffles>
[[gnu::always_inline]] inline void blocks_in_rows(const ChaChaKey& key, std::uint64_t counter,
                                                  std::uint64_t stream, std::uint32_t* out) {
    Lanes4 input[count][4], x[count][4];
    for (int j = 0; j < count; ++j) {
        const std::uint64_t block = counter + std::uint64_t(j);
        input[j][0] = Lanes4{sigma[0], sigma[1], sigma[2], sigma[3]};
        input[j][1] = Lanes4{key[0], key[1], key[2], key[3]};
        input[j][2] = Lanes4{key[4], key[5], key[6], key[7]};
        input[j][3] =
            Lanes4{static_cast<std::uint32_t>(block), static_cast<std::uint32_t>(block >> 32),
                   static_cast<std::uint32_t>(stream), static_cast<std::uint32_t>(stream >> 32)};
        for (int r = 0; r < 4; ++r) x[j][r] = input[j][r];
    }
    for (int round = 0; round < 6; ++round) {
        for (int j = 0; j < count; ++j) {
            quarter_round<byte_shuffles>(x[j][0], x[j][1], x[j][2], x[j][3]);
        }
        // Rows 1, 2, 3 rotated left by 1, 2, 3 words line the diagonals up as columns.
        for (int j = 0; j < count; ++j) {
            x[j][1] = __builtin_shufflevector(x[j][1], x[j][1], 1, 2, 3, 0);
            x[j][2] = __builtin_shufflevector(x[j][2], x[j][2], 2, 3, 0, 1);
            x[j][3] = __builtin_shufflevector(x[j][3], x[j][3], 3, 0, 1, 2);
        }
        for (int j = 0; j < count; ++j) {
            quarter_round<byte_shuffles>(x[j][0], x[j][1], x[j][2], x[j][3]);
        }
        for (int j = 0; j < count; ++j) {
            x[j][1] = __builtin_shufflevector(x[j][1], x[j][1], 3, 0, 1, 2);
            x[j][2] = __builtin_shufflevector(x[j][2], x[j][2], 2, 3, 0, 1);
            x[j][3] = __builtin_shufflevector(x[j][3], x[j][3], 1, 2, 3, 0);
        }
    }
    for (int j = 0; j < count; ++j) {
        for (int r = 0; r < 4; ++r) {
            x[j][r] += input[j][r];
            std::memcpy(out + 16 * j + 4 * r, &x[j][r], sizeof(Lanes4));
        }
    }
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

__attribute__((target("avx2"))) void avx2_seeded_first_blocks(std::uint64_t first_seed,
                                                              std::uint64_t stream,
                                                              std::uint32_t* out, ChaChaKey* keys) {
    seeded_first_blocks<Lanes8, true>(first_seed, stream, out, keys);
}

__attribute__((target("avx512f"))) void avx512_seeded_first_blocks(std::uint64_t first_seed,
                                                                   std::uint64_t stream,
                                                                   std::uint32_t* out,
                                                                   ChaChaKey* keys) {
    seeded_first_blocks<Lanes16, false>(first_seed, stream, out, keys);
}

__attribute__((target("avx2"))) void avx2_keyed_first_blocks(const ChaChaKey* keys,
                                                             std::uint64_t stream,
                                                             std::uint32_t* out) {
    keyed_first_blocks<Lanes8, true>(keys, stream, out);
}

__attribute__((target("avx512f"))) void avx512_keyed_first_blocks(const ChaChaKey* keys,
                                                                  std::uint64_t stream,
                                                                  std::uint32_t* out) {
    keyed_first_blocks<Lanes16, false>(keys, stream, out);
}

// Rows are four-word vectors whatever the CPU; AVX2 brings byte shuffles to them.
__attribute__((target("avx2"))) void avx2_rows_one(const ChaChaKey& key, std::uint64_t counter,
                                                   std::uint64_t stream, std::uint32_t* out) {
    blocks_in_rows<1, true>(key, counter, stream, out);
}

__attribute__((target("avx2"))) void avx2_rows_two(const ChaChaKey& key, std::uint64_t counter,
                                                   std::uint64_t stream, std::uint32_t* out) {
    blocks_in_rows<2, true>(key, counter, stream, out);
}
#endif

void portable_seeded_first_blocks(std::uint64_t first_seed, std::uint64_t stream,
                                  std::uint32_t* out, ChaChaKey* keys) {
    seeded_first_blocks<Lanes4, baseline_byte_shuffles>(first_seed, stream, out, keys);
}

void portable_keyed_first_blocks(const ChaChaKey* keys, std::uint64_t stream, std::uint32_t* out) {
    keyed_first_blocks<Lanes4, baseline_byte_shuffles>(keys, stream, out);
}

void portable_rows_one(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                       std::uint32_t* out) {
    blocks_in_rows<1, baseline_byte_shuffles>(key, counter, stream, out);
}

void portable_rows_two(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                       std::uint32_t* out) {
    blocks_in_rows<2, baseline_byte_shuffles>(key, counter, stream, out);
}

}  // namespace

void chacha12_four_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                          std::uint32_t* out) {
    blocks_in_lanes<Lanes4, baseline_byte_shuffles>(key, counter, stream, out);
}

namespace {

std::size_t portable_count_not_below(const std::uint32_t* words, const std::uint64_t* thresholds,
                                     std::size_t outputs) {
    std::size_t count = 0;
    for (std::size_t k = 0; k < outputs; ++k) {
        const std::uint64_t x = std::uint64_t{words[2 * k]} | std::uint64_t{words[2 * k + 1]} << 32;
        count += (x >> 12) >= thresholds[k];
    }
    return count;
}

#ifdef TAVO_CHACHA_WIDE
// Four outputs per step. After the shift both sides are below 2^63, so the signed 64-bit compare
// that AVX2 has gives the unsigned order.
__attribute__((target("avx2"))) std::size_t avx2_count_not_below(const std::uint32_t* words,
                                                                 const std::uint64_t* thresholds,
                                                                 std::size_t outputs) {
    typedef long long Quad __attribute__((vector_size(32)));
    typedef unsigned long long UnsignedQuad __attribute__((vector_size(32)));
    Quad below{};  // minus the outputs found below their threshold, per lane
    std::size_t k = 0;
    for (; k + 4 <= outputs; k += 4) {
        Quad x, threshold;
        std::memcpy(&x, words + 2 * k, sizeof x);  // x86: each pair of words is one output
        std::memcpy(&threshold, thresholds + k, sizeof threshold);
        x = (Quad)((UnsignedQuad)x >> 12);
        below += threshold > x;
    }
    const long long found_below = below[0] + below[1] + below[2] + below[3];
    return k - static_cast<std::size_t>(-found_below) +
           portable_count_not_below(words + 2 * k, thresholds + k, outputs - k);
}
#endif

// Everything a kernel does, in one entry each. An entry may use the helpers of a narrower one only
// when its CPU test implies that one's (AVX-512F is taken only with AVX2 present).
struct KernelEntry {
    ChaChaKernel kernel;
    const char* name;
    bool (*runs_here)();
    void (*blocks)(const ChaChaKey&, std::uint64_t, std::uint64_t, std::uint32_t*);
    void (*one_block)(const ChaChaKey&, std::uint64_t, std::uint64_t, std::uint32_t*);
    void (*two_blocks)(const ChaChaKey&, std::uint64_t, std::uint64_t, std::uint32_t*);
    void (*seeded_first_blocks)(std::uint64_t, std::uint64_t, std::uint32_t*, ChaChaKey*);
    void (*keyed_first_blocks)(const ChaChaKey*, std::uint64_t, std::uint32_t*);
    std::size_t (*count_not_below)(const std::uint32_t*, const std::uint64_t*, std::size_t);
    ChaChaKernel narrower;  // the kernel that computes the rest of a block run
};

bool always() { return true; }

#ifdef TAVO_CHACHA_WIDE
bool has_avx2() { return __builtin_cpu_supports("avx2"); }
bool has_avx512() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2"); }
#endif

constexpr KernelEntry kKernels[] = {
    {ChaChaKernel::Portable, "portable", &always, &chacha12_four_blocks, &portable_rows_one,
     &portable_rows_two, &portable_seeded_first_blocks, &portable_keyed_first_blocks,
     &portable_count_not_below, ChaChaKernel::Portable},
#ifdef TAVO_CHACHA_WIDE
    {ChaChaKernel::Avx2, "avx2", &has_avx2, &avx2_blocks, &avx2_rows_one, &avx2_rows_two,
     &avx2_seeded_first_blocks, &avx2_keyed_first_blocks, &avx2_count_not_below,
     ChaChaKernel::Portable},
    {ChaChaKernel::Avx512, "avx512", &has_avx512, &avx512_blocks, &avx2_rows_one, &avx2_rows_two,
     &avx512_seeded_first_blocks, &avx512_keyed_first_blocks, &avx2_count_not_below,
     ChaChaKernel::Avx2},
#endif
};

// The entry of a kernel this build has, or null.
const KernelEntry* entry_of(ChaChaKernel kernel) noexcept {
    for (const KernelEntry& entry : kKernels) {
        if (entry.kernel == kernel) return &entry;
    }
    return nullptr;
}

const KernelEntry& widest_entry() noexcept {
    const KernelEntry* widest = &kKernels[0];
    for (const KernelEntry& entry : kKernels) {
        if (entry.runs_here()) widest = &entry;  // listed from narrowest to widest
    }
    return *widest;
}

// The entry generators refill with: the widest this CPU runs, chosen on first use, unless one was
// selected.
std::atomic<const KernelEntry*>& active_entry() noexcept {
    static std::atomic<const KernelEntry*> entry{&widest_entry()};
    return entry;
}

const KernelEntry& active() noexcept { return *active_entry().load(std::memory_order_relaxed); }

}  // namespace

const char* chacha_kernel_name(ChaChaKernel kernel) noexcept {
    switch (kernel) {
        case ChaChaKernel::Portable: return "portable";
        case ChaChaKernel::Avx2: return "avx2";
        case ChaChaKernel::Avx512: return "avx512";
    }
    return "?";
}

bool chacha_kernel_supported(ChaChaKernel kernel) noexcept {
    const KernelEntry* entry = entry_of(kernel);
    return entry && entry->runs_here();
}

ChaChaKernel chacha_kernel() noexcept { return active().kernel; }

bool select_chacha_kernel(ChaChaKernel kernel) noexcept {
    const KernelEntry* entry = entry_of(kernel);
    if (!entry || !entry->runs_here()) return false;
    active_entry().store(entry, std::memory_order_relaxed);
    return true;
}

void select_chacha_kernel(std::string_view name) {
    std::string runnable;
    for (const KernelEntry& entry : kKernels) {
        if (!entry.runs_here()) continue;
        if (!runnable.empty()) runnable += ", ";
        runnable += entry.name;
    }
    for (ChaChaKernel kernel : {ChaChaKernel::Portable, ChaChaKernel::Avx2, ChaChaKernel::Avx512}) {
        if (name != chacha_kernel_name(kernel)) continue;
        if (select_chacha_kernel(kernel)) return;
        throw InvalidValue(
            "the " + std::string(name) +
            " kernel cannot run on this CPU or is not in this build (it runs: " + runnable + ")");
    }
    throw InvalidValue("unknown kernel '" + std::string(name) +
                       "' (kernels: portable, avx2, avx512; this CPU runs: " + runnable + ")");
}

void chacha12_blocks(ChaChaKernel kernel, const ChaChaKey& key, std::uint64_t counter,
                     std::uint64_t stream, std::uint32_t* out) noexcept {
    entry_of(kernel)->blocks(key, counter, stream, out);
}

std::size_t count_outputs_not_below(const std::uint32_t* words, const std::uint64_t* thresholds,
                                    std::size_t outputs) noexcept {
    return active().count_not_below(words, thresholds, outputs);
}

void chacha12_block_run(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                        std::size_t count, std::uint32_t* out) noexcept {
    const KernelEntry& first = active();
    for (const KernelEntry* entry = &first;; entry = entry_of(entry->narrower)) {
        const std::size_t width = chacha_kernel_blocks(entry->kernel);
        for (; count >= width; count -= width, counter += width, out += 16 * width) {
            entry->blocks(key, counter, stream, out);
        }
        if (count == 0 || entry->kernel == ChaChaKernel::Portable) break;
    }
    // Fewer than four blocks are left.
    if (count >= 2) {
        first.two_blocks(key, counter, stream, out);
        count -= 2;
        counter += 2;
        out += 32;
    }
    if (count == 1) first.one_block(key, counter, stream, out);
}

void chacha12_seeded_first_blocks(ChaChaKernel kernel, std::uint64_t first_seed,
                                  std::uint64_t stream, std::uint32_t* out,
                                  ChaChaKey* keys) noexcept {
    entry_of(kernel)->seeded_first_blocks(first_seed, stream, out, keys);
}

void chacha12_first_blocks(ChaChaKernel kernel, const ChaChaKey* keys, std::uint64_t stream,
                           std::uint32_t* out) noexcept {
    entry_of(kernel)->keyed_first_blocks(keys, stream, out);
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
    // p now lies in (0, 1], and the draw of m is within a step of m 2^-52: T lies next to p 2^52.
    // A few steps either side bracket it (checked, else the whole range is bisected), which makes
    // planning a request of many hops cheap.
    const double near = std::floor(std::ldexp(p, 52));
    if (near >= 4.0 && near <= double(never - 5)) {
        const auto guess = static_cast<std::uint64_t>(near);
        if (below(guess - 4) && !below(guess + 4)) {
            low = guess - 4;
            high = guess + 4;
        }
    }
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
    // A refill of n blocks starts at a counter that is a non-zero multiple of n (or at 0 with one
    // block), n a power of two up to the kernel's width: 1, 1, 2, 4, 8, 16, 16, ... Refills then
    // never straddle a multiple of 16 blocks, so the per-thread generator's re-keying point stays
    // exact whatever the kernel; and the many generators that draw only a few outputs (one
    // trial's, one request's) compute little more than the blocks they use.
    std::uint64_t blocks = counter_ == 0 ? 1 : counter_ & (~counter_ + 1);
    blocks = std::min<std::uint64_t>(blocks, chacha_kernel_blocks(chacha_kernel()));
    fill(static_cast<std::size_t>(blocks));
}

void ChaCha12Rng::fill(std::size_t blocks) noexcept {
    chacha12_block_run(key_, counter_, stream_, blocks, buffer_.data());
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

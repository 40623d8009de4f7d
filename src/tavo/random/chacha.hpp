#pragma once
// The random source: a ChaCha12 block generator with a buffer of up to sixteen blocks, the two
// conversions of a 64-bit output to a double, and the per-thread generator keyed from the operating
// system; for Monte Carlo trials also block 0 of many generators at once, and outputs taken in
// bulk.
//
// Seeded and zero-seeded generators must give the same draws on every machine, so everything here
// is spelled out bit for bit; nothing is taken from the platform's own generators.

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavo {

using ChaChaKey = std::array<std::uint32_t, 8>;

// Writes the four 16-word ChaCha12 blocks for counters counter .. counter + 3 of the given stream
// number (the 64-bit nonce) to out, block `counter` first. The portable implementation: plain
// vector code for any CPU.
void chacha12_four_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                          std::uint32_t* out);

// The implementations of the block function, all giving the same words: the portable one and wider
// ones for CPUs that have 256-bit (AVX2) or 512-bit (AVX-512F) vectors, chosen at run time.
enum class ChaChaKernel : std::uint8_t { Portable, Avx2, Avx512 };

// Blocks written per call: 4, 8 or 16.
constexpr std::size_t chacha_kernel_blocks(ChaChaKernel kernel) noexcept {
    return kernel == ChaChaKernel::Avx512 ? 16 : kernel == ChaChaKernel::Avx2 ? 8 : 4;
}
const char* chacha_kernel_name(ChaChaKernel kernel) noexcept;  // "portable", "avx2", "avx512"

// Whether this build has the kernel and this CPU can run it. The portable one always qualifies.
bool chacha_kernel_supported(ChaChaKernel kernel) noexcept;

// Writes the chacha_kernel_blocks(kernel) blocks of the stream from `counter` on, block `counter`
// first. The kernel must be supported.
void chacha12_blocks(ChaChaKernel kernel, const ChaChaKey& key, std::uint64_t counter,
                     std::uint64_t stream, std::uint32_t* out) noexcept;

// The kernel every generator refills with: the widest this CPU supports, unless another was
// selected. Selecting one the CPU cannot run changes nothing and returns false. Generators give
// the same outputs whatever the kernel, so it may change at any time. Each kernel is one entry of
// a table in chacha.cpp: its CPU test and every function it computes blocks with.
ChaChaKernel chacha_kernel() noexcept;
bool select_chacha_kernel(ChaChaKernel kernel) noexcept;
// The same by name ("portable", "avx2", "avx512"), as the TAVO_KERNEL environment variable gives
// it; InvalidValue, naming the kernels this CPU runs, for an unknown one or one it cannot run.
void select_chacha_kernel(std::string_view name);

// Writes exactly `count` consecutive blocks of the stream from `counter` on, block `counter` first:
// the selected kernel for as many of its widths as fit, narrower ones for the rest (down to single
// blocks), so that nothing is computed that will not be used.
void chacha12_block_run(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                        std::size_t count, std::uint32_t* out) noexcept;

// Block 0 of a stream for several generators at once, one per vector lane: as many as the
// kernel computes blocks (chacha_kernel_blocks). Many short trials each need little more than
// their first block, and their generators differ only in the key.
//
// The generators from_key(keys[i], stream): block 0 of each to out + 16 * i.
void chacha12_first_blocks(ChaChaKernel kernel, const ChaChaKey* keys, std::uint64_t stream,
                           std::uint32_t* out) noexcept;
// The generators seed_from_u64(first_seed + i) (wrapping) on `stream`: block 0 of each to
// out + 16 * i, and its key to keys[i] unless keys is null.
void chacha12_seeded_first_blocks(ChaChaKernel kernel, std::uint64_t first_seed,
                                  std::uint64_t stream, std::uint32_t* out,
                                  ChaChaKey* keys) noexcept;

// Uniform double on [0, 1] from one 64-bit output: the top 52 bits as the mantissa of a double in
// [1, 2), minus 1, times 1 / (1 - 2^-52). The subtraction is exact, so the result is the correctly
// rounded product m * 2^-52 * (1 + 2^-52); all 52 bits set gives exactly 1.0.
inline double inclusive_from_u64(std::uint64_t x) noexcept {
    constexpr double scale = std::bit_cast<double>(std::uint64_t{0x3FF0000000000001});
    const double in_one_two = std::bit_cast<double>(std::uint64_t{0x3FF0000000000000} | (x >> 12));
    return (in_one_two - 1.0) * scale;
}

// Uniform double on [0, 1): the same construction without the scale; never 1.0.
inline double half_open_from_u64(std::uint64_t x) noexcept {
    return std::bit_cast<double>(std::uint64_t{0x3FF0000000000000} | (x >> 12)) - 1.0;
}

// The smallest kept mantissa m (the top 52 bits of an output) whose inclusive draw is not below p,
// or 2^52 if there is none: for every 64-bit output x,
//     inclusive_from_u64(x) < p  exactly when  (x >> 12) < inclusive_threshold(p).
// 0 means no draw is below p (p <= 0 or NaN), 2^52 that every draw is (p > 1). Lets a hot loop
// compare integers instead of converting each output.
std::uint64_t inclusive_threshold(double p) noexcept;

// The number of k < outputs for which (output k >> 12) >= thresholds[k], where output k is
// words[2k] | words[2k + 1] << 32 (as take_outputs hands them out) and the thresholds are at most
// 2^52: the failed link attempts among the draws, with inclusive_threshold per draw.
std::size_t count_outputs_not_below(const std::uint32_t* words, const std::uint64_t* thresholds,
                                    std::size_t outputs) noexcept;

// Outputs are the words of blocks 0, 1, 2, ... in order, whatever number of blocks a refill
// computes; a 64-bit output is two consecutive words, low first, also across refills. A new
// generator computes one block, then one, two, four, ... up to the kernel's width, so that one used
// for a few outputs pays for the blocks it uses.
class ChaCha12Rng {
public:
    static constexpr std::size_t buffer_words = 16 * chacha_kernel_blocks(ChaChaKernel::Avx512);

    // The key's eight words filled from the seed by successive PCG32 steps.
    static ChaCha12Rng seed_from_u64(std::uint64_t seed) noexcept;
    static ChaCha12Rng zero_seeded() noexcept { return ChaCha12Rng(ChaChaKey{}); }
    // Stream 0 is the stream of every generator above; other streams of the same key give
    // unrelated sequences.
    static ChaCha12Rng from_key(const ChaChaKey& key, std::uint64_t stream = 0) noexcept {
        ChaCha12Rng rng(key);
        rng.stream_ = stream;
        return rng;
    }
    // The generator from_key(key, stream) with block 0 already computed: `first_block` holds its
    // 16 words (see chacha12_seeded_first_blocks).
    static ChaCha12Rng with_first_block(const ChaChaKey& key, std::uint64_t stream,
                                        const std::uint32_t* first_block) noexcept {
        ChaCha12Rng rng(key);
        std::copy(first_block, first_block + 16, rng.buffer_.begin());
        rng.stream_ = stream;
        rng.counter_ = 1;
        rng.end_ = 16;
        return rng;
    }

    // Copies take only the buffered words not yet handed out: the rest of the buffer may never
    // have been written.
    ChaCha12Rng(const ChaCha12Rng& other) noexcept { *this = other; }
    ChaCha12Rng& operator=(const ChaCha12Rng& other) noexcept {
        std::copy(other.buffer_.begin() + other.index_, other.buffer_.begin() + other.end_,
                  buffer_.begin() + other.index_);
        key_ = other.key_;
        stream_ = other.stream_;
        counter_ = other.counter_;
        index_ = other.index_;
        end_ = other.end_;
        return *this;
    }

    const ChaChaKey& key() const noexcept { return key_; }
    std::uint64_t stream() const noexcept { return stream_; }
    // The blocks of the stream computed so far (the counter of the next block to compute).
    std::uint64_t blocks_computed() const noexcept { return counter_; }

    std::uint32_t next_u32() noexcept {
        if (index_ == end_) refill();
        return buffer_[index_++];
    }

    std::uint64_t next_u64() noexcept {
        if (index_ + 1 < end_) [[likely]] {
            const std::uint64_t low = buffer_[index_];
            const std::uint64_t high = buffer_[index_ + 1];
            index_ += 2;
            return (high << 32) | low;
        }
        return next_u64_across_refill();
    }

    double uniform_inclusive() noexcept { return inclusive_from_u64(next_u64()); }
    double uniform_half_open() noexcept { return half_open_from_u64(next_u64()); }

    // Takes the next `count` 64-bit outputs and hands them, in order and in chunks of at most 128,
    // to consume(words, outputs): output k of a chunk is words[2k] | words[2k + 1] << 32. Blocks
    // past the buffer are computed as runs of exactly the blocks needed (chacha12_block_run, up to
    // sixteen at a time), and the generator then goes on as if the outputs had been drawn one by
    // one. For loops that only count what the outputs say.
    template <class Consume>
    void take_outputs(std::uint64_t count, Consume&& consume) {
        if (index_ % 2 != 0) {
            // After an odd number of 32-bit outputs every 64-bit one straddles two words.
            for (; count > 0; --count) {
                const std::uint64_t x = next_u64();
                const std::uint32_t words[2] = {static_cast<std::uint32_t>(x),
                                                static_cast<std::uint32_t>(x >> 32)};
                consume(static_cast<const std::uint32_t*>(words), std::size_t{1});
            }
            return;
        }
        for (;;) {
            const std::uint64_t buffered = (end_ - index_) / 2;
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffered, count));
            if (n > 0) {
                consume(static_cast<const std::uint32_t*>(buffer_.data() + index_), n);
                index_ += static_cast<std::uint32_t>(2 * n);
                count -= n;
            }
            if (count == 0) return;
            fill(static_cast<std::size_t>(std::min<std::uint64_t>(16, (count + 7) / 8)));
        }
    }

private:
    // The buffer is left uninitialised: nothing reads it before the first refill, and a generator
    // is made per trial.
    explicit ChaCha12Rng(const ChaChaKey& key) noexcept : key_(key) {}
    struct Zeroed {};
    constexpr ChaCha12Rng(const ChaChaKey& key, Zeroed) noexcept : buffer_{}, key_(key) {}
    friend class ThreadRng;

    void refill() noexcept;
    void fill(std::size_t blocks) noexcept;  // the next `blocks` blocks into the buffer
    std::uint64_t next_u64_across_refill() noexcept;

    alignas(64) std::array<std::uint32_t, buffer_words> buffer_;
    ChaChaKey key_;
    std::uint64_t stream_ = 0;
    std::uint64_t counter_ = 0;
    std::uint32_t index_ = 0;  // the next word to read
    std::uint32_t end_ = 0;    // the words the last refill wrote; empty when index_ == end_
};

// The calling thread's generator, keyed from the operating system's entropy on first use and keyed
// afresh after every 64 KiB of output. Its values are never reproducible.
class ThreadRng {
public:
    constexpr ThreadRng() noexcept : rng_(ChaChaKey{}, ChaCha12Rng::Zeroed{}) {
        rng_.counter_ = rekey_after_blocks;
    }

    std::uint64_t next_u64() {
        // Only whole 64-bit draws are taken here, so each refill's even number of words is used
        // up exactly and the counter needs looking at only when the buffer is empty. Refills
        // never straddle a multiple of 16 blocks, so the counter meets the limit exactly.
        if (rng_.index_ == rng_.end_ && rng_.counter_ >= rekey_after_blocks) [[unlikely]]
            rekey();
        return rng_.next_u64();
    }

    double uniform_half_open() { return half_open_from_u64(next_u64()); }

    // The generator currently in use, for inspection.
    const ChaCha12Rng& generator() const noexcept { return rng_; }

private:
    // 64 KiB of output is 1024 blocks of 64 bytes.
    static constexpr std::uint64_t rekey_after_blocks = 1024;

    void rekey();

    ChaCha12Rng rng_;
};

// Fills out with bytes from the operating system's entropy source. Throws Panic if there is none.
void os_entropy(void* out, std::size_t size);

inline ThreadRng& thread_rng() noexcept {
    // Constant-initialised, so the thread-local needs no construction guard on each access.
    constinit thread_local ThreadRng rng;
    return rng;
}

}  // namespace tavo

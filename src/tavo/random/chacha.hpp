#pragma once
// The random source: a ChaCha12 block generator with a four-block output buffer, the two
// conversions of a 64-bit output to a double, and the per-thread generator keyed from the operating
// system.
//
// Seeded and zero-seeded generators must give the same draws on every machine, so everything here
// is spelled out bit for bit; nothing is taken from the platform's own generators.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace tavo {

using ChaChaKey = std::array<std::uint32_t, 8>;

// Writes the four 16-word ChaCha12 blocks for counters counter .. counter + 3 of the given stream
// number (the 64-bit nonce) to out, block `counter` first.
void chacha12_four_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                          std::uint32_t* out);

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

class ChaCha12Rng {
public:
    static constexpr std::size_t buffer_words = 64;

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

    const ChaChaKey& key() const noexcept { return key_; }
    std::uint64_t stream() const noexcept { return stream_; }

    std::uint32_t next_u32() noexcept {
        if (index_ == buffer_words) refill();
        return buffer_[index_++];
    }

    std::uint64_t next_u64() noexcept {
        if (index_ < buffer_words - 1) [[likely]] {
            const std::uint64_t low = buffer_[index_];
            const std::uint64_t high = buffer_[index_ + 1];
            index_ += 2;
            return (high << 32) | low;
        }
        return next_u64_across_refill();
    }

    double uniform_inclusive() noexcept { return inclusive_from_u64(next_u64()); }
    double uniform_half_open() noexcept { return half_open_from_u64(next_u64()); }

private:
    explicit constexpr ChaCha12Rng(const ChaChaKey& key) noexcept : key_(key) {}
    friend class ThreadRng;

    void refill() noexcept;
    std::uint64_t next_u64_across_refill() noexcept;

    alignas(16) std::array<std::uint32_t, buffer_words> buffer_{};
    ChaChaKey key_;
    std::uint64_t stream_ = 0;
    std::uint64_t counter_ = 0;
    std::size_t index_ = buffer_words;
};

// The calling thread's generator, keyed from the operating system's entropy on first use and keyed
// afresh after every 64 KiB of output. Its values are never reproducible.
class ThreadRng {
public:
    constexpr ThreadRng() noexcept : rng_(ChaChaKey{}) { rng_.counter_ = rekey_after_blocks; }

    std::uint64_t next_u64() {
        // Only whole 64-bit draws are taken here, so the buffer holds an even number of words and
        // the counter needs looking at only when it is empty.
        if (rng_.index_ == ChaCha12Rng::buffer_words && rng_.counter_ >= rekey_after_blocks)
            [[unlikely]] rekey();
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

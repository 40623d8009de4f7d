// Generator commands. Integers are printed in decimal (32-bit words) or as 0x-prefixed 16-digit hex
// (64-bit outputs); doubles as the 0x-prefixed hex of their IEEE-754 bits, one value per line.
//
//   rng GEN OP...           GEN: zero | seed:N | key:W0,...,W7 (hex words), optionally followed
//                           by @S for stream number S (decimal; 0 otherwise)
//                           OP:  u32 | u64 | inc | half, optionally repeated: u32x63;
//                                or kernel:NAME: refill with that block function from now on;
//                                or copy: go on with a copy of the generator;
//                                or take:N: N 64-bit outputs taken in bulk (take_outputs);
//                                or four (before any draw): go on with a generator of the
//                                same key and stream that computes four blocks at its first
//                                refill (no copy or take: after it);
//                                or blocks: print the blocks computed so far (decimal)
//   rng-kernels             one line per block function: "NAME supported" or "NAME unsupported"
//   rng-blocks KERNEL GEN COUNTER   the words of the blocks one call of KERNEL writes from COUNTER
//                           (on GEN's stream)
//   rng-key GEN             the eight key words, hex
//   rng-seeded-first-blocks KERNEL STREAM SEED   block 0 of stream STREAM of the generators
//                           seed_from_u64(SEED + i), one per lane of KERNEL: per lane a line with
//                           the eight key words (hex), then a line with the sixteen block words
//   rng-first-blocks KERNEL STREAM GEN...   block 0 of stream STREAM of each GEN's key, computed
//                           one key per lane (at most as many as KERNEL has lanes; the last fills
//                           the rest): one line of sixteen words per GEN
//   rng-run KERNEL GEN COUNTER COUNT   the words of COUNT blocks from COUNTER computed as one run
//                           (chacha12_block_run) with KERNEL selected
//   rng-count KERNEL GEN N THRESHOLD...   how many of GEN's next N 64-bit outputs, taken in bulk,
//                           have (output >> 12) at or above the threshold of their position (the
//                           decimal thresholds taken in turn), counted with KERNEL selected
//   rng-convert X...        for each 64-bit hex X: "INCLUSIVE HALF_OPEN" bits
//   rng-threshold P...      for each double given by its hex bits: inclusive_threshold(P)
//   rng-thread N            N half-open draws from the calling thread's generator
//   rng-thread-rekeys N [KERNEL...]  the indices among N 64-bit draws from the thread's generator
//                           at which a new key was in use; with kernels, switching to the next
//                           one (round robin) every 37 draws
//
// Naming a kernel the CPU cannot run ends the command with status 3.

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "probe.hpp"
#include "reference_loops.hpp"
#include "tavo/random/chacha.hpp"

namespace {

std::uint64_t parse_u64(const std::string& text, int base) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (text.empty() || *end != '\0' || errno != 0) {
        throw std::invalid_argument("bad number: " + text);
    }
    return value;
}

tavo::ChaCha12Rng make_generator(const std::string& name);

tavo::ChaCha12Rng make_generator_on_stream(const std::string& spec) {
    const std::size_t at = spec.find('@');
    if (at == std::string::npos) return make_generator(spec);
    const tavo::ChaCha12Rng base = make_generator(spec.substr(0, at));
    return tavo::ChaCha12Rng::from_key(base.key(), parse_u64(spec.substr(at + 1), 10));
}

tavo::ChaCha12Rng make_generator(const std::string& name) {
    if (name == "zero") return tavo::ChaCha12Rng::zero_seeded();
    if (name.rfind("seed:", 0) == 0) {
        return tavo::ChaCha12Rng::seed_from_u64(parse_u64(name.substr(5), 10));
    }
    if (name.rfind("key:", 0) == 0) {
        tavo::ChaChaKey key{};
        std::size_t start = 4;
        for (auto& word : key) {
            const std::size_t comma = name.find(',', start);
            word = static_cast<std::uint32_t>(parse_u64(name.substr(start, comma - start), 16));
            start = comma == std::string::npos ? name.size() : comma + 1;
        }
        return tavo::ChaCha12Rng::from_key(key);
    }
    throw std::invalid_argument("bad generator: " + name);
}

constexpr tavo::ChaChaKernel all_kernels[] = {tavo::ChaChaKernel::Portable,
                                              tavo::ChaChaKernel::Avx2, tavo::ChaChaKernel::Avx512};

struct Unsupported : std::runtime_error {
    using std::runtime_error::runtime_error;
};

tavo::ChaChaKernel parse_kernel(const std::string& name) {
    for (auto kernel : all_kernels) {
        if (name != tavo::chacha_kernel_name(kernel)) continue;
        if (!tavo::chacha_kernel_supported(kernel)) {
            throw Unsupported(name + " is not supported here");
        }
        return kernel;
    }
    throw std::invalid_argument("bad kernel: " + name);
}

void use_kernel(const std::string& name) { tavo::select_chacha_kernel(parse_kernel(name)); }

void print_u64(std::uint64_t x) { std::printf("0x%016" PRIx64 "\n", x); }
void print_double(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    print_u64(bits);
}

// Bad arguments end the command with a message and status 2.
probe::Command guarded(int (*body)(const std::vector<std::string>&)) {
    return [body](const std::vector<std::string>& args) {
        try {
            return body(args);
        } catch (const Unsupported& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 3;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 2;
        }
    };
}

// Applies args[from..] to `rng`. The generator refilling four blocks at first (op "four") has
// no copies and no bulk outputs.
template <class Rng>
int apply_operations(Rng& rng, const std::vector<std::string>& args, std::size_t from) {
    constexpr bool library = std::is_same_v<Rng, tavo::ChaCha12Rng>;
    for (std::size_t i = from; i < args.size(); ++i) {
        std::string op = args[i];
        if (op.starts_with("kernel:")) {
            use_kernel(op.substr(7));
            continue;
        }
        if (op == "blocks") {
            std::printf("%" PRIu64 "\n", rng.blocks_computed());
            continue;
        }
        if constexpr (library) {
            if (op == "copy") {
                const tavo::ChaCha12Rng copy(rng);
                rng = tavo::ChaCha12Rng::zero_seeded();
                rng = copy;
                continue;
            }
            if (op == "four") {
                if (rng.blocks_computed() != 0) {
                    throw std::invalid_argument("four goes before the first draw");
                }
                reference::FourBlockRng four(rng.key(), rng.stream());
                return apply_operations(four, args, i + 1);
            }
            if (op.starts_with("take:")) {
                rng.take_outputs(parse_u64(op.substr(5), 10),
                                 [](const std::uint32_t* words, std::size_t outputs) {
                                     for (std::size_t k = 0; k < outputs; ++k) {
                                         print_u64(std::uint64_t{words[2 * k]} |
                                                   std::uint64_t{words[2 * k + 1]} << 32);
                                     }
                                 });
                continue;
            }
        }
        std::uint64_t repeat = 1;
        if (const auto x = op.find('x'); x != std::string::npos) {
            repeat = parse_u64(op.substr(x + 1), 10);
            op.resize(x);
        }
        for (std::uint64_t r = 0; r < repeat; ++r) {
            if (op == "u32") {
                std::printf("%" PRIu32 "\n", rng.next_u32());
            } else if (op == "u64") {
                print_u64(rng.next_u64());
            } else if (op == "inc") {
                print_double(rng.uniform_inclusive());
            } else if (op == "half") {
                print_double(rng.uniform_half_open());
            } else {
                throw std::invalid_argument("bad operation: " + op);
            }
        }
    }
    return 0;
}

int run_draws(const std::vector<std::string>& args) {
    if (args.empty()) throw std::invalid_argument("usage: rng GEN OP...");
    auto rng = make_generator_on_stream(args[0]);
    return apply_operations(rng, args, 1);
}

int print_key(const std::vector<std::string>& args) {
    if (args.size() != 1) throw std::invalid_argument("usage: rng-key GEN");
    const auto rng = make_generator(args[0]);
    for (const auto word : rng.key()) std::printf("0x%08" PRIx32 "\n", word);
    return 0;
}

int list_kernels(const std::vector<std::string>&) {
    for (auto kernel : all_kernels) {
        std::printf("%s %s\n", tavo::chacha_kernel_name(kernel),
                    tavo::chacha_kernel_supported(kernel) ? "supported" : "unsupported");
    }
    return 0;
}

int blocks(const std::vector<std::string>& args) {
    if (args.size() != 3) throw std::invalid_argument("usage: rng-blocks KERNEL GEN COUNTER");
    const auto kernel = parse_kernel(args[0]);
    const auto generator = make_generator_on_stream(args[1]);
    std::uint32_t out[16 * 16];
    tavo::chacha12_blocks(kernel, generator.key(), parse_u64(args[2], 10), generator.stream(), out);
    for (std::size_t i = 0; i < 16 * tavo::chacha_kernel_blocks(kernel); ++i) {
        std::printf("%" PRIu32 "\n", out[i]);
    }
    return 0;
}

int seeded_first_blocks(const std::vector<std::string>& args) {
    if (args.size() != 3) {
        throw std::invalid_argument("usage: rng-seeded-first-blocks KERNEL STREAM SEED");
    }
    const auto kernel = parse_kernel(args[0]);
    std::uint32_t out[16 * 16];
    tavo::ChaChaKey keys[16];
    tavo::chacha12_seeded_first_blocks(kernel, parse_u64(args[2], 10), parse_u64(args[1], 10), out,
                                       keys);
    for (std::size_t i = 0; i < tavo::chacha_kernel_blocks(kernel); ++i) {
        for (const auto word : keys[i]) std::printf("0x%08" PRIx32 " ", word);
        std::printf("\n");
        for (std::size_t w = 0; w < 16; ++w) std::printf("%" PRIu32 " ", out[16 * i + w]);
        std::printf("\n");
    }
    return 0;
}

int first_blocks(const std::vector<std::string>& args) {
    if (args.size() < 3) {
        throw std::invalid_argument("usage: rng-first-blocks KERNEL STREAM GEN...");
    }
    const auto kernel = parse_kernel(args[0]);
    const std::size_t lanes = tavo::chacha_kernel_blocks(kernel);
    const std::size_t given = args.size() - 2;
    if (given > lanes) throw std::invalid_argument("more generators than lanes");
    tavo::ChaChaKey keys[16];
    for (std::size_t i = 0; i < lanes; ++i) {
        keys[i] = make_generator(args[2 + std::min(i, given - 1)]).key();
    }
    std::uint32_t out[16 * 16];
    tavo::chacha12_first_blocks(kernel, keys, parse_u64(args[1], 10), out);
    for (std::size_t i = 0; i < given; ++i) {
        for (std::size_t w = 0; w < 16; ++w) std::printf("%" PRIu32 " ", out[16 * i + w]);
        std::printf("\n");
    }
    return 0;
}

int block_run(const std::vector<std::string>& args) {
    if (args.size() != 4) throw std::invalid_argument("usage: rng-run KERNEL GEN COUNTER COUNT");
    use_kernel(args[0]);
    const auto generator = make_generator_on_stream(args[1]);
    const std::size_t count = parse_u64(args[3], 10);
    std::vector<std::uint32_t> out(16 * count + 1, 0xDEADBEEF);
    tavo::chacha12_block_run(generator.key(), parse_u64(args[2], 10), generator.stream(), count,
                             out.data());
    // The word past the run must be untouched.
    if (out.back() != 0xDEADBEEF) throw std::runtime_error("wrote past the run");
    for (std::size_t i = 0; i < 16 * count; ++i) std::printf("%" PRIu32 "\n", out[i]);
    return 0;
}

int count_not_below(const std::vector<std::string>& args) {
    if (args.size() < 4) throw std::invalid_argument("usage: rng-count KERNEL GEN N THRESHOLD...");
    use_kernel(args[0]);
    auto rng = make_generator_on_stream(args[1]);
    std::vector<std::uint64_t> pattern;
    for (std::size_t i = 3; i < args.size(); ++i) pattern.push_back(parse_u64(args[i], 10));
    // Each chunk gets the thresholds from its first output's position on.
    std::vector<std::uint64_t> run;
    for (std::size_t k = 0; k < pattern.size() + 128; ++k) {
        run.push_back(pattern[k % pattern.size()]);
    }
    std::size_t position = 0, count = 0;
    rng.take_outputs(parse_u64(args[2], 10), [&](const std::uint32_t* words, std::size_t outputs) {
        count += tavo::count_outputs_not_below(words, run.data() + position, outputs);
        position = (position + outputs) % pattern.size();
    });
    std::printf("%zu\n", count);
    return 0;
}

int convert(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        const std::uint64_t x = parse_u64(arg, 16);
        double inclusive = tavo::inclusive_from_u64(x), half_open = tavo::half_open_from_u64(x);
        std::uint64_t a, b;
        std::memcpy(&a, &inclusive, sizeof a);
        std::memcpy(&b, &half_open, sizeof b);
        std::printf("0x%016" PRIx64 " 0x%016" PRIx64 "\n", a, b);
    }
    return 0;
}

int threshold(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        const std::uint64_t bits = parse_u64(arg, 16);
        double p;
        std::memcpy(&p, &bits, sizeof p);
        std::printf("%" PRIu64 "\n", tavo::inclusive_threshold(p));
    }
    return 0;
}

int thread_draws(const std::vector<std::string>& args) {
    if (args.size() != 1) throw std::invalid_argument("usage: rng-thread N");
    const std::uint64_t n = parse_u64(args[0], 10);
    auto& rng = tavo::thread_rng();
    for (std::uint64_t i = 0; i < n; ++i) print_double(rng.uniform_half_open());
    return 0;
}

int thread_rekeys(const std::vector<std::string>& args) {
    if (args.empty()) throw std::invalid_argument("usage: rng-thread-rekeys N [KERNEL...]");
    const std::uint64_t n = parse_u64(args[0], 10);
    std::vector<tavo::ChaChaKernel> kernels;
    for (std::size_t i = 1; i < args.size(); ++i) kernels.push_back(parse_kernel(args[i]));
    auto& rng = tavo::thread_rng();
    tavo::ChaChaKey previous = rng.generator().key();
    for (std::uint64_t i = 0; i < n; ++i) {
        if (!kernels.empty() && i % 37 == 0) {
            tavo::select_chacha_kernel(kernels[i / 37 % kernels.size()]);
        }
        rng.next_u64();
        if (rng.generator().key() != previous) {
            std::printf("%" PRIu64 "\n", i);
            previous = rng.generator().key();
        }
    }
    return 0;
}

probe::Register r_draws("rng", guarded(run_draws));
probe::Register r_key("rng-key", guarded(print_key));
probe::Register r_kernels("rng-kernels", guarded(list_kernels));
probe::Register r_blocks("rng-blocks", guarded(blocks));
probe::Register r_convert("rng-convert", guarded(convert));
probe::Register r_seeded_first_blocks("rng-seeded-first-blocks", guarded(seeded_first_blocks));
probe::Register r_first_blocks("rng-first-blocks", guarded(first_blocks));
probe::Register r_block_run("rng-run", guarded(block_run));
probe::Register r_count("rng-count", guarded(count_not_below));
probe::Register r_threshold("rng-threshold", guarded(threshold));
probe::Register r_thread("rng-thread", guarded(thread_draws));
probe::Register r_rekeys("rng-thread-rekeys", guarded(thread_rekeys));

}  // namespace

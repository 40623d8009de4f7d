// Checks the closed form of a trial's clock (cycle_end) against stepping the loop it stands for,
//     t += 2.5; stop unless limit > t and cutoff > t
// from random start times in every power of two up to 2^55, many of them just below a power of
// two, odd or even where doubles are whole numbers, with limits a few steps to a few hundred
// thousand steps away, crossing powers of two, exactly at one, NaN or already passed.
//
//   cycle-ends CASES SEED     prints "cases N mismatches M", status 1 on any mismatch
//   cycle-stall               a loop that would never end (both limits past 2^55) is a Panic

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "probe.hpp"
#include "tavo/error.hpp"
#include "tavo/random/chacha.hpp"
#include "tavo/scheduler/cycle_clock.hpp"

namespace {

using namespace tavo;

CycleEnd stepped(double t, double limit, double cutoff) {
    std::uint64_t cycles = 0;
    for (;;) {
        t += 2.5;
        if (!(limit > t && cutoff > t)) return {cycles, t};
        ++cycles;
    }
}

int cycle_ends(const std::vector<std::string>& args) {
    const std::uint64_t cases = args.size() > 0 ? std::stoull(args[0]) : 2000;
    ChaCha12Rng pick = ChaCha12Rng::seed_from_u64(args.size() > 1 ? std::stoull(args[1]) : 1);
    auto below = [&](std::uint64_t n) { return pick.next_u64() % n; };
    std::uint64_t mismatches = 0;
    for (std::uint64_t c = 0; c < cases; ++c) {
        // A start in [2^(e-1), 2^e), anywhere or near its top, or a time a trial reaches (cycles
        // and purification steps added up).
        const int e = int(below(56));
        const double low = std::ldexp(1.0, e - 1);
        double t;
        switch (below(4)) {
            case 0: t = low + pick.uniform_half_open() * low; break;
            case 1: t = std::ldexp(1.0, e) - 2.5 * double(below(40)) - double(below(9)); break;
            case 2: t = std::nextafter(std::ldexp(1.0, e), 0.0); break;
            default: t = 2.5 * double(below(1000)) + 0.85 * double(below(5)); break;
        }
        if (!(t >= 0.0)) t = 0.0;
        t = std::fmin(t, 0x1p55);
        // Limits within a few hundred thousand steps of the spacing there, or exactly at the next
        // power of two or at 2^55 when those are that near, NaN, or behind t.
        const double spacing = std::fmax(2.5, 4.0 * (std::nextafter(t, INFINITY) - t));
        const double reach = spacing * 300000.0;
        auto near_or = [&](double limit) { return limit - t <= reach ? limit : t + reach; };
        auto a_limit = [&]() -> double {
            switch (below(8)) {
                case 0: return near_or(std::ldexp(1.0, e + int(below(2))));
                case 1: return std::numeric_limits<double>::quiet_NaN();
                case 2: return t - double(below(3));
                case 3: return near_or(0x1p55);
                default:
                    return t + spacing * double(below(below(2) ? 300000 : 50)) +
                           pick.uniform_half_open() * spacing;
            }
        };
        auto capped = [](double limit) { return limit > 0x1p55 ? 0x1p55 : limit; };  // NaN stays
        double limit = capped(a_limit());
        double cutoff = below(3) == 0 ? 1e300 : capped(a_limit());
        if (below(2)) std::swap(limit, cutoff);
        const CycleEnd closed = cycle_end(t, limit, cutoff);
        const CycleEnd walked = stepped(t, limit, cutoff);
        if (closed.cycles != walked.cycles ||
            std::bit_cast<std::uint64_t>(closed.t) != std::bit_cast<std::uint64_t>(walked.t)) {
            ++mismatches;
            std::printf(
                "mismatch: t %.17g limit %.17g cutoff %.17g: closed %llu %.17g, stepped "
                "%llu %.17g\n",
                t, limit, cutoff, (unsigned long long)closed.cycles, closed.t,
                (unsigned long long)walked.cycles, walked.t);
        }
    }
    std::printf("cases %llu mismatches %llu\n", (unsigned long long)cases,
                (unsigned long long)mismatches);
    return mismatches == 0 ? 0 : 1;
}

int cycle_stall(const std::vector<std::string>&) {
    try {
        cycle_end(0x1p55 - 40.0, 1e300, 0x1p55 + 8.0);
    } catch (const Panic& panic) {
        std::printf("panic: %s\n", panic.what());
        return 0;
    }
    std::printf("no panic\n");
    return 1;
}

probe::Register cycle_ends_command("cycle-ends", cycle_ends);
probe::Register cycle_stall_command("cycle-stall", cycle_stall);

}  // namespace

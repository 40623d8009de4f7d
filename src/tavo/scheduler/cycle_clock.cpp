#include "tavo/scheduler/cycle_clock.hpp"

#include <cmath>

#include "tavo/error.hpp"
#include "tavo/scheduler/physics.hpp"

namespace tavo {

CycleEnd cycle_end(double t, double limit, double cutoff) {
    auto goes_on = [&](double time) { return limit > time && cutoff > time; };
    std::uint64_t cycles = 0;
    for (;;) {
        // One step as the loop takes it: the first, each one that crosses a power of two, and
        // the last.
        const double next = t + kCycleMs;
        if (!goes_on(next)) return {cycles, next};
        if (next == t) throw Panic("a trial's clock stopped short of its limits");
        ++cycles;
        t = next;
        if (t < 8.0) continue;

        // Between two powers of two the doubles are evenly spaced, and every step from a multiple
        // of that spacing adds the same amount d: 2.5 exactly while the spacing is at most 0.5,
        // the rounded step beyond. (With a spacing of 1 a tie goes to the even neighbour, so an
        // odd t steps by 3 once and by 2 from then on: two steps are compared.) The loop then
        // passes t + d, t + 2d, ... exactly, up to the next power of two or the first time at
        // which it stops.
        const double d = (t + kCycleMs) - t;
        const double d_next = ((t + d) + kCycleMs) - (t + d);
        if (d != d_next || !(d > 0.0)) continue;
        int exponent = 0;
        std::frexp(t, &exponent);
        const double room = std::fmin(std::ldexp(1.0, exponent), std::fmin(limit, cutoff));
        // The most steps k with t + d k below room; every such sum is exact, and a sum at or past
        // room compares as such even when it rounds. The quotient is off by at most one or two.
        double k = std::fmax(0.0, std::floor((room - t) / d));
        while (k > 0.0 && !(t + d * k < room)) k -= 1.0;
        while (t + d * (k + 1.0) < room) k += 1.0;
        cycles += static_cast<std::uint64_t>(k);
        t += d * k;
    }
}

}  // namespace tavo

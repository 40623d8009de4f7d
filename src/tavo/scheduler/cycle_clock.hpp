#pragma once
// The clock of a trial's cycles. After a cycle at time t the timeline goes on with
//     t += kCycleMs; stop unless limit > t and cutoff > t
// and a trial that can no longer succeed does nothing else until that loop stops.

#include <cstdint>

namespace tavo {

// From 2^55 ms on, adding kCycleMs no longer changes t (doubles there are 8 ms apart): a trial
// whose latency limit and time cutoff both lie beyond never ends, and such limits are refused
// (kLargestLimitMs, network/request.hpp). Below it the clock advances, by 2.5 ms or, past 2^52 ms,
// by the rounded step, and reaches every limit up to 2^55 ms.

struct CycleEnd {
    std::uint64_t cycles;  // the steps of the loop that did not stop it
    double t;              // the time at which it stopped
};

// Where the loop started after time t (t >= 0) stops, exactly as stepping it would find, each sum
// rounded as the loop rounds it; it takes a few steps per power of two below the end. A NaN limit
// stops the loop at its first step. Throws Panic when the loop would never stop (both limits
// beyond 2^55 ms): callers refuse such limits first.
CycleEnd cycle_end(double t, double limit, double cutoff);

}  // namespace tavo

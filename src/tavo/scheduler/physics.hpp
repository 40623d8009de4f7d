#pragma once
// The link and purification model of the timeline.

#include <cmath>

namespace tavo {

// Length of one cycle of link attempts, and the time one purification step adds.
inline constexpr double kCycleMs = 2.5;
inline constexpr double kPurificationMs = 0.85;

// One purification step applied to fidelity F with baseline factor b. The evaluation order is part
// of the model: results must agree to the last bit.
inline double purify(double F, double b) {
    double a = ((1.0 - F) * (1.0 - F)) / 9.0;
    double c = ((F + F) * (1.0 - F)) / 3.0;
    double n = F * F + a;
    double d = (c + F * F) + a;
    if (!(d > 0.0)) return 0.5;
    return std::fmin(0.999, n / d + b);
}

// Probability that one generation attempt on a link of length `distance_km` and base fidelity
// `base_fidelity` succeeds, for a request targeting `fidelity_target`. Kept within [0.5, 0.98].
inline double link_success_probability(double distance_km, double base_fidelity,
                                       double fidelity_target) {
    double x = distance_km / 100.0;
    double y = x / (x + 1.0);
    double shortfall = base_fidelity < fidelity_target ? (fidelity_target - base_fidelity) * 0.3 : 0.0;
    double p = 1.0 - 0.45 * (y * y) - shortfall;
    return std::fmin(std::fmax(p, 0.5), 0.98);
}

}  // namespace tavo

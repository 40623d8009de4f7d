#pragma once
// Werner states: a pair of fidelity F with the Bell state is F |Φ+><Φ+| plus (1 - F)/3 of each of
// the other three Bell states, equivalently the Werner parameter w = (4F - 1)/3 times the Bell
// state plus (1 - w) times the maximally mixed state. Depolarising memories and swaps act on w
// alone, so it is the one number a stored pair needs.

#include <cmath>

namespace tavo {

inline double werner_parameter(double fidelity) { return (4.0 * fidelity - 1.0) / 3.0; }
inline double fidelity_of_werner(double werner) { return (1.0 + 3.0 * werner) / 4.0; }

// Pairs are carried as their excess fidelity F - 1/4 = 3w/4: exact to form from F (for F in
// [1/4, 1]), so a pair that never decays or swaps keeps its fidelity to the last bit.
inline constexpr double kMixedFidelity = 0.25;

// Entanglement swapping of two Werner pairs multiplies their parameters: in excess fidelities,
// e = (4/3) e1 e2.
inline double swapped_excess(double excess_a, double excess_b) {
    return excess_a * excess_b * (4.0 / 3.0);
}

// One round of the recurrence purification protocol of Bennett et al. (1996) on two Werner pairs,
// twirled back to a Werner pair: the probability that both ends see matching parities, and the
// fidelity of the kept pair when they do.
struct PurificationStep {
    double success_probability;
    double fidelity;
};

inline PurificationStep bbpssw(double f1, double f2) {
    const double g1 = 1.0 - f1, g2 = 1.0 - f2;
    const double success = f1 * f2 + f1 * g2 / 3.0 + f2 * g1 / 3.0 + 5.0 * g1 * g2 / 9.0;
    return {success, (f1 * f2 + g1 * g2 / 9.0) / success};
}

// h(e) = -e log2 e - (1 - e) log2 (1 - e), with h(0) = h(1) = 0.
inline double binary_entropy(double e) {
    if (e <= 0.0 || e >= 1.0) return 0.0;
    return -e * std::log2(e) - (1.0 - e) * std::log2(1.0 - e);
}

// The quantum bit error rate of BB84 measured on a Werner pair: (1 - w)/2, the same in either
// basis.
inline double bb84_error_rate(double werner) { return (1.0 - werner) / 2.0; }

// The asymptotic secret fraction of BB84 with one-way post-processing (Shor and Preskill):
// 1 - 2 h(e); not positive from e of about 11 % up.
inline double bb84_secret_fraction(double error_rate) {
    return 1.0 - 2.0 * binary_entropy(error_rate);
}

}  // namespace tavo

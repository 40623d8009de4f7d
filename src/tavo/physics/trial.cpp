#include "tavo/physics/trial.hpp"

namespace tavo {

double attempts_begun(double start, double period, double end) {
    if (!(end > start)) return 0.0;
    auto begins = [&](double j) { return j == 0.0 ? start : start + j * period; };
    double count = std::fmax(1.0, std::ceil((end - start) / period));
    if (!(count < 0x1p52)) return count;  // past exact whole numbers: the quotient is the answer
    // The quotient may be off by one either way; the begin times themselves settle it.
    while (count > 1.0 && !(begins(count - 1.0) < end)) count -= 1.0;
    while (begins(count) < end) count += 1.0;
    return count;
}

}  // namespace tavo

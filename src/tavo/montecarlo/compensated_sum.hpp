#pragma once
// A running sum that carries its own rounding error (Neumaier's compensated summation). The means
// of an ensemble are then accurate to a few units in the last place however many trials it has, so
// an ensemble computed in chunks and merged agrees with the whole to that accuracy.

#include <cmath>

namespace tavo {

class CompensatedSum {
public:
    void add(double value) {
        const double total = sum_ + value;
        // The low-order bits lost by the addition, taken from the smaller operand.
        if (std::fabs(sum_) >= std::fabs(value)) {
            compensation_ += (sum_ - total) + value;
        } else {
            compensation_ += (value - total) + sum_;
        }
        sum_ = total;
    }

    double value() const { return sum_ + compensation_; }

private:
    double sum_ = 0.0;
    double compensation_ = 0.0;
};

}  // namespace tavo

#include "tavo/network/request.hpp"

#include <limits>

#include "tavo/error.hpp"

namespace tavo {

void require_finite_limit(double value, std::string_view name) {
    if (value == std::numeric_limits<double>::infinity()) {
        throw InvalidValue(std::string(name) + " must be finite");
    }
}

void require_finite_limits(const EntanglementRequest& request, const SimulationConfig& config) {
    require_finite_limit(request.max_latency_ms, "max_latency_ms");
    require_finite_limit(config.total_time_cutoff_ms, "total_time_cutoff_ms");
    require_reachable_limit(request.max_latency_ms, config, "max_latency_ms");
}

void require_reachable_limit(double limit, const SimulationConfig& config, std::string_view name) {
    if (config.physics) return;
    if (limit > kLargestLimitMs && config.total_time_cutoff_ms > kLargestLimitMs) {
        throw InvalidValue(std::string(name) +
                           " is beyond 2**55 ms, where a trial's clock stops advancing, and so is "
                           "total_time_cutoff_ms");
    }
}

}  // namespace tavo

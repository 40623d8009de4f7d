#pragma once

#include <string>
#include <vector>

namespace tavo {

// The outcome of one played-out request.
struct SimulationResult {
    bool success = false;
    double latency_ms = 0.0;
    double final_fidelity = 0.0;  // 0.0 for every unsuccessful trial
    std::vector<std::string> execution_path;
};

}  // namespace tavo

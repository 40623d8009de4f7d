#pragma once

#include <string>
#include <vector>

#include "tavo/record.hpp"

namespace tavo {

// The outcome of one played-out request.
struct SimulationResult {
    bool success = false;
    double latency_ms = 0.0;
    double final_fidelity = 0.0;  // 0.0 for every unsuccessful trial
    std::vector<std::string> execution_path;
};

template <>
struct Fields<SimulationResult> {
    static constexpr std::string_view name = "SimulationResult";
    static constexpr std::string_view doc = R"(
        The outcome of one trial, as request_entanglement returns it.

        Not a module attribute at runtime (see the module documentation); the constructor builds
        one by hand, checking nothing.)";
    static constexpr auto list = std::tuple{
        field<&SimulationResult::success>({
            .name = "success",
            .doc = "Whether the trial delivered the target fidelity within its limits.",
        }),
        field<&SimulationResult::latency_ms>({
            .name = "latency_ms",
            .doc = R"(
                Simulated time the trial took, in ms. A success: 2.5 ms per cycle before the
                successful one plus 0.85 ms per purification step. A failure: 0.0 before the
                first cycle (no route, target out of reach), the propagation delay when that
                exceeded the budget, else the time when it ran out.)",
            .unit = "ms",
            .argument = "Simulated time the trial took, in ms.",
        }),
        field<&SimulationResult::final_fidelity>({
            .name = "final_fidelity",
            .doc = "Delivered fidelity, a fraction; 0.0 for every failure.",
        }),
        field<&SimulationResult::execution_path>({
            .name = "execution_path",
            .doc = R"(
                Node ids of the route used, source first (a new list); empty when there is no
                route.)",
        }),
    };
};

}  // namespace tavo

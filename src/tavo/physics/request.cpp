#include "tavo/physics/request.hpp"

#include <vector>

#include "tavo/interrupt.hpp"
#include "tavo/physics/plan.hpp"
#include "tavo/physics/trial.hpp"

namespace tavo {

SimulationResult play_physical_request(const QuantumNetwork& network,
                                       const SimulationConfig& config,
                                       const EntanglementRequest& request, ChaCha12Rng rng) {
    require_finite_limits(request, config);
    check_interrupt();  // many short requests in a row add up (a protocol's rounds)
    PhysicalPlan plan = plan_physical(network, config, *config.physics, request);
    PhysicalTrial trial(plan);
    std::vector<std::uint64_t> attempts(plan.hops.size());
    InterruptCountdown interrupt;
    const PhysicalTrialOutcome outcome = trial.play(rng, attempts.data(), interrupt);
    return SimulationResult{outcome.success, outcome.latency_ms, outcome.fidelity,
                            std::move(plan.path)};
}

}  // namespace tavo

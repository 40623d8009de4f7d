#pragma once
// A single request played on the physical model.

#include "tavo/network/config.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"
#include "tavo/random/chacha.hpp"
#include "tavo/scheduler/result.hpp"

namespace tavo {

// One trial of `request` on the configuration's physical model, drawing from `rng`. Refuses what
// the model cannot use, as an ensemble does.
SimulationResult play_physical_request(const QuantumNetwork& network,
                                       const SimulationConfig& config,
                                       const EntanglementRequest& request, ChaCha12Rng rng);

}  // namespace tavo

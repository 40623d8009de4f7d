#pragma once
// The context an ensemble records: everything needed to run it again.

#include <cstdint>
#include <optional>

#include "tavo/montecarlo/stats.hpp"
#include "tavo/network/config.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"

namespace tavo {

// The context of an ensemble of `request` run on `network` with `config`; `seed` as the caller gave
// it (none stays none).
PyMonteCarloContext make_context(const QuantumNetwork& network, const SimulationConfig& config,
                                 const EntanglementRequest& request,
                                 std::optional<std::uint64_t> seed);

// The network a context describes, link kinds included.
QuantumNetwork network_of(const PyMonteCarloContext& context);

}  // namespace tavo

#pragma once
// Saving an engine's network as a topology snapshot, and loading one back into an engine.

#include <string>

#include "tavo/engine/engine.hpp"
#include "tavo/snapshot/records.hpp"

namespace tavo {

// The snapshot of a network under an engine configuration: name "exported_topology", version
// "1.0", the nodes in the network's order of first definition, the links in list order with their
// own type and no satellite conditions (the network keeps none), and the config derived from the
// purify factor (alphaLoss = 10 x factor, gammaSwapping = factor).
TopologySnapshot make_snapshot(const QuantumNetwork& network, const SimulationConfig& config);

// The engine's snapshot; OperationFailed "No network defined. ..." without a network.
TopologySnapshot engine_snapshot(const TavoEngine& engine);

// Writes the engine's snapshot to `path`, replacing the file as a whole or not at all. Throws
// OperationFailed: "No network topology to save" (nothing is written), "Failed to write topology
// file: {system text}".
void save_topology(const TavoEngine& engine, const std::string& path);

// Replaces the engine's network with the one in the snapshot file at `path`; the configuration
// stays. Throws OperationFailed ("Failed to read topology file: {system text}", "Failed to parse
// topology JSON: {message}"), leaving the engine as it was.
void load_topology(TavoEngine& engine, const std::string& path);

}  // namespace tavo

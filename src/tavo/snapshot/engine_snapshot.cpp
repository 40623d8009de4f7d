#include "tavo/snapshot/engine_snapshot.hpp"

#include "json/error.hpp"
#include "tavo/error.hpp"
#include "tavo/io/file_io.hpp"
#include "tavo/network/network_definitions.hpp"
#include "tavo/snapshot/snapshot_format.hpp"

namespace tavo {

TopologySnapshot make_snapshot(const QuantumNetwork& network, const SimulationConfig& config) {
    TopologySnapshot snapshot;
    snapshot.metadata = TopologyMetadata{"exported_topology", "1.0"};
    snapshot.nodes = node_definitions(network);
    snapshot.links = link_definitions(network);
    const double factor = config.physical.baseline_purify_factor;
    snapshot.config = TopologyConfig{10.0 * factor, factor};
    return snapshot;
}

TopologySnapshot engine_snapshot(const TavoEngine& engine) {
    return make_snapshot(engine.network_or_fail(), engine.config());
}

void save_topology(const TavoEngine& engine, const std::string& path) {
    const QuantumNetwork* network = engine.network();
    if (!network) throw OperationFailed("No network topology to save");
    const std::string document = write_snapshot_document(make_snapshot(*network, engine.config()));
    try {
        io::write_atomically(path, document);
    } catch (const io::FileError& error) {
        throw OperationFailed(std::string("Failed to write topology file: ") + error.what());
    }
}

void load_topology(TavoEngine& engine, const std::string& path) {
    std::string text;
    try {
        text = io::read_text(path);
    } catch (const io::FileError& error) {
        throw OperationFailed(std::string("Failed to read topology file: ") + error.what());
    }
    TopologySnapshot snapshot;
    try {
        snapshot = parse_snapshot_document(text);
    } catch (const json::ParseError& error) {
        throw OperationFailed(std::string("Failed to parse topology JSON: ") + error.what());
    }
    // Built aside and swapped in whole, so a failure above leaves the engine's network in place.
    QuantumNetwork network;
    for (NodeDefinition& node : snapshot.nodes) {
        network.add_node(std::move(node.id), node.memory_lifetime_t2);
    }
    for (LinkDefinition& link : snapshot.links) {
        network.add_link(std::move(link.from_node), std::move(link.to), link.link_type,
                         link.distance_km, link.base_fidelity, link.generation_rate_hz);
    }
    engine.replace_network(std::move(network));
}

}  // namespace tavo

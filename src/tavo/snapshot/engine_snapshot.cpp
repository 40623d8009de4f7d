#include "tavo/snapshot/engine_snapshot.hpp"

#include "json/error.hpp"
#include "json/writer.hpp"
#include "tavo/error.hpp"
#include "tavo/io/file_io.hpp"
#include "tavo/snapshot/snapshot_format.hpp"

namespace tavo {
namespace {

// A file error of the system's stays one (FileFailed); the others are plain failures.
[[noreturn]] void fail_on_file(const std::string& message, const std::string& path,
                               const io::FileError& error) {
    if (error.code() != 0) throw FileFailed(message, path, error.code());
    throw OperationFailed(message);
}

}  // namespace

TopologySnapshot make_snapshot(const QuantumNetwork& network, const SimulationConfig& config) {
    TopologySnapshot snapshot;
    snapshot.metadata = TopologyMetadata{"exported_topology", "1.0"};
    snapshot.nodes = network.nodes();
    snapshot.links = network.links();
    const double factor = config.physical.baseline_purify_factor;
    snapshot.config = TopologyConfig{10.0 * factor, factor, config.physics};
    return snapshot;
}

TopologySnapshot engine_snapshot(const TavoEngine& engine) {
    return make_snapshot(engine.network_or_fail(), engine.config());
}

void save_topology(const TavoEngine& engine, const std::string& path) {
    const QuantumNetwork* network = engine.network();
    if (!network) throw OperationFailed("No network topology to save");
    // Refused before the file is touched: a NaN or an infinity would not read back.
    std::string document;
    try {
        document = write_snapshot_document(make_snapshot(*network, engine.config()), true);
    } catch (const json::NonFiniteNumber& error) {
        throw InvalidValue(error.what());
    }
    try {
        io::write_atomically(path, document);
    } catch (const io::FileError& error) {
        fail_on_file(std::string("Failed to write topology file: ") + error.what(), path, error);
    }
}

void load_topology(TavoEngine& engine, const std::string& path) {
    std::string text;
    try {
        text = io::read_text(path);
    } catch (const io::FileError& error) {
        fail_on_file(std::string("Failed to read topology file: ") + error.what(), path, error);
    }
    TopologySnapshot snapshot;
    try {
        snapshot = parse_snapshot_document(text);
    } catch (const json::ParseError& error) {
        throw OperationFailed(std::string("Failed to parse topology JSON: ") + error.what());
    }
    // Built aside and swapped in whole, so a failure above leaves the engine's network in place.
    QuantumNetwork network;
    for (NodeDefinition& node : snapshot.nodes) network.add_node(std::move(node));
    for (LinkDefinition& link : snapshot.links) network.add_link(std::move(link));
    engine.replace_network(std::move(network));
}

}  // namespace tavo

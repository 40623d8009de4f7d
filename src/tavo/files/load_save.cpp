#include "tavo/files/load_save.hpp"

#include <utility>

#include "json/error.hpp"
#include "json/writer.hpp"
#include "tavo/error.hpp"
#include "tavo/files/tavo_format.hpp"
#include "tavo/io/file_io.hpp"

namespace tavo {

TavoError::TavoError(Kind kind, std::string message, std::optional<ValidationResult> validation)
    : kind_(kind), message_(std::move(message)), validation_(std::move(validation)) {}

TavoError TavoError::io(const std::string& system_text, int code) {
    TavoError error(Kind::Io, "IO error: " + system_text);
    error.code_ = code;
    return error;
}

TavoError TavoError::parse(const std::string& json_message) {
    return TavoError(Kind::Parse, "JSON parse error: " + json_message);
}

TavoError TavoError::validation(ValidationResult result) {
    std::string message = "Validation failed:\n" + result.generate_report();
    return TavoError(Kind::Validation, std::move(message), std::move(result));
}

TavoError TavoError::unsupported_version(const std::string& version) {
    return TavoError(Kind::UnsupportedVersion, "Unsupported tavo version: " + version);
}

TavoFile read_tavo_file(const std::string& path) {
    std::string text;
    try {
        text = io::read_text(path);
    } catch (const io::FileError& error) {
        throw TavoError::io(error.what(), error.code());
    }
    TavoFile file;
    try {
        file = parse_tavo_document(text);
    } catch (const json::ParseError& error) {
        throw TavoError::parse(error.what());
    }
    if (file.version != kTavoVersion) throw TavoError::unsupported_version(file.version);
    // What the format skips of the extensions section stays with the file for its user.
    if (file.extensions) file.extensions->section = read_extensions_section(text);
    return file;
}

TavoFile load_tavo_file(const std::string& path) {
    TavoFile file = read_tavo_file(path);
    ValidationResult result = TavoValidator::validate_all(file);
    if (!result.valid) throw TavoError::validation(std::move(result));
    return file;
}

void save_tavo_file(const std::string& path, const TavoFile& file) {
    // The document is complete in memory before the file system is touched. A number that would
    // not read back (NaN, an infinity) is refused here, leaving the previous file as it was.
    std::string text;
    try {
        text = write_tavo_document(file, /*finite_only=*/true);
    } catch (const json::NonFiniteNumber& error) {
        throw InvalidValue(error.what());
    }
    try {
        io::write_atomically(path, text);
    } catch (const io::FileError& error) {
        throw TavoError::io(error.what(), error.code());
    }
}

LinkType network_link_type(TavoLinkType type) {
    // No default: a new kind of link must be mapped here, and the compiler says so.
    switch (type) {
        case TavoLinkType::Fiber: return LinkType::Fiber;
        case TavoLinkType::Satellite: return LinkType::Satellite;
    }
    throw Panic("unknown link type in a topology file record");
}

NodeDefinition to_node_definition(const TavoNode& node) {
    return NodeDefinition{node.id, node.memory_lifetime_ms ? *node.memory_lifetime_ms / 1000.0 : 1.0};
}

LinkDefinition to_link_definition(const TavoLink& link) {
    LinkDefinition definition;
    definition.from_node = link.src;
    definition.to = link.to;
    definition.distance_km = link.distance_km;
    definition.base_fidelity = link.base_fidelity;
    definition.generation_rate_hz = link.generation_rate_hz;
    definition.link_type = link.link_type ? network_link_type(*link.link_type) : LinkType::Fiber;
    if (link.satellite) {
        definition.satellite_conditions =
            SatelliteConditions{link.satellite->visibility, link.satellite->weather_factor};
    }
    return definition;
}

std::vector<NodeDefinition> to_node_definitions(const std::vector<TavoNode>& nodes) {
    std::vector<NodeDefinition> definitions;
    definitions.reserve(nodes.size());
    for (const auto& node : nodes) definitions.push_back(to_node_definition(node));
    return definitions;
}

std::vector<LinkDefinition> to_link_definitions(const std::vector<TavoLink>& links) {
    std::vector<LinkDefinition> definitions;
    definitions.reserve(links.size());
    for (const auto& link : links) definitions.push_back(to_link_definition(link));
    return definitions;
}

SimulationConfig simulation_config_from(const std::optional<TavoConfig>& config) {
    SimulationConfig result = SimulationConfig::engine_default();
    if (config) {
        // A config section brings its own fallback purify factor, unlike a file without one.
        result.physical.baseline_purify_factor = config->alpha_loss ? *config->alpha_loss / 10.0 : 0.22;
        result.total_time_cutoff_ms =
            config->max_attempts ? double(*config->max_attempts) * 50.0 : 5000.0;
        result.physics = config->physics;
    }
    result.physical.speed_of_light_in_fiber_km_ms = 200.0;
    result.step_resolution_ms = 0.1;
    return result;
}

void define_network_from_tavo(TavoEngine& engine, const TavoFile& file) {
    engine.define_network(to_node_definitions(file.nodes), to_link_definitions(file.links));
}

std::string load_failure_text(const std::string& path, const TavoError& error) {
    return "Failed to load " + path + ": " + error.message();
}

namespace {

// The failure the module reports: a file error of the system's stays one (FileFailed).
[[noreturn]] void fail(const std::string& message, const std::string& path,
                       const TavoError& error) {
    if (error.kind() == TavoError::Kind::Io && error.code() != 0) {
        throw FileFailed(message, path, error.code());
    }
    throw OperationFailed(message);
}

}  // namespace

TavoFile load_tavo_file_or_fail(const std::string& path) {
    try {
        return load_tavo_file(path);
    } catch (const TavoError& error) {
        fail(load_failure_text(path, error), path, error);
    }
}

void save_tavo_file_or_fail(const std::string& path, const TavoFile& file) {
    try {
        save_tavo_file(path, file);
    } catch (const TavoError& error) {
        fail(error.message(), path, error);
    }
}

ValidationResult validate_tavo_file_or_fail(const std::string& path) {
    TavoFile file;
    try {
        file = read_tavo_file(path);
    } catch (const TavoError& error) {
        fail(load_failure_text(path, error), path, error);
    }
    return TavoValidator::validate_all(file);
}

TavoEngine engine_from_tavo_file(const std::string& path) {
    TavoFile file = load_tavo_file_or_fail(path);
    TavoEngine engine(simulation_config_from(file.config));
    define_network_from_tavo(engine, file);
    return engine;
}

}  // namespace tavo

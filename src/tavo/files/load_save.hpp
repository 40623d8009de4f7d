#pragma once
// Loading and saving topology files, and turning a loaded file into what the engine is built from.

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "tavo/engine/engine.hpp"
#include "tavo/files/records.hpp"
#include "tavo/files/validation.hpp"
#include "tavo/network/config.hpp"
#include "tavo/network/definitions.hpp"

namespace tavo {

// Why a file could not be loaded or saved. what() is the full text callers show:
//   Io                  "IO error: {system text}"
//   Parse               "JSON parse error: {message} at line L column C"
//   Validation          "Validation failed:\n{report}"
//   UnsupportedVersion  "Unsupported tavo version: {version}"
class TavoError : public std::exception {
public:
    enum class Kind { Io, Parse, Validation, UnsupportedVersion };

    // `code`: the system's error number, 0 when the failure has none (invalid UTF-8, NUL in path).
    static TavoError io(const std::string& system_text, int code = 0);
    static TavoError parse(const std::string& json_message);
    static TavoError validation(ValidationResult result);
    static TavoError unsupported_version(const std::string& version);

    Kind kind() const noexcept { return kind_; }
    int code() const noexcept { return code_; }
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    // The findings behind a Validation error; null for the other kinds.
    const ValidationResult* validation_result() const noexcept {
        return validation_ ? &*validation_ : nullptr;
    }

private:
    TavoError(Kind kind, std::string message, std::optional<ValidationResult> validation = {});

    Kind kind_;
    int code_ = 0;
    std::string message_;
    std::optional<ValidationResult> validation_;
};

// The only version a loader accepts.
inline constexpr const char* kTavoVersion = "1.0";

// Reads, parses and version-checks a file, without validating it. Throws TavoError (Io, Parse,
// UnsupportedVersion).
TavoFile read_tavo_file(const std::string& path);

// read_tavo_file, then validation: a file with any finding is refused (TavoError::Kind::Validation).
TavoFile load_tavo_file(const std::string& path);

// Writes the record as it is (no validation, no version check). The previous file survives any
// failure. Throws TavoError (Io).
void save_tavo_file(const std::string& path, const TavoFile& file);

// The engine-facing forms of a file's parts. A node's lifetime in ms becomes seconds (1.0 when the
// file gives none); a link keeps its endpoints and numbers, is a satellite link only when the file
// says so, and carries satellite conditions exactly when it has a satellite section.
LinkType network_link_type(TavoLinkType type);
NodeDefinition to_node_definition(const TavoNode& node);
LinkDefinition to_link_definition(const TavoLink& link);
std::vector<NodeDefinition> to_node_definitions(const std::vector<TavoNode>& nodes);
std::vector<LinkDefinition> to_link_definitions(const std::vector<TavoLink>& links);

// The configuration an engine built from a file runs with. Without a config section it is the
// engine default; with one, the purify factor comes from alpha_loss (0.22 when absent), the time
// cutoff from max_attempts (5000 ms when absent) and the physical model from physics.
SimulationConfig simulation_config_from(const std::optional<TavoConfig>& config);

// Replaces the engine's network with the file's nodes and links; the engine's configuration and the
// file's other sections play no part.
void define_network_from_tavo(TavoEngine& engine, const TavoFile& file);

// What a caller shows for a failed load: "Failed to load {path}: {error}".
std::string load_failure_text(const std::string& path, const TavoError& error);

// The operations as the module offers them, every failure an OperationFailed carrying the text the
// user sees. Loading failures read "Failed to load {path}: {error}"; a failed save shows the error
// alone.
TavoFile load_tavo_file_or_fail(const std::string& path);
void save_tavo_file_or_fail(const std::string& path, const TavoFile& file);
// Read, parse and version problems fail; findings are returned.
ValidationResult validate_tavo_file_or_fail(const std::string& path);
// A new engine configured by the file's config section, with the file's network defined.
TavoEngine engine_from_tavo_file(const std::string& path);

}  // namespace tavo

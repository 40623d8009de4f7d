#pragma once
// Structural and physical checks of a topology file: unique node ids, links between known and
// distinct nodes, positive distances and rates, fidelities in (0, 1], a connected graph, and the
// ranges of the physical model's fields.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tavo/files/records.hpp"

namespace tavo {

struct ValidationError {
    struct DuplicateNodeId {
        std::string id;
    };
    struct UnknownNodeReference {
        std::string node;
        std::optional<std::string> link;
    };
    struct SelfLoop {
        std::string link;
    };
    struct InvalidDistance {
        std::string link;
        double distance;
    };
    struct InvalidFidelity {
        std::string link;
        double fidelity;
    };
    struct InvalidGenerationRate {
        std::string link;
        double rate;
    };
    struct GraphDisconnected {
        std::uint64_t components;
    };
    // A field of the config section's physical model out of its range.
    struct InvalidPhysicsValue {
        std::string field;
        double value;
        std::string rule;  // "in (0, 1]", ...
    };
    using Kind = std::variant<DuplicateNodeId, UnknownNodeReference, SelfLoop, InvalidDistance,
                              InvalidFidelity, InvalidGenerationRate, GraphDisconnected,
                              InvalidPhysicsValue>;

    Kind kind;
    // Where in the file, shown as " [path]" when present: "config.physics.detector_efficiency"
    // for the physical model's fields; the other checks set none.
    std::optional<std::string> path;

    // "Duplicate node ID: A", "Graph is disconnected with 2 components", ...
    std::string message() const;
    // The short classification: "DuplicateNodeId: A", "UnknownNodeReference: Z[L2]", ...
    std::string type_text() const;
};

struct ValidationWarning {
    std::string message;
    std::optional<std::string> path;
};

struct ValidationResult {
    std::vector<ValidationError> errors;
    std::vector<ValidationWarning> warnings;
    bool valid = true;

    // "Validation passed.\n" or "Validation failed.\n", then the errors and warnings as bullet lists.
    std::string generate_report() const;
};

class TavoValidator {
public:
    // Node pass, link pass, connectivity pass, physical model; errors in that order. Never fails.
    static ValidationResult validate_all(const TavoFile& file);
};

}  // namespace tavo

#include "tavo/files/validation.hpp"

#include <numeric>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "text/forms.hpp"

namespace tavo {
namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

std::string path_suffix(const std::optional<std::string>& path) {
    return path ? " [" + *path + "]" : std::string();
}

const std::string& link_name(const TavoLink& link) {
    static const std::string unknown = "unknown";
    return link.id ? *link.id : unknown;
}

// Disjoint sets over the node vertices, for counting connected components.
class Components {
public:
    explicit Components(std::size_t count) : parent_(count), remaining_(count) {
        std::iota(parent_.begin(), parent_.end(), std::size_t{0});
    }

    void join(std::size_t a, std::size_t b) {
        a = root(a);
        b = root(b);
        if (a == b) return;
        parent_[a] = b;
        --remaining_;
    }

    std::size_t count() const { return remaining_; }

private:
    std::size_t root(std::size_t vertex) {
        while (parent_[vertex] != vertex) {
            parent_[vertex] = parent_[parent_[vertex]];
            vertex = parent_[vertex];
        }
        return vertex;
    }

    std::vector<std::size_t> parent_;
    std::size_t remaining_;
};

void check_nodes(const TavoFile& file, std::vector<ValidationError>& errors) {
    std::unordered_set<std::string_view> seen;
    for (const auto& node : file.nodes) {
        if (!seen.insert(node.id).second) {
            errors.push_back({ValidationError::DuplicateNodeId{node.id}, std::nullopt});
        }
    }
}

void check_links(const TavoFile& file, std::vector<ValidationError>& errors) {
    std::unordered_set<std::string_view> ids;
    for (const auto& node : file.nodes) ids.insert(node.id);
    for (const auto& link : file.links) {
        if (link.src == link.to) {
            errors.push_back({ValidationError::SelfLoop{link_name(link)}, std::nullopt});
        }
        if (!ids.contains(link.src)) {
            errors.push_back({ValidationError::UnknownNodeReference{link.src, link.id}, std::nullopt});
        }
        if (!ids.contains(link.to)) {
            errors.push_back({ValidationError::UnknownNodeReference{link.to, link.id}, std::nullopt});
        }
        // Written as negated comparisons on purpose: a NaN distance or rate is not refused, while a
        // NaN fidelity is.
        if (link.distance_km <= 0.0) {
            errors.push_back(
                {ValidationError::InvalidDistance{link_name(link), link.distance_km}, std::nullopt});
        }
        if (!(link.base_fidelity > 0.0 && link.base_fidelity <= 1.0)) {
            errors.push_back(
                {ValidationError::InvalidFidelity{link_name(link), link.base_fidelity}, std::nullopt});
        }
        if (link.generation_rate_hz <= 0.0) {
            errors.push_back({ValidationError::InvalidGenerationRate{link_name(link),
                                                                     link.generation_rate_hz},
                              std::nullopt});
        }
    }
}

void check_connectivity(const TavoFile& file, std::vector<ValidationError>& errors) {
    // One vertex per node entry; a repeated id resolves to its last entry.
    std::unordered_map<std::string_view, std::size_t> vertex_of;
    for (std::size_t i = 0; i < file.nodes.size(); ++i) vertex_of[file.nodes[i].id] = i;
    Components components(file.nodes.size());
    for (const auto& link : file.links) {
        auto from = vertex_of.find(link.src);
        auto to = vertex_of.find(link.to);
        if (from != vertex_of.end() && to != vertex_of.end()) components.join(from->second, to->second);
    }
    if (components.count() > 1) {
        errors.push_back({ValidationError::GraphDisconnected{components.count()}, std::nullopt});
    }
}

void check_physics(const TavoFile& file, std::vector<ValidationError>& errors) {
    if (!file.config || !file.config->physics) return;
    for (const ModelFieldProblem& problem : physical_model_problems(*file.config->physics)) {
        const std::string field(problem.field);
        errors.push_back(
            {ValidationError::InvalidPhysicsValue{field, problem.value, std::string(problem.rule)},
             "config.physics." + field});
    }
}

// Values a file may hold but that are outside their physical range: warnings, so that every file
// that loads keeps loading. Written as negated comparisons so that a NaN is reported too.
void check_ranges(const TavoFile& file, std::vector<ValidationWarning>& warnings) {
    auto warn = [&](std::string message, std::string path) {
        warnings.push_back({std::move(message), std::move(path)});
    };
    auto fraction = [](double x) { return x >= 0.0 && x <= 1.0; };
    for (std::size_t i = 0; i < file.nodes.size(); ++i) {
        const TavoNode& node = file.nodes[i];
        if (node.memory_lifetime_ms && !(*node.memory_lifetime_ms > 0.0)) {
            warn("Memory lifetime " + text::plain(*node.memory_lifetime_ms) + " ms of node '" +
                     node.id + "' is not positive",
                 "nodes[" + std::to_string(i) + "].memory_lifetime_ms");
        }
    }
    for (std::size_t i = 0; i < file.links.size(); ++i) {
        const TavoLink& link = file.links[i];
        if (!link.satellite) continue;
        const std::string at = "links[" + std::to_string(i) + "].satellite.";
        if (!fraction(link.satellite->visibility)) {
            warn("Visibility " + text::plain(link.satellite->visibility) + " of link '" +
                     link_name(link) + "' is outside 0..1",
                 at + "visibility");
        }
        if (!fraction(link.satellite->weather_factor)) {
            warn("Weather factor " + text::plain(link.satellite->weather_factor) + " of link '" +
                     link_name(link) + "' is outside 0..1",
                 at + "weather_factor");
        }
    }
    if (file.config && file.config->alpha_loss && !(*file.config->alpha_loss >= 0.0)) {
        warn("Fiber attenuation " + text::plain(*file.config->alpha_loss) + " dB/km is negative",
             "config.alpha_loss");
    }
    if (file.constraints) {
        if (const auto& target = file.constraints->fidelity_target; target && !fraction(*target)) {
            warn("Fidelity target " + text::plain(*target) + " is outside 0..1",
                 "constraints.fidelity_target");
        }
        if (const auto& budget = file.constraints->max_latency_ms; budget && !(*budget > 0.0)) {
            warn("Latency budget " + text::plain(*budget) + " ms is not positive",
                 "constraints.max_latency_ms");
        }
    }
}

}  // namespace

std::string ValidationError::message() const {
    const std::string p = path_suffix(path);
    return std::visit(
        Overloaded{
            [&](const DuplicateNodeId& e) { return "Duplicate node ID: " + e.id + p; },
            [&](const UnknownNodeReference& e) {
                std::string in_link = e.link ? " in link '" + *e.link + "'" : std::string();
                return "Unknown node reference '" + e.node + "'" + in_link + p;
            },
            [&](const SelfLoop& e) { return "Self-loop detected in link '" + e.link + "'"; },
            [&](const InvalidDistance& e) {
                return "Invalid distance " + text::plain(e.distance) + " km for link '" + e.link +
                       "' (must be > 0)" + p;
            },
            [&](const InvalidFidelity& e) {
                return "Invalid fidelity " + text::plain(e.fidelity) + " for link '" + e.link +
                       "' (must be 0 < x <= 1)" + p;
            },
            [&](const InvalidGenerationRate& e) {
                return "Invalid generation rate " + text::plain(e.rate) + " Hz for link '" + e.link +
                       "' (must be > 0)" + p;
            },
            [&](const GraphDisconnected& e) {
                return "Graph is disconnected with " + std::to_string(e.components) + " components" +
                       p;
            },
            [&](const InvalidPhysicsValue& e) {
                return "Invalid " + e.field + " " + text::plain(e.value) + " (must be " + e.rule +
                       ")" + p;
            },
        },
        kind);
}

std::string ValidationError::type_text() const {
    return std::visit(
        Overloaded{
            [](const DuplicateNodeId& e) { return "DuplicateNodeId: " + e.id; },
            [](const UnknownNodeReference& e) {
                return "UnknownNodeReference: " + e.node + (e.link ? "[" + *e.link + "]" : "");
            },
            [](const SelfLoop& e) { return "SelfLoop: " + e.link; },
            [](const InvalidDistance& e) {
                return "InvalidDistance: " + text::plain(e.distance) + " km for link '" + e.link + "'";
            },
            [](const InvalidFidelity& e) {
                return "InvalidFidelity: " + text::plain(e.fidelity) + " for link '" + e.link + "'";
            },
            [](const InvalidGenerationRate& e) {
                return "InvalidGenerationRate: " + text::plain(e.rate) + " Hz for link '" + e.link +
                       "'";
            },
            [](const GraphDisconnected& e) {
                return "GraphDisconnected: " + std::to_string(e.components) + " components";
            },
            [](const InvalidPhysicsValue& e) {
                return "InvalidPhysicsValue: " + e.field + " " + text::plain(e.value);
            },
        },
        kind);
}

std::string ValidationResult::generate_report() const {
    std::string report = valid ? "Validation passed.\n" : "Validation failed.\n";
    if (!errors.empty()) {
        report += "\nErrors:\n";
        for (const auto& error : errors) report += "   - " + error.message() + "\n";
    }
    if (!warnings.empty()) {
        report += "\nWarnings:\n";
        for (const auto& warning : warnings) {
            report += "   - " + warning.message + " [" + warning.path.value_or("unknown") + "]\n";
        }
    }
    return report;
}

ValidationResult TavoValidator::validate_all(const TavoFile& file) {
    ValidationResult result;
    check_nodes(file, result.errors);
    check_links(file, result.errors);
    check_connectivity(file, result.errors);
    check_physics(file, result.errors);
    check_ranges(file, result.warnings);
    result.valid = result.errors.empty();
    return result;
}

}  // namespace tavo

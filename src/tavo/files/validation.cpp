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
    result.valid = result.errors.empty();
    return result;
}

}  // namespace tavo

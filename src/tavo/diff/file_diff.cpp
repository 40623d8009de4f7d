#include "tavo/diff/file_diff.hpp"

#include "tavo/diff/keyed_changes.hpp"
#include "tavo/network/link_key.hpp"
#include "text/forms.hpp"

namespace tavo {
namespace {

using diff_detail::KeyedEntries;

// Records a change when the two values differ; tells whether it did.
template <class T>
bool compare_field(Change<T>& change, const T& old_value, const T& new_value) {
    if (old_value == new_value) return false;
    change.emplace(old_value, new_value);
    return true;
}

std::optional<MetadataDiff> diff_metadata(const TavoMetadata& a, const TavoMetadata& b) {
    MetadataDiff diff;
    bool changed = compare_field(diff.name, a.name, b.name);
    changed |= compare_field(diff.description, a.description, b.description);
    changed |= compare_field(diff.author, a.author, b.author);
    changed |= compare_field(diff.created_at, a.created_at, b.created_at);
    if (!changed) return std::nullopt;
    return diff;
}

// A section missing on one side compares as a section whose fields are all absent, and then every
// field counts as changed, even one absent on both sides.
template <class Section, class Diff, class CompareFields>
std::optional<Diff> diff_section(const std::optional<Section>& a, const std::optional<Section>& b,
                                 CompareFields compare_fields) {
    if (!a && !b) return std::nullopt;
    Diff diff;
    const bool changed = compare_fields(diff, a.value_or(Section{}), b.value_or(Section{}),
                                        /*every_field=*/!a || !b);
    if (!changed) return std::nullopt;
    return diff;
}

template <class T>
bool compare_section_field(Change<T>& change, const T& a, const T& b, bool every_field) {
    if (every_field) {
        change.emplace(a, b);
        return true;
    }
    return compare_field(change, a, b);
}

bool compare_config(ConfigDiff& diff, const TavoConfig& a, const TavoConfig& b, bool every_field) {
    bool changed = compare_section_field(diff.alpha_loss, a.alpha_loss, b.alpha_loss, every_field);
    changed |= compare_section_field(diff.beta_fidelity_decay, a.beta_fidelity_decay,
                                     b.beta_fidelity_decay, every_field);
    changed |= compare_section_field(diff.gamma_swapping, a.gamma_swapping, b.gamma_swapping,
                                     every_field);
    changed |= compare_section_field(diff.max_attempts, a.max_attempts, b.max_attempts,
                                     every_field);
    changed |= compare_section_field(diff.physics, a.physics, b.physics, every_field);
    return changed;
}

bool compare_constraints(ConstraintsDiff& diff, const TavoConstraints& a, const TavoConstraints& b,
                         bool every_field) {
    bool changed = compare_section_field(diff.fidelity_target, a.fidelity_target,
                                         b.fidelity_target, every_field);
    changed |= compare_section_field(diff.max_latency_ms, a.max_latency_ms, b.max_latency_ms,
                                     every_field);
    return changed;
}

KeyedEntries<TavoNode> nodes_by_id(const TavoFile& file) {
    KeyedEntries<TavoNode> nodes;
    for (const TavoNode& node : file.nodes) nodes.insert(node.id, node);
    return nodes;
}

KeyedEntries<TavoLink> links_by_key(const TavoFile& file) {
    KeyedEntries<TavoLink> links;
    for (const TavoLink& link : file.links) {
        links.insert(link_key(link.src, link.to), link);
    }
    return links;
}

// Both absent, or both present with equal `custom` values (structural JSON equality).
bool extensions_equal(const std::optional<TavoExtensions>& a,
                      const std::optional<TavoExtensions>& b) {
    if (!a || !b) return !a && !b;
    if (!a->custom || !b->custom) return !a->custom && !b->custom;
    return *a->custom == *b->custom;
}

void append_list_line(std::string& out, const char* label, const std::vector<std::string>& keys) {
    if (keys.empty()) return;
    out.append("  ").append(label).append(": ").append(std::to_string(keys.size())).append(" (");
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) out.append(", ");
        out.append(keys[i]);
    }
    out.append(")\n");
}

void append_float_change(std::string& out, const char* field,
                         const Change<std::optional<double>>& change) {
    if (!change) return;
    out.append("     - ").append(field).append(": ");
    out.append(text::debug_optional(change->first)).append(" -> ");
    out.append(text::debug_optional(change->second)).append("\n");
}

// The physical model: each field that changed, or the whole model when one side has none.
void append_physics_change(std::string& out, const Change<std::optional<PhysicalModel>>& change) {
    if (!change) return;
    const auto& [before, after] = *change;
    auto shown = [](const std::optional<PhysicalModel>& model) {
        return model ? repr(*model) : std::string("None");
    };
    if (!before || !after) {
        out.append("     - physics: ").append(shown(before)).append(" -> ");
        out.append(shown(after)).append("\n");
        return;
    }
    for (std::string_view field : changed_fields(*before, *after)) {
        out.append("     - physics.").append(field).append(": ");
        out.append(field_text(*before, field)).append(" -> ");
        out.append(field_text(*after, field)).append("\n");
    }
}

// Only some changes get a detail line of their own; the others show through their heading.
std::string summary_of(const FileDiff& diff) {
    std::string out = "Diff between '" + diff.first_path + "' and '" + diff.second_path + "':\n";
    if (diff.version) {
        out += "  Version: " + diff.version->first + " -> " + diff.version->second + "\n";
    }
    if (diff.metadata) {
        out += "  Metadata changes:\n";
        if (const auto& name = diff.metadata->name) {
            out += "     - name: '" + name->first + "' -> '" + name->second + "'\n";
        }
    }
    append_list_line(out, "Nodes added", diff.nodes_added);
    append_list_line(out, "Nodes removed", diff.nodes_removed);
    append_list_line(out, "Nodes modified", diff.nodes_modified);
    append_list_line(out, "Links added", diff.links_added);
    append_list_line(out, "Links removed", diff.links_removed);
    append_list_line(out, "Links modified", diff.links_modified);
    if (diff.config) {
        out += "  Config changes:\n";
        append_float_change(out, "alpha_loss", diff.config->alpha_loss);
        append_physics_change(out, diff.config->physics);
    }
    if (diff.constraints) {
        out += "  Constraints changes:\n";
        append_float_change(out, "fidelity_target", diff.constraints->fidelity_target);
    }
    if (diff.extensions_changed) out += "  Extensions changed\n";
    return out;
}

}  // namespace

FileDiff diff_files(const std::string& first_path, const std::string& second_path,
                    const TavoFile& first, const TavoFile& second) {
    FileDiff diff;
    diff.first_path = first_path;
    diff.second_path = second_path;
    compare_field(diff.version, first.version, second.version);
    diff.metadata = diff_metadata(first.metadata, second.metadata);

    auto nodes = diff_detail::compare_keyed(
        nodes_by_id(first), nodes_by_id(second),
        [](const TavoNode& a, const TavoNode& b) { return !(a == b); });
    diff.nodes_added = std::move(nodes.added);
    diff.nodes_removed = std::move(nodes.removed);
    diff.nodes_modified = std::move(nodes.modified);

    auto links = diff_detail::compare_keyed(
        links_by_key(first), links_by_key(second),
        [](const TavoLink& a, const TavoLink& b) { return !(a == b); });
    diff.links_added = std::move(links.added);
    diff.links_removed = std::move(links.removed);
    diff.links_modified = std::move(links.modified);

    diff.config = diff_section<TavoConfig, ConfigDiff>(first.config, second.config, compare_config);
    diff.constraints = diff_section<TavoConstraints, ConstraintsDiff>(
        first.constraints, second.constraints, compare_constraints);
    diff.extensions_changed = !extensions_equal(first.extensions, second.extensions);
    diff.summary = summary_of(diff);
    return diff;
}

}  // namespace tavo

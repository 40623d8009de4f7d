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

template <class Section>
std::optional<SectionChange<Section>> diff_record(const Section& a, const Section& b) {
    std::vector<std::string_view> fields = changed_fields(a, b);
    if (fields.empty()) return std::nullopt;
    return SectionChange<Section>{std::move(fields), a, b};
}

// A section missing on one side compares as a section whose fields are all absent, and then every
// field counts as changed, even one absent on both sides.
template <class Section>
std::optional<SectionChange<Section>> diff_section(const std::optional<Section>& a,
                                                   const std::optional<Section>& b) {
    if (!a && !b) return std::nullopt;
    if (a && b) return diff_record(*a, *b);
    SectionChange<Section> change{{}, a.value_or(Section{}), b.value_or(Section{})};
    for_each_field<Section>([&](const auto& row) { change.fields.push_back(row.name); });
    return change;
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

// The members of a section other than `custom` (none when the whole section is not known).
std::vector<json::Member> other_members(const TavoExtensions& extensions) {
    std::vector<json::Member> others;
    if (extensions.section && extensions.section->kind() == json::Value::Kind::Object) {
        for (const json::Member& member : extensions.section->as_object()) {
            if (member.key != "custom") others.push_back(member);
        }
    }
    return others;
}

// Both absent, or both present with equal `custom` values (structural JSON equality; a null custom
// is none) and equal other members (objects keep their members in key order, so their order in
// the files does not matter).
bool extensions_equal(const std::optional<TavoExtensions>& a,
                      const std::optional<TavoExtensions>& b) {
    if (!a || !b) return !a && !b;
    if (other_members(*a) != other_members(*b)) return false;
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

void append_float_change(std::string& out, const char* field, const std::optional<double>& before,
                         const std::optional<double>& after) {
    out.append("     - ").append(field).append(": ");
    out.append(text::debug_optional(before)).append(" -> ");
    out.append(text::debug_optional(after)).append("\n");
}

// The physical model: each field that changed, or the whole model when one side has none.
void append_physics_change(std::string& out, const std::optional<PhysicalModel>& before,
                           const std::optional<PhysicalModel>& after) {
    if (!before || !after) {
        auto shown = [](const std::optional<PhysicalModel>& model) {
            return model ? repr(*model) : std::string("None");
        };
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
        if (diff.metadata->changed("name")) {
            out += "     - name: '" + diff.metadata->before.name + "' -> '" +
                   diff.metadata->after.name + "'\n";
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
        if (diff.config->changed("alpha_loss")) {
            append_float_change(out, "alpha_loss", diff.config->before.alpha_loss,
                                diff.config->after.alpha_loss);
        }
        // A section on one side only changes every field, but a model absent from both
        // says nothing.
        if (diff.config->changed("physics") &&
            !same_value(diff.config->before.physics, diff.config->after.physics)) {
            append_physics_change(out, diff.config->before.physics, diff.config->after.physics);
        }
    }
    if (diff.constraints) {
        out += "  Constraints changes:\n";
        if (diff.constraints->changed("fidelity_target")) {
            append_float_change(out, "fidelity_target", diff.constraints->before.fidelity_target,
                                diff.constraints->after.fidelity_target);
        }
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
    diff.metadata = diff_record(first.metadata, second.metadata);

    auto nodes = diff_detail::compare_keyed(
        nodes_by_id(first), nodes_by_id(second),
        [](const TavoNode& a, const TavoNode& b) { return !same_fields(a, b); });
    diff.nodes_added = std::move(nodes.added);
    diff.nodes_removed = std::move(nodes.removed);
    diff.nodes_modified = std::move(nodes.modified);

    auto links = diff_detail::compare_keyed(
        links_by_key(first), links_by_key(second),
        [](const TavoLink& a, const TavoLink& b) { return !same_fields(a, b); });
    diff.links_added = std::move(links.added);
    diff.links_removed = std::move(links.removed);
    diff.links_modified = std::move(links.modified);

    diff.config = diff_section(first.config, second.config);
    diff.constraints = diff_section(first.constraints, second.constraints);
    diff.extensions_changed = !extensions_equal(first.extensions, second.extensions);
    diff.summary = summary_of(diff);
    return diff;
}

}  // namespace tavo

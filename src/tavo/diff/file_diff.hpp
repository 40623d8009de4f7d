#pragma once
// Comparing two topology files: what changed from the first to the second.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tavo/files/records.hpp"

namespace tavo {

// (old, new) of one field that differs.
template <class T>
using Change = std::optional<std::pair<T, T>>;

struct MetadataDiff {
    Change<std::string> name;
    Change<std::optional<std::string>> description;
    Change<std::optional<std::string>> author;
    Change<std::optional<std::string>> created_at;
};

struct ConfigDiff {
    Change<std::optional<double>> alpha_loss;
    Change<std::optional<double>> beta_fidelity_decay;
    Change<std::optional<double>> gamma_swapping;
    Change<std::optional<std::uint32_t>> max_attempts;
    Change<std::optional<PhysicalModel>> physics;
};

struct ConstraintsDiff {
    Change<std::optional<double>> fidelity_target;
    Change<std::optional<double>> max_latency_ms;
};

struct FileDiff {
    std::string first_path;
    std::string second_path;
    Change<std::string> version;
    std::optional<MetadataDiff> metadata;
    std::vector<std::string> nodes_added;
    std::vector<std::string> nodes_removed;
    std::vector<std::string> nodes_modified;
    std::vector<std::string> links_added;  // link keys "{from}->{to}"
    std::vector<std::string> links_removed;
    std::vector<std::string> links_modified;
    std::optional<ConfigDiff> config;
    std::optional<ConstraintsDiff> constraints;
    bool extensions_changed = false;
    std::string summary;
};

// Compares two loaded files; the paths only label the summary. Values compare exactly (a NaN never
// equals anything); nodes are matched by id and links by key, the last entry of a repeated one
// being compared. Removed and modified entries come in the first file's order, added ones in the
// second's. A config or constraints section present on one side only gives a change of every field.
FileDiff diff_files(const std::string& first_path, const std::string& second_path,
                    const TavoFile& first, const TavoFile& second);

}  // namespace tavo

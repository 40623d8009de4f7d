#pragma once
// Comparing two topology files: what changed from the first to the second.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tavo/files/records.hpp"

namespace tavo {

// (old, new) of one field that differs.
template <class T>
using Change = std::optional<std::pair<T, T>>;

// A section of the file that changed: the names of the fields that differ, in the order of the
// section's table, and the section on both sides (one with every field absent for a side that has
// no such section).
template <class Section>
struct SectionChange {
    std::vector<std::string_view> fields;
    Section before;
    Section after;

    bool changed(std::string_view field) const {
        for (std::string_view name : fields) {
            if (name == field) return true;
        }
        return false;
    }
};

struct FileDiff {
    std::string first_path;
    std::string second_path;
    Change<std::string> version;
    std::optional<SectionChange<TavoMetadata>> metadata;
    std::vector<std::string> nodes_added;
    std::vector<std::string> nodes_removed;
    std::vector<std::string> nodes_modified;
    std::vector<std::string> links_added;  // link keys "{from}->{to}"
    std::vector<std::string> links_removed;
    std::vector<std::string> links_modified;
    std::optional<SectionChange<TavoConfig>> config;
    std::optional<SectionChange<TavoConstraints>> constraints;
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

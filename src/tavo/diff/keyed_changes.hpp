#pragma once
// The added / removed / modified bookkeeping shared by the two diffs.
//
// Entries are matched by a text key. Within one side a repeated key keeps the place of its first
// occurrence and takes the later entry, so the entry compared is the last one given. Removed and
// modified keys come in the first side's order, added keys in the second side's.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tavo::diff_detail {

template <class Entry>
class KeyedEntries {
public:
    void insert(std::string key, const Entry& entry) {
        auto [slot, inserted] = index_.try_emplace(key, order_.size());
        if (inserted) {
            order_.emplace_back(std::move(key), &entry);
        } else {
            order_[slot->second].second = &entry;
        }
    }

    const Entry* find(std::string_view key) const {
        auto slot = index_.find(key);
        return slot == index_.end() ? nullptr : order_[slot->second].second;
    }

    const std::vector<std::pair<std::string, const Entry*>>& in_order() const { return order_; }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::vector<std::pair<std::string, const Entry*>> order_;
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
};

struct KeyChanges {
    std::vector<std::string> added;
    std::vector<std::string> removed;
    std::vector<std::string> modified;
};

// `differ(a, b)` tells whether two entries under the same key count as modified.
template <class Entry, class Differ>
KeyChanges compare_keyed(const KeyedEntries<Entry>& first, const KeyedEntries<Entry>& second,
                         Differ differ) {
    KeyChanges changes;
    for (const auto& [key, entry] : first.in_order()) {
        const Entry* other = second.find(key);
        if (!other) {
            changes.removed.push_back(key);
        } else if (differ(*entry, *other)) {
            changes.modified.push_back(key);
        }
    }
    for (const auto& [key, entry] : second.in_order()) {
        if (!first.find(key)) changes.added.push_back(key);
    }
    return changes;
}

}  // namespace tavo::diff_detail

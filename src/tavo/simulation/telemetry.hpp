#pragma once
// Link telemetry of one trial: generation attempts per link key.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tavo/network/config.hpp"
#include "tavo/network/link_key.hpp"

namespace tavo {

// Counts per text key, kept in order of first insertion. Keys are found by a scan while there are
// few and through a hash index once there are many (a route of many hops has one key per hop).
class KeyedCounts {
public:
    using Entry = std::pair<std::string, std::uint64_t>;

    KeyedCounts() = default;
    explicit KeyedCounts(std::vector<Entry> entries) : entries_(std::move(entries)) {
        if (entries_.size() > kScanLimit) build_index();
    }

    void add(std::string_view key, std::uint64_t count) {
        if (const std::size_t at = position(key); at != kAbsent) {
            entries_[at].second += count;
            return;
        }
        entries_.emplace_back(std::string(key), count);
        if (!index_.empty()) {
            index_.emplace(entries_.back().first, entries_.size() - 1);
        } else if (entries_.size() > kScanLimit) {
            build_index();
        }
    }

    std::uint64_t get(std::string_view key) const {
        const std::size_t at = position(key);
        return at == kAbsent ? 0 : entries_[at].second;
    }

    const std::vector<Entry>& entries() const { return entries_; }
    bool operator==(const KeyedCounts& other) const { return entries_ == other.entries_; }

private:
    static constexpr std::size_t kScanLimit = 16;

    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };

    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

    std::size_t position(std::string_view key) const {
        if (!index_.empty()) {
            const auto found = index_.find(key);
            return found == index_.end() ? kAbsent : found->second;
        }
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].first == key) return i;
        }
        return kAbsent;
    }

    // A key that occurs twice keeps its first position (as a scan finds it).
    void build_index() {
        index_.clear();
        for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
    }

    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
};

class NetworkTelemetry {
public:
    explicit NetworkTelemetry(const SimulationConfig& config) : config_(config) {}

    void record_link_firing(std::string_view key) { link_firings_.add(key, 1); }

    const KeyedCounts& link_firings() const { return link_firings_; }
    const SimulationConfig& config() const { return config_; }

private:
    KeyedCounts link_firings_;
    SimulationConfig config_;
};

}  // namespace tavo

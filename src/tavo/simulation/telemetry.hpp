#pragma once
// Link telemetry of one trial: generation attempts per link key.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tavo/network/config.hpp"
#include "tavo/network/link_key.hpp"

namespace tavo {

// Counts per text key, kept in order of first insertion.
class KeyedCounts {
public:
    void add(std::string_view key, std::uint64_t count) {
        for (auto& [existing, value] : entries) {
            if (existing == key) {
                value += count;
                return;
            }
        }
        entries.emplace_back(std::string(key), count);
    }
    std::uint64_t get(std::string_view key) const {
        for (const auto& [existing, value] : entries) {
            if (existing == key) return value;
        }
        return 0;
    }
    bool operator==(const KeyedCounts&) const = default;

    std::vector<std::pair<std::string, std::uint64_t>> entries;
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

#pragma once
// The records of a topology snapshot: an engine's network saved as JSON in the camelCase form of
// the network definitions.

#include <string>
#include <vector>

#include "tavo/network/definitions.hpp"

namespace tavo {

struct TopologyMetadata {
    std::string name;
    std::string version;
};

struct TopologyConfig {
    double alpha_loss = 0.2;
    double gamma_swapping = 0.85;
};

struct TopologySnapshot {
    TopologyMetadata metadata;
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    TopologyConfig config;
};

}  // namespace tavo

#pragma once
// A network as the definitions that build it again: its nodes in node order and its links in link
// order, link kinds included (satellite conditions are not part of a network).

#include <vector>

#include "tavo/network/definitions.hpp"
#include "tavo/network/quantum_network.hpp"

namespace tavo {

std::vector<NodeDefinition> node_definitions(const QuantumNetwork& network);
std::vector<LinkDefinition> link_definitions(const QuantumNetwork& network);

}  // namespace tavo

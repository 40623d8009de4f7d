// The engine class.

#include "py/class_builder.hpp"
#include "registry.hpp"
#include "tavo/engine/engine.hpp"

namespace bindings {
namespace {

using namespace tavo;

TavoEngine new_engine(std::optional<SimulationConfig> config) {
    return TavoEngine(config.value_or(SimulationConfig::engine_default()));
}

void define_network(TavoEngine& engine, std::vector<NodeDefinition> nodes,
                    std::vector<LinkDefinition> links) {
    engine.define_network(nodes, links);
}

}  // namespace

py::Ref tavo_engine_class(PyObject*) {
    return py::ClassBuilder<TavoEngine>("TavoEngine")
        .constructor<&new_engine, "config">()
        .method<&define_network, "define_network", "nodes", "links">()
        .build();
}

}  // namespace bindings

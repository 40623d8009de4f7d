// Reference topologies and their comparison.

#include "core_types.hpp"
#include "py/class_builder.hpp"
#include "py/module_builder.hpp"
#include "registry.hpp"
#include "tavo/topology/comparison.hpp"
#include "tavo/topology/generator.hpp"

namespace bindings {
namespace {

using namespace tavo;

NetworkTopologyPayload generate(std::string name) { return generate_topology(name); }

TopologyEndpoints new_endpoints(std::string topology_name, std::string from_node,
                                std::string to_node) {
    return TopologyEndpoints{std::move(topology_name), std::move(from_node), std::move(to_node)};
}

TopologyComparisonReport compare(std::vector<TopologyEndpoints> endpoints, double fidelity_target,
                                 double max_latency_ms, std::uint64_t runs,
                                 std::optional<StrategyType> strategy,
                                 std::optional<SimulationConfig> config) {
    return compare_topologies(endpoints, fidelity_target, max_latency_ms, runs, strategy,
                              config.value_or(SimulationConfig::engine_default()));
}

constexpr const char* kCompareDoc =
    "Compare multiple network topologies for the same entanglement request\n"
    "\n"
    "This function runs simulations across different topologies and returns\n"
    "a comprehensive comparison report.\n"
    "\n"
    "# Arguments\n"
    "* `endpoints` - List of (topology_name, from_node, to_node) tuples, one per topology.\n"
    "  Each entry maps a generated topology name to the source and target nodes within that\n"
    "  specific topology (e.g., \"telecom_backbone\" → (\"A\", \"C\"), \"hybrid_satellite_fiber\" "
    "→ (\"Toronto\", \"London\")).\n"
    "* `fidelity_target` - Required fidelity threshold for all simulations\n"
    "* `max_latency_ms` - Maximum allowed latency for all simulations\n"
    "* `runs` - Number of Monte Carlo runs per topology\n"
    "* `strategy` - Optional routing strategy (None for default)\n"
    "* `config` - The SimulationConfig each compared engine is built with (None: the engine\n"
    "  default); one holding a PhysicalModel compares the topologies on the physical model\n"
    "\n"
    "# Example\n"
    "```python\n"
    "from tavo_core import TavoEngine, StrategyType\n"
    "\n"
    "report = compare_topologies(\n"
    "    endpoints=[\n"
    "        TopologyEndpoints(\"telecom_backbone\", \"A\", \"C\"),\n"
    "        TopologyEndpoints(\"hybrid_satellite_fiber\", \"Toronto\", \"London\"),\n"
    "    ],\n"
    "    fidelity_target=0.75,\n"
    "    max_latency_ms=5000.0,\n"
    "    runs=1000,\n"
    "    strategy=StrategyType.HighestFidelity\n"
    ")\n"
    "\n"
    "print(f\"Recommended: {report.recommended_topology}\")\n"
    "```";

}  // namespace

py::Ref generate_topology_function(PyObject* module) {
    return py::function<&generate, "generate_topology", "name">(module);
}

py::Ref compare_topologies_function(PyObject* module) {
    return py::unlocked_function<&compare, "compare_topologies", "endpoints", "fidelity_target",
                                 "max_latency_ms", "runs", "strategy", "config">(module,
                                                                                 kCompareDoc);
}

py::Ref topology_endpoints_class(PyObject*) {
    return py::ClassBuilder<TopologyEndpoints>("TopologyEndpoints")
        .constructor<&new_endpoints, "topology_name", "from_node", "to_node">()
        .field<&TopologyEndpoints::topology_name>("topology_name")
        .field<&TopologyEndpoints::from_node>("from_node")
        .field<&TopologyEndpoints::to_node>("to_node")
        .build();
}

py::Ref topology_comparison_result_class(PyObject*) {
    using R = TopologyComparisonResult;
    return py::ClassBuilder<R>("TopologyComparisonResult")
        .field<&R::topology_name>("topology_name")
        .field<&R::success_rate>("success_rate")
        .field<&R::mean_fidelity>("mean_fidelity")
        .field<&R::mean_latency_ms>("mean_latency_ms")
        .field<&R::link_utilization>("link_utilization")
        .build();
}

py::Ref topology_comparison_report_class(PyObject*) {
    using R = TopologyComparisonReport;
    return py::ClassBuilder<R>("TopologyComparisonReport")
        .field<&R::runs>("runs")
        .field<&R::results>("results")
        .field<&R::summary>("summary")
        .field<&R::source_node>("source_node")
        .field<&R::target_node>("target_node")
        .field<&R::fidelity_target>("fidelity_target")
        .field<&R::max_latency_ms>("max_latency_ms")
        .field<&R::recommended_topology>("recommended_topology")
        .build();
}

}  // namespace bindings

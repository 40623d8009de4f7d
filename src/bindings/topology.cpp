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

TopologyComparisonReport compare(std::vector<TopologyEndpoints> endpoints, double fidelity_target,
                                 double max_latency_ms, std::uint64_t runs,
                                 std::optional<StrategyType> strategy,
                                 std::optional<SimulationConfig> config) {
    return compare_topologies(endpoints, fidelity_target, max_latency_ms, runs, strategy,
                              config.value_or(SimulationConfig::engine_default()));
}

constexpr std::string_view kGenerateDoc = R"doc(
    One of the built-in reference networks, the same on every call.

    "telecom_backbone": nodes A to F joined by seven fiber links of 5 to 5500 km;
    "repeater_chain": N0 to N3 joined by three 100 km fiber links; "hybrid_satellite_fiber":
    Toronto, Montreal and London over fiber, and a satellite node SAT-1 linked to Toronto
    and London.

    Args:
        name: One of the three names above (case-sensitive).

    Returns:
        A new NetworkTopologyPayload; pass its nodes and links to TavoEngine.define_network.

    Raises:
        ValueError: any other name ("Invalid topology name. Use: ..."); "fiber_only" and
            "hybrid" are known to compare_topologies only.)doc";

constexpr std::string_view kCompareDoc = R"doc(
    Compare multiple network topologies for the same entanglement request

    This function runs simulations across different topologies and returns
    a comprehensive comparison report.

    # Arguments
    * `endpoints` - List of (topology_name, from_node, to_node) tuples, one per topology.
      Each entry maps a generated topology name to the source and target nodes within that
      specific topology (e.g., "telecom_backbone" → ("A", "C"), "hybrid_satellite_fiber" → ("Toronto", "London")).
    * `fidelity_target` - Required fidelity threshold for all simulations
    * `max_latency_ms` - Maximum allowed latency for all simulations
    * `runs` - Number of Monte Carlo runs per topology
    * `strategy` - Optional routing strategy (None for default)

    # Example
    ```python
    from tavo_core import TavoEngine, StrategyType

    report = compare_topologies(
        endpoints=[
            TopologyEndpoints("telecom_backbone", "A", "C"),
            TopologyEndpoints("hybrid_satellite_fiber", "Toronto", "London"),
        ],
        fidelity_target=0.75,
        max_latency_ms=5000.0,
        runs=1000,
        strategy=StrategyType.HighestFidelity
    )

    print(f"Recommended: {report.recommended_topology}")
    ```

    Simulate one request on several reference topologies and recommend one.

    Each endpoint's topology is built in a fresh engine with `config` (the engine default
    configuration unless given) and simulated for `runs` trials with a seed taken from the
    clock, so the figures vary from call to call. The recommended topology has the highest
    success rate (the later one on a tie).

    Args:
        endpoints: TopologyEndpoints (tuples are refused): a topology name and the
            source and target node ids in it.
        fidelity_target: Fidelity every trial must reach, a fraction.
        max_latency_ms: Latency budget of every trial in ms; +inf is refused.
        runs: Trials per topology, 0 or more.
        strategy: Routing strategy; None: HighestFidelity.
        config: The SimulationConfig every compared engine is built with (copied); one
            holding a PhysicalModel compares the topologies on the physical model. None:
            the engine default (the cycle model).

    Returns:
        A new TopologyComparisonReport.

    Raises:
        ValueError: an unknown topology name (before anything runs), a node id that is
            not in its topology ("Source node 'X' not found in topology ..."), an
            infinite max_latency_ms, or on the physical model a value it cannot use.)doc";

}  // namespace

py::Ref generate_topology_function(PyObject* module) {
    return py::function<&generate, "generate_topology", "name">(module, kGenerateDoc);
}

py::Ref compare_topologies_function(PyObject* module) {
    return py::unlocked_function<&compare, "compare_topologies", "endpoints", "fidelity_target",
                                 "max_latency_ms", "runs", "strategy", "config">(module,
                                                                                 kCompareDoc);
}

py::Ref topology_endpoints_class(PyObject*) {
    return py::ClassBuilder<TopologyEndpoints>("TopologyEndpoints")
        .record()
        .record_constructor()
        .build();
}

py::Ref topology_comparison_result_class(PyObject*) {
    using R = TopologyComparisonResult;
    return py::ClassBuilder<R>("TopologyComparisonResult").record().build();
}

py::Ref topology_comparison_report_class(PyObject*) {
    using R = TopologyComparisonReport;
    return py::ClassBuilder<R>("TopologyComparisonReport").record().build();
}

}  // namespace bindings

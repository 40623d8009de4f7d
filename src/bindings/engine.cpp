// The engine class. Methods that belong to another area (files, protocols, snapshots) are declared
// there and listed in registrations.def.

#include "core_types.hpp"
#include "py/class_builder.hpp"
#include "registry.hpp"
#include "tavo/engine/engine.hpp"
#include "tavo/montecarlo/context.hpp"
#include "text/forms.hpp"

namespace bindings {
namespace {

using namespace tavo;
using std::optional;

constexpr std::string_view kEngineDoc = R"doc(
    A network and a simulation configuration, on which entanglement requests are played out.

    An engine starts without a network; define_network, define_network_from_tavo and
    load_topology each replace it as a whole. The configuration is fixed at construction.

    One trial of a request (request_entanglement plays one, simulate many) is a simple model:
    1. Route: the strategy's best simple path between the two nodes, from an exhaustive search
       (StrategyType). No route, or a source or target that is not a defined node: failure
       with an empty path.
    2. Checks: failure at 0 ms when the target is above both the route fidelity (the product
       of its links' base_fidelity) and one purification step of it; failure when the
       propagation delay, the sum of distance_km / speed_of_light_in_fiber_km_ms over the
       hops, exceeds max_latency_ms (the delay is only checked, never added to the trial's
       time).
    3. Cycles of 2.5 ms. Every hop makes one generation attempt, which succeeds with
       probability p = 1 - 0.45 * (x / (1 + x))**2 - 0.3 * max(0, target - base_fidelity),
       kept within [0.5, 0.98], where x = distance_km / 100. After a failed attempt the trial
       can no longer succeed. When every attempt of a cycle succeeds on a route with
       intermediate nodes, the links are swapped unless one of them is lost in processing
       (probability 0.1 each): the fidelity becomes the product of the hops' base
       fidelities, purified once per intermediate node. Then, if the fidelity is above 0.5
       and below the target, one purification step (0.85 ms; see
       PhysicalConfig.baseline_purify_factor).
    4. Success as soon as the fidelity reaches the target; failure when the time reaches
       max_latency_ms or total_time_cutoff_ms.

    The timeline ignores node memory lifetimes, link types and satellite conditions; link
    generation rates only score HighestSuccess routes. SimulationConfig.step_resolution_ms is
    not used either.

    That is the cycle model. An engine whose configuration holds a PhysicalModel plays every
    request on the physical model instead (see PhysicalModel): the same route, then per hop a
    success probability from the link's transmission, attempts at the rate and heralding
    time of the link, memories that decay with their T2, swaps as soon as possible and
    purification, until the target or min(max_latency_ms, total_time_cutoff_ms); it refuses,
    with ValueError, values it cannot use and requests between ids that are not nodes.)doc";

constexpr std::string_view kEngineArguments = R"doc(
    Args:
        config: The configuration (copied). None: the engine default, which differs from
            SimulationConfig(): baseline_purify_factor 0.12 (not 0.022), signal speed
            200 km/ms, total_time_cutoff_ms 5000, step_resolution_ms 0.1.)doc";

// What a request refuses of its limits, in the documentation of the calls that play requests.
constexpr std::string_view kLimitErrors = R"doc(
        ValueError: max_latency_ms or the engine's total_time_cutoff_ms is +inf
            ("max_latency_ms must be finite", "total_time_cutoff_ms must be finite"), or, on
            the cycle model, both lie beyond 2**55 ms, where a trial's clock stops advancing
            ("max_latency_ms is beyond 2**55 ms, where a trial's clock stops advancing, and so
            is total_time_cutoff_ms"); on the)doc";

constexpr std::string_view kDefineNetworkDoc = R"doc(
    Replace the engine's network with one built from node and link definitions.

    Nothing is checked. A node id defined twice keeps its first place and takes the later
    memory lifetime. Links may name nodes that are not defined (such a node can lie inside a
    route, but cannot be a request's source or target), run in parallel (the first listed
    between two nodes is the one used) or loop. Link types and satellite conditions are
    kept (snapshots and the links attribute show them); only the physical model reads them.
    The definitions are converted first; the network is then built without the interpreter
    lock (other threads run meanwhile) and Ctrl-C stops it with KeyboardInterrupt, leaving
    the engine as it was. Other threads using the engine wait until the call is done.

    Args:
        nodes: The nodes (copied), in order.
        links: The links (copied), in order: the order decides between parallel links.)doc";

constexpr std::string_view kRequestEntanglementHead = R"doc(
    Play out one entanglement request: one trial, as the class documentation describes.

    The link attempts draw from a fixed zero-seeded generator, so repeated calls make the
    same attempt draws; link losses come from a per-thread generator keyed by the operating
    system, so on routes with intermediate nodes results can differ from call to call. For
    reproducible figures use simulate with a seed. On the physical model every draw comes
    from the zero-seeded generator: repeated calls give the same result.

    Args:
        from_node: Source node id; must be a defined node.
        to: Target node id; must be a defined node.
        fidelity_target: Fidelity the delivered pair must reach, a fraction (1.0 is perfect).
        max_latency_ms: Latency budget in ms. +inf is refused, and on the cycle model so is a
            budget beyond 2**55 ms when total_time_cutoff_ms is too; NaN, 0 or less fail
            before the first cycle.
        strategy: Routing strategy. None: HighestFidelity, which takes the LowestLatency route
            instead when the target is above the best route's fidelity.

    Returns:
        A new SimulationResult. Unknown nodes, no route and unmet limits give an unsuccessful
        result (success False, final_fidelity 0.0), not an error.

    Raises:
        RuntimeError: the engine has no network ("No network defined. Call
            define_network() first.").)doc";

constexpr std::string_view kRequestEntanglementTail = R"doc(
            physical model also a value it cannot use, named with its node or link ("link
            A->B: base_fidelity must be in [0.25, 1], got 0.2") or an end that is not a node
            ("request: from_node 'X' is not a node of the network").)doc";

constexpr std::string_view kSimulateHead = R"doc(
    Run an ensemble of `runs` seeded trials of one request and summarise it.

    Trial i draws its link attempts and its losses from seed + i (modulo 2**64) alone, so
    the same call gives the same statistics on any engine with the same network and
    configuration, and an ensemble cut into consecutive chunks (runs a with seed s, the rest
    with seed s + a) has the sums of the whole. The ensembles of seeds s and s + 1 share all
    but one trial: for independent replicates use seeds at least `runs` apart. The route is
    chosen once for the whole ensemble. The same holds on the physical model, whose trial i
    draws everything from seed + i.

    Args:
        from_node: Source node id; must be a defined node.
        to: Target node id; must be a defined node.
        fidelity_target: Fidelity a trial must deliver, a fraction (1.0 is perfect).
        max_latency_ms: Latency budget of each trial in ms; +inf is refused, and on the cycle
            model so is a budget beyond 2**55 ms when total_time_cutoff_ms is too.
        runs: Number of trials, 0 or more. With 0 the rate and the mean latency are NaN.
        strategy: Routing strategy; None: HighestFidelity (see request_entanglement).
        seed: Seed of trial 0, 0 <= seed < 2**64. None: taken from the clock, so the figures
            are not reproducible (the context then records None).

    Returns:
        A new MonteCarloStats whose _context records the inputs (for sensitivity_analysis).

    Raises:
        RuntimeError: the engine has no network ("No network defined. Call
            define_network() first.").)doc";

constexpr std::string_view kSimulateTail = R"doc(
            physical model also what request_entanglement refuses, even for runs = 0.)doc";

TavoEngine new_engine(optional<SimulationConfig> config) {
    return TavoEngine(config.value_or(SimulationConfig::engine_default()));
}

void define_network(TavoEngine& engine, std::vector<NodeDefinition> nodes,
                    std::vector<LinkDefinition> links) {
    engine.define_network(nodes, links);
}

SimulationResult request_entanglement(const TavoEngine& engine, std::string from_node,
                                      std::string to, double fidelity_target,
                                      double max_latency_ms, optional<StrategyType> strategy) {
    // A missing network is a usage error the caller can handle, as for simulate.
    engine.network_or_fail();
    return engine.request_entanglement(
        EntanglementRequest{std::move(from_node), std::move(to), fidelity_target, max_latency_ms,
                            strategy});
}

MonteCarloStats simulate(const TavoEngine& engine, std::string from_node, std::string to,
                         double fidelity_target, double max_latency_ms, std::uint64_t runs,
                         optional<StrategyType> strategy, optional<std::uint64_t> seed) {
    const QuantumNetwork& network = engine.network_or_fail();
    EntanglementRequest request{std::move(from_node), std::move(to), fidelity_target,
                                max_latency_ms, strategy};
    MonteCarloStats stats;
    static_cast<MonteCarloSummary&>(stats) = engine.simulate(request, runs, seed);
    stats.context = make_context(network, engine.config(), request, seed);
    return stats;
}

// What the engine holds, as copies: its network's definitions (none without a network) and its
// configuration.
std::vector<NodeDefinition> engine_nodes(const TavoEngine& engine) {
    const QuantumNetwork* network = engine.network();
    return network ? network->nodes() : std::vector<NodeDefinition>{};
}

std::vector<LinkDefinition> engine_links(const TavoEngine& engine) {
    const QuantumNetwork* network = engine.network();
    return network ? network->links() : std::vector<LinkDefinition>{};
}

SimulationConfig engine_config(const TavoEngine& engine) { return engine.config(); }

// The engine in brief, for notebooks: its network's size, its configuration and its first links.
std::string engine_html_text(const TavoEngine& engine) {
    const SimulationConfig& config = engine.config();
    const QuantumNetwork* network = engine.network();
    std::string out = "<div><b>TavoEngine</b>: ";
    if (network) {
        out += std::to_string(network->nodes().size()) + " nodes, " +
               std::to_string(network->links().size()) + " links";
    } else {
        out += "no network";
    }
    out += "; time cutoff " + text::plain(config.total_time_cutoff_ms) +
           " ms, purification factor " + text::plain(config.physical.baseline_purify_factor) +
           ", signal speed " + text::plain(config.physical.speed_of_light_in_fiber_km_ms) +
           " km/ms</div>";
    if (!network || network->links().empty()) return out;
    constexpr std::size_t shown = 20;
    out +=
        "<table><tr><th>from</th><th>to</th><th>length (km)</th><th>base fidelity</th>"
        "<th>rate (Hz)</th><th>kind</th></tr>";
    const auto& links = network->links();
    for (std::size_t i = 0; i < links.size() && i < shown; ++i) {
        const LinkDefinition& link = links[i];
        out += "<tr><td>" + py::html_escaped(link.from_node) + "</td><td>" +
               py::html_escaped(link.to) + "</td><td>" + text::plain(link.distance_km) +
               "</td><td>" + text::plain(link.base_fidelity) + "</td><td>" +
               text::plain(link.generation_rate_hz) + "</td><td>" +
               (link.link_type == LinkType::Satellite ? "satellite" : "fiber") + "</td></tr>";
    }
    out += "</table>";
    if (links.size() > shown) {
        out += "<div>&hellip; " + std::to_string(links.size() - shown) + " more links</div>";
    }
    return out;
}

// The text is made while the engine is held, the Python string once it no longer is.
PyObject* engine_html(PyObject* self, PyObject*) {
    return py::guarded(
        [&]() -> PyObject* {
            const std::string text = [&] {
                auto* box = py::box_of<TavoEngine>(self);
                py::SharedBorrow borrow(box->borrow);
                return engine_html_text(box->value);
            }();
            return py::Convert<std::string>::to(text);
        },
        nullptr);
}

// An engine pickles as its configuration and, when it has one, the definitions of its network.
using NetworkState = std::pair<std::vector<NodeDefinition>, std::vector<LinkDefinition>>;
using EngineState = std::tuple<SimulationConfig, optional<NetworkState>>;

EngineState engine_state(const TavoEngine& engine) {
    optional<NetworkState> network;
    if (const QuantumNetwork* defined = engine.network()) {
        network.emplace(defined->nodes(), defined->links());
    }
    return {engine.config(), std::move(network)};
}

TavoEngine engine_from_state(EngineState state) {
    TavoEngine engine(std::get<0>(state));
    if (const auto& network = std::get<1>(state))
        engine.define_network(network->first, network->second);
    return engine;
}

}  // namespace

py::Ref tavo_engine_class(PyObject*) {
    py::ClassBuilder<TavoEngine> builder("TavoEngine");
    builder.doc(kEngineDoc)
        .constructor<&new_engine, "config">(kEngineArguments)
        .unlocked_method<&define_network, "define_network", "nodes", "links">(kDefineNetworkDoc)
        .unlocked_method<&request_entanglement, "request_entanglement", "from_node", "to",
                         "fidelity_target", "max_latency_ms", "strategy">(
            py::joined({kRequestEntanglementHead, kLimitErrors, kRequestEntanglementTail}))
        .unlocked_method<&simulate, "simulate", "from_node", "to", "fidelity_target",
                         "max_latency_ms", "runs", "strategy", "seed">(
            py::joined({kSimulateHead, kLimitErrors, kSimulateTail}))
        .readonly<&engine_nodes>("nodes", R"(
            The network's node definitions in node order (a new list of copies; empty without a
            network). Read-only: define_network replaces the network.)")
        .readonly<&engine_links>("links", R"(
            The network's link definitions in link order, kinds and satellite conditions
            included (a new list of copies; empty without a network). Read-only:
            define_network replaces the network.)")
        .readonly<&engine_config>("config", R"(
            A copy of the configuration the engine was built with. Read-only: it is fixed at
            construction.)")
        .pickled<&engine_state, &engine_from_state>()
        .method(
            PyMethodDef{"_repr_html_", &engine_html, METH_NOARGS,
                        "_repr_html_($self, /)\n--\n\nThe engine in brief as HTML, for notebooks: "
                        "the size of its network, its configuration and its first links."});
#define TAVO_ENGINE_METHOD(maker) builder.method(maker());
#include "registry.inc"
    return builder.build();
}

}  // namespace bindings

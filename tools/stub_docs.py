"""The documentation of tavo_core's type stubs, one entry per documented name (written out by
tools/generate_stubs.py).

Keys: "tavo_core" (the module), "Class", "Class.attribute", "Class.Member" (enumerations),
"Class.__new__" (the constructor), "Class.method", "function". A callable's entry is a dict with
"doc", "params" (one text per parameter), and optionally "returns" and "raises" (a list of
"Error: when" texts); a class's, attribute's or member's entry is a text. Texts are laid out as they
should appear (the generator keeps their lines, after removing the common indentation), each line
short enough for 100 columns once indented: about 90 columns for class and member texts, 84 for
the texts of methods, their parameters and their errors.

What the texts say about behaviour is what the module does; where the model is simple they say
so. Shared wordings are defined once below.
"""

from typing import Any, Dict

# Wordings that several entries share.
_NO_NETWORK = 'RuntimeError: the engine has no network ("No network defined. Call\n' \
    '    define_network() first.").'
_INFINITE_LIMIT = (
    "ValueError: max_latency_ms or the engine's total_time_cutoff_ms is +inf\n"
    '    ("max_latency_ms must be finite", "total_time_cutoff_ms must be finite"), or both\n'
    "    lie beyond 2**55 ms, where a trial's clock stops advancing (\"max_latency_ms is\n"
    '    beyond 2**55 ms, where a trial\'s clock stops advancing, and so is\n'
    '    total_time_cutoff_ms").'
)
_PATH = "Path as str, bytes or os.PathLike."
_OS_ERRORS = (
    "FileNotFoundError, PermissionError, OSError: a RuntimeError of a failed file\n"
    "    operation is also the operating system's error, with errno and filename."
)
_LOAD_ERRORS = [
    """RuntimeError: "Failed to load {filepath}: " followed by "IO error: ..." (unreadable,
        not UTF-8, or beyond 1 GiB: "IO error: document exceeds the size limit of 1 GiB
        (1073741824 bytes)"), "JSON parse error: ... at line L column C", "Unsupported
        tavo version: ..." (only "1.0" is read) or "Validation failed: ..." (what
        validate reports).""",
    _OS_ERRORS,
]
_SAVE_ERRORS = [
    """ValueError: a number is NaN or infinite, which JSON cannot hold ("links[0].distance_km
        is not a finite number"); nothing is written.""",
    """RuntimeError: the write failed: "IO error: " and the system's reason, e.g. "IO
        error: No such file or directory (os error 2)".""",
    _OS_ERRORS,
]
_ENUM_EQUALITY = (
    "Members compare equal by kind (== and hash): a copy read from an attribute equals the\n"
    "class member. They never equal members of other enumerations, nor ints. No constructor."
)

DOCS: Dict[str, Any] = {}

# The module ---------------------------------------------------------------------------------------

DOCS["tavo_core"] = """
Quantum-network simulation with a C++ core.

Describe a network of quantum memories (nodes) joined by fiber or satellite links, as
NodeDefinition and LinkDefinition objects or as a .tavo JSON file, give it to a TavoEngine, and
play out entanglement requests: single requests, seeded Monte Carlo ensembles with a
sensitivity analysis, and key distribution, teleportation and distributed computation on top.
Topology files are loaded, validated, saved and diffed; engine networks are saved as snapshots.

Units: lengths in km, times in ms, rates in Hz, signal speed in km/ms; node memory lifetimes in
seconds in the engine but in ms in .tavo files; fidelities, probabilities and rates of success
are fractions of 1 (1.0 is perfect).

Conventions: attribute reads return copies (assign a whole value to change an object); None for
an optional parameter means its default. Arguments of the wrong type raise TypeError ("argument
'x': ..."); negative or too large values for unsigned integers raise OverflowError. Everything
pickles and copies. Long calls (simulations, protocols, comparisons, file operations, network
definitions) release the interpreter lock, so other threads run meanwhile, and Ctrl-C interrupts
them with KeyboardInterrupt. An object used by several threads at once makes the later caller
wait; a call converts all its arguments before it takes the objects it works on.

SimulationResult, PyMonteCarloContext, TopologySnapshot, TopologyMetadata, TopologyConfig and
TopologyDiff are not module attributes at runtime: Python code receives them from the module.
Import them for annotations only, under `if typing.TYPE_CHECKING:`.
"""

# The engine ---------------------------------------------------------------------------------------

DOCS["TavoEngine"] = """
A network and a simulation configuration, on which entanglement requests are played out.

An engine starts without a network; define_network, define_network_from_tavo and load_topology
each replace it as a whole. The configuration is fixed at construction.

One trial of a request (request_entanglement plays one, simulate many) is a simple model:
1. Route: the strategy's best simple path between the two nodes, from an exhaustive search
   (StrategyType). No route, or a source or target that is not a defined node: failure with
   an empty path.
2. Checks: failure at 0 ms when the target is above both the route fidelity (the product of
   its links' base_fidelity) and one purification step of it; failure when the propagation
   delay, the sum of distance_km / speed_of_light_in_fiber_km_ms over the hops, exceeds
   max_latency_ms (the delay is only checked, never added to the trial's time).
3. Cycles of 2.5 ms. Every hop makes one generation attempt, which succeeds with probability
   p = 1 - 0.45 * (x / (1 + x))**2 - 0.3 * max(0, target - base_fidelity), kept within
   [0.5, 0.98], where x = distance_km / 100. After a failed attempt the trial can no longer
   succeed. When every attempt of a cycle succeeds on a route with intermediate nodes, the
   links are swapped unless one of them is lost in processing (probability 0.1 each): the
   fidelity becomes the product of the hops' base fidelities, purified once per intermediate
   node. Then, if the fidelity is above 0.5 and below the target, one purification step
   (0.85 ms; see PhysicalConfig.baseline_purify_factor).
4. Success as soon as the fidelity reaches the target; failure when the time reaches
   max_latency_ms or total_time_cutoff_ms.

The timeline ignores node memory lifetimes, link types and satellite conditions; link generation
rates only score HighestSuccess routes. SimulationConfig.step_resolution_ms is not used either.
"""

DOCS["TavoEngine.__new__"] = {
    "doc": "An engine without a network.",
    "params": {
        "config": """
            The configuration (copied). None: the engine default, which differs from
            SimulationConfig(): baseline_purify_factor 0.12 (not 0.022), signal speed
            200 km/ms, total_time_cutoff_ms 5000, step_resolution_ms 0.1.
            """,
    },
}

DOCS["TavoEngine.define_network"] = {
    "doc": """
        Replace the engine's network with one built from node and link definitions.

        Nothing is checked. A node id defined twice keeps its first place and takes the later
        memory lifetime. Links may name nodes that are not defined (such a node can lie inside a
        route, but cannot be a request's source or target), run in parallel (the first listed
        between two nodes is the one used) or loop. Satellite conditions are dropped; link types
        are kept (snapshots show them) but change no outcome. Other threads using the engine
        wait until the call is done.
        """,
    "params": {
        "nodes": "The nodes (copied), in order.",
        "links": "The links (copied), in order: the order decides between parallel links.",
    },
}

DOCS["TavoEngine.request_entanglement"] = {
    "doc": """
        Play out one entanglement request: one trial, as the class documentation describes.

        The link attempts draw from a fixed zero-seeded generator, so repeated calls make the
        same attempt draws; link losses come from a per-thread generator keyed by the operating
        system, so on routes with intermediate nodes results can differ from call to call. For
        reproducible figures use simulate with a seed.
        """,
    "params": {
        "from_node": "Source node id; must be a defined node.",
        "to": "Target node id; must be a defined node.",
        "fidelity_target": "Fidelity the delivered pair must reach, a fraction (1.0 is perfect).",
        "max_latency_ms": """
            Latency budget in ms. +inf is refused, and so is a budget
            beyond 2**55 ms when total_time_cutoff_ms is too; NaN, 0 or less fail
            before the first cycle.
            """,
        "strategy": """
            Routing strategy. None: HighestFidelity, which takes the LowestLatency route
            instead when the target is above the best route's fidelity.
            """,
    },
    "returns": """
        A new SimulationResult. Unknown nodes, no route and unmet limits give an unsuccessful
        result (success False, final_fidelity 0.0), not an error.
        """,
    "raises": [_NO_NETWORK, _INFINITE_LIMIT],
}

DOCS["TavoEngine.simulate"] = {
    "doc": """
        Run an ensemble of `runs` seeded trials of one request and summarise it.

        Trial i draws its link attempts and its losses from seed + i (modulo 2**64) alone, so
        the same call gives the same statistics on any engine with the same network and
        configuration, and an ensemble cut into consecutive chunks (runs a with seed s, the rest
        with seed s + a) has the sums of the whole. The ensembles of seeds s and s + 1 share all
        but one trial: for independent replicates use seeds at least `runs` apart. The route is
        chosen once for the whole ensemble.
        """,
    "params": {
        "from_node": "Source node id; must be a defined node.",
        "to": "Target node id; must be a defined node.",
        "fidelity_target": "Fidelity a trial must deliver, a fraction (1.0 is perfect).",
        "max_latency_ms": """
            Latency budget of each trial in ms; +inf is refused, and so
            is a budget beyond 2**55 ms when total_time_cutoff_ms is too.
            """,
        "runs": "Number of trials, 0 or more. With 0 the rate and the mean latency are NaN.",
        "strategy": "Routing strategy; None: HighestFidelity (see request_entanglement).",
        "seed": """
            Seed of trial 0, 0 <= seed < 2**64. None: taken from the clock, so the figures
            are not reproducible (the context then records None).
            """,
    },
    "returns": """
        A new MonteCarloStats whose _context records the inputs (for sensitivity_analysis).
        """,
    "raises": [_NO_NETWORK, _INFINITE_LIMIT],
}

DOCS["TavoEngine.define_network_from_tavo"] = {
    "doc": """
        Replace the engine's network with the nodes and links of a TavoFile.

        A node's memory_lifetime_ms becomes memory_lifetime_t2 in seconds (divided by 1000;
        1.0 s when absent); memory_capacity, node_type and link ids are dropped; a link without
        link_type is Fiber. The file's config, constraints and metadata are not used: the engine
        keeps its configuration (from_tavo_file makes an engine with the file's config). Nothing
        is validated here; the rest is as define_network.
        """,
    "params": {"qf": "The file object (copied)."},
}

DOCS["TavoEngine.run_qkd"] = {
    "doc": """
        Run BB84-style quantum key distribution between two nodes.

        Each round is one entanglement request from params.from_node to params.to_node
        (HighestFidelity), up to params.rounds of them. Each round gets the budget that is left
        (max_latency_ms minus the time spent so far); a successful round costs its latency, a failed
        one 2.5 ms. A round that finds the budget spent counts as failed and ends the exchange. QBER
        = (1 - mean fidelity of the successful rounds) / 2, or 1.0 when none succeeded. If QBER <
        error_rate_tolerance, the key has floor(floor(completed * (1 - sifting_overhead_ratio)) *
        privacy_amplification_factor) bits, else 0. Rounds are single requests: they all make the
        same link-attempt draws, so on a one-hop route every round has the same outcome. Without a
        network nothing is requested: success False, qber 1.0, no rounds counted.
        """,
    "params": {"params": "The exchange's parameters (copied)."},
    "returns": "A new QKDResult.",
    "raises": [
        """ValueError: a round would run with an infinite limit (max_latency_ms or the
            engine's total_time_cutoff_ms is +inf), or with both beyond 2**55 ms.""",
    ],
}

DOCS["TavoEngine.execute_teleportation"] = {
    "doc": """
        Teleport a quantum state between two nodes over one entanglement request.

        The request goes from params.source_node to params.target_node (HighestFidelity, fidelity
        target state_fidelity, budget classical_bandwidth_ms). With F the delivered fidelity (0.0
        when the request failed): teleportation_fidelity = min(state_fidelity * F, 0.999), or 0.0
        when F is 0; success when F > 0.5. latency_ms is the request's latency plus 0.25 ms per
        relay node. Relay nodes only appear in the path; they do not change the route. Without a
        network nothing is requested: both fidelities 0.0, latency 0.0 and a path without the
        target.
        """,
    "params": {"params": "The teleportation's parameters (copied)."},
    "returns": "A new TeleportationOutcome.",
    "raises": [
        """ValueError: the engine has a network and classical_bandwidth_ms or its
            total_time_cutoff_ms is +inf ("classical_bandwidth_ms must be finite",
            "total_time_cutoff_ms must be finite"), or both lie beyond 2**55 ms.""",
    ],
}

DOCS["TavoEngine.run_distributed_computation"] = {
    "doc": """
        Run a distributed computation across participating nodes.

        One entanglement request per edge of the coordination topology, then each party's fidelity
        from the edges that touch it. Edges: "star" joins every other participant to the first;
        "ring" joins each participant to the next and the last to the first; "mesh" joins every
        pair. Each edge is requested from its first node to its second with fidelity target 0.9,
        budget 10 * classical_relay_latency_ms and HighestFidelity; a failed request gives the edge
        fidelity 0.0 (its latency still counts). A party's local_fidelity is the mean fidelity of
        its edges (1.0 without edges) times correlation_strength, capped at 0.999; its measurement
        succeeds when every one of its edges is above 0.5. computation_fidelity is the product of
        the uncapped local fidelities, capped at 0.999; success needs at least one party and every
        measurement. The basis type changes no figure. Without a network: an unsuccessful result
        with empty lists and zero figures.
        """,
    "params": {
        "participants": "Node ids of the parties, in order (duplicates are kept).",
        "coordination_topology": '"star", "ring" or "mesh" (exactly these spellings).',
        "basis_type": '"ghz", "cluster" or "graph" (exactly these spellings).',
        "correlation_strength": "Factor on each party's mean edge fidelity; None: 0.85.",
        "classical_relay_latency_ms": """
            Classical latency per edge in ms; None: 5.0.
            Each edge's request budget is ten times it; coordination_overhead_ms is
            the number of edges times it.
            """,
    },
    "returns": "A new DistributedComputingResult.",
    "raises": [
        """ValueError: an unknown topology ("coordination_topology must be one of: 'star',
            'ring', 'mesh'", checked first) or basis ("basis_type must be one of: 'ghz',
            'cluster', 'graph'"); an infinite classical_relay_latency_ms or
            total_time_cutoff_ms when there are edges, or both an edge budget and
            total_time_cutoff_ms beyond 2**55 ms.""",
    ],
}

DOCS["TavoEngine.snapshot"] = {
    "doc": """
        The engine's network as a TopologySnapshot, as save_topology would write it.

        Metadata name "exported_topology" and version "1.0"; the nodes in definition order with
        their lifetimes in seconds; the links in order with their link types (satellite
        conditions are not kept); config alpha_loss = 10 * baseline_purify_factor and
        gamma_swapping = baseline_purify_factor.
        """,
    "params": {},
    "returns": "A new TopologySnapshot (compare two with diff_topologies).",
    "raises": [_NO_NETWORK],
}

# The network model and configuration ---------------------------------------------------------------

DOCS["PhysicalConfig"] = """
Physical constants of a simulation: the purification factor and the signal speed in fiber.

Part of a SimulationConfig. Reading SimulationConfig.physical returns a copy: change a field
of the copy, then assign the whole PhysicalConfig back.
"""

DOCS["PhysicalConfig.__new__"] = {
    "doc": "Physical constants with a signal speed of 200 km/ms.",
    "params": {
        "alpha_loss_db_km": """
            Fiber attenuation in dB/km; baseline_purify_factor becomes a tenth
            of it. None: baseline_purify_factor 0.022.
            """,
    },
}

DOCS["PhysicalConfig.baseline_purify_factor"] = """
Purification factor, a fraction added to the result of every purification step.

One step maps a fidelity F to
min(0.999, (F**2 + (1 - F)**2 / 9) / ((1 + 2 * F) / 3)**2 + baseline_purify_factor).
Default 0.022 here, 0.12 in the engine's default configuration.
"""

DOCS["PhysicalConfig.speed_of_light_in_fiber_km_ms"] = """
Signal speed in fiber in km/ms (default 200).

Only used to check a route's propagation delay (the sum of distance_km / speed) against
max_latency_ms; it is not added to a trial's time.
"""

DOCS["SimulationConfig"] = """
The configuration of an engine: physical constants and the time cutoff of a trial.

An engine copies it at construction and never changes it. Reading physical returns a copy:
change a field of that copy, then assign it back (config.physical = physical). Note that
SimulationConfig() has baseline_purify_factor 0.022 while an engine made without a
configuration uses 0.12.
"""

DOCS["SimulationConfig.__new__"] = {
    "doc": "A configuration; each value left out takes its default.",
    "params": {
        "total_time_cutoff_ms": "Time limit of one trial in ms; None: 5000.",
        "step_resolution_ms": "Recorded only (trials advance in 2.5 ms cycles); None: 0.1 ms.",
        "alpha_loss_db_km": """
            Fiber attenuation in dB/km; physical.baseline_purify_factor becomes a
            tenth of it. None: 0.022.
            """,
    },
}

DOCS["SimulationConfig.physical"] = """
The physical constants (a copy on reading; assign a whole PhysicalConfig to change them).
"""

DOCS["SimulationConfig.step_resolution_ms"] = """
A time resolution in ms, carried with the configuration and recorded in contexts; the
timeline does not use it (it advances in cycles of 2.5 ms).
"""

DOCS["SimulationConfig.total_time_cutoff_ms"] = """
Time limit of one trial in ms (default 5000): a trial still running at this time fails. 0
or less, or NaN, fails every trial before its first cycle; +inf is refused when a request
runs, and so is a cutoff beyond 2**55 ms when the request's budget is too.
"""

DOCS["NodeDefinition"] = """
One node of a network definition: a quantum memory with an id and a coherence time.

The memory lifetime is recorded (contexts, snapshots, the sensitivity analysis varies it) but
the timeline does not read it.
"""

DOCS["NodeDefinition.__new__"] = {
    "doc": "A node definition; nothing is checked.",
    "params": {
        "id": "Node id, compared byte for byte.",
        "memory_lifetime_t2": """
            Coherence time T2 of the node's memory in seconds (a .tavo
            file's memory_lifetime_ms divided by 1000).
            """,
    },
}

DOCS["NodeDefinition.id"] = "Node id. Within a network a later node with the same id replaces it."

DOCS["NodeDefinition.memory_lifetime_t2"] = """
Coherence time T2 of the node's memory in seconds (.tavo files give milliseconds). Not
used by the timeline.
"""

DOCS["LinkType"] = f"""
Kind of a link of the network model: Fiber or Satellite.

Snapshots record it; it changes no simulated outcome.

{_ENUM_EQUALITY}
"""

DOCS["LinkType.Fiber"] = "A fiber link (value 0), the default."
DOCS["LinkType.Satellite"] = "A satellite link (value 1)."

DOCS["SatelliteConditions"] = """
Visibility and weather factors of a satellite link.

A LinkDefinition carries them, but the engine's network drops them: they change no simulated
outcome. effective_rate computes the generation rate they would leave.
"""

DOCS["SatelliteConditions.__new__"] = {
    "doc": "Conditions; nothing is checked.",
    "params": {
        "visibility": "Visibility factor, a fraction; None: 1.0.",
        "weather_factor": "Weather factor, a fraction; None: 1.0.",
    },
}

DOCS["SatelliteConditions.visibility"] = "Visibility factor of the satellite, a fraction of 1."
DOCS["SatelliteConditions.weather_factor"] = "Weather factor, a fraction of 1."

DOCS["SatelliteConditions.effective_rate"] = {
    "doc": "The generation rate left by these conditions: base_rate * visibility * weather_factor.",
    "params": {"base_rate": "A generation rate in Hz."},
    "returns": "The rate in Hz, a float.",
}

DOCS["LinkDefinition"] = """
One link of a network definition: two node ids, a length, a base fidelity and a rate.

Links carry no direction: a link from A to B serves B to A too. Nothing is checked here.
Attribute reads return copies, and so do the lists that hold links: changing a link read from a
list changes that copy only. Read, modify, write back:

    payload = tavo_core.generate_topology("repeater_chain")
    payload.links[0].distance_km = 150.0   # changes a copy: payload is unchanged
    links = payload.links
    links[0].distance_km = 150.0
    payload.links = links
"""

DOCS["LinkDefinition.__new__"] = {
    "doc": "A link definition; nothing is checked.",
    "params": {
        "from_node": "Id of one end.",
        "to": "Id of the other end.",
        "distance_km": "Length in km.",
        "base_fidelity": "Fidelity of a freshly generated pair, a fraction (1.0 is perfect).",
        "generation_rate_hz": "Entanglement generation rate in Hz.",
        "link_type": "Fiber or Satellite; None: Fiber.",
        "satellite_conditions": "Conditions of a satellite link, or None.",
    },
}

DOCS["LinkDefinition.from_node"] = "Id of one end of the link."
DOCS["LinkDefinition.to"] = "Id of the other end of the link."

DOCS["LinkDefinition.distance_km"] = """
Length in km. Lowers the success probability of a generation attempt (see TavoEngine),
sets the propagation delay, and is what LowestLatency routes minimise.
"""

DOCS["LinkDefinition.base_fidelity"] = """
Fidelity of a freshly generated pair, a fraction (1.0 is perfect). A route's fidelity is
the product over its links; a link below the request's target also has a lower success
probability.
"""

DOCS["LinkDefinition.generation_rate_hz"] = """
Entanglement generation rate in Hz. Only HighestSuccess routing reads it; the timeline
does not.
"""

DOCS["LinkDefinition.link_type"] = """
Fiber or Satellite (a new LinkType object on every read). Changes no simulated outcome.
"""

DOCS["LinkDefinition.satellite_conditions"] = """
Conditions of a satellite link, or None (a copy on reading). Dropped when a network is
defined.
"""

DOCS["NetworkTopologyPayload"] = """
A pair of node and link definition lists, as generate_topology returns them.

Pass payload.nodes and payload.links to TavoEngine.define_network. Reads return new lists of
copies; assign whole lists to change them.
"""

DOCS["NetworkTopologyPayload.__new__"] = {
    "doc": "A payload of the given definitions (copied).",
    "params": {
        "nodes": "Node definitions, in order.",
        "links": "Link definitions, in order.",
    },
}

DOCS["NetworkTopologyPayload.nodes"] = "The node definitions (a new list of copies)."
DOCS["NetworkTopologyPayload.links"] = "The link definitions (a new list of copies)."

DOCS["EntanglementRequest"] = """
A request record: source, target, fidelity target, latency budget and strategy.

A plain record for your own bookkeeping: no method takes it (request_entanglement and
simulate take the same values as separate arguments).
"""

DOCS["EntanglementRequest.__new__"] = {
    "doc": "A request record; nothing is checked.",
    "params": {
        "from_node": "Source node id.",
        "to": "Target node id.",
        "fidelity_target": "Fidelity to reach, a fraction (1.0 is perfect).",
        "max_latency_ms": "Latency budget in ms.",
        "strategy": "Routing strategy, or None for the default (HighestFidelity).",
    },
}

DOCS["EntanglementRequest.from_node"] = "Source node id."
DOCS["EntanglementRequest.to"] = "Target node id."
DOCS["EntanglementRequest.fidelity_target"] = "Fidelity to reach, a fraction (1.0 is perfect)."
DOCS["EntanglementRequest.max_latency_ms"] = "Latency budget in ms."
DOCS["EntanglementRequest.strategy"] = "Routing strategy, or None (a new object on reading)."

DOCS["StrategyType"] = f"""
How routing picks a path among all simple paths between two nodes.

The search is exhaustive (its cost grows with the number of simple paths, fast in dense
networks). Each hop of a path is scored by the link joining its two nodes: the first link listed
between them, in either direction.

{_ENUM_EQUALITY}
"""

DOCS["StrategyType.LowestLatency"] = """
Smallest sum of distance_km over the hops (value 0): the shortest path, so the one with the
least propagation delay.
"""

DOCS["StrategyType.HighestFidelity"] = """
Largest product of base_fidelity over the hops (value 1); the default. When the request's
target is above that path's fidelity, the LowestLatency path is used instead.
"""

DOCS["StrategyType.HighestSuccess"] = """
Largest sum of base_fidelity * generation_rate_hz over the hops (value 2). A sum: a path with
more hops can score higher. The only place the simulation reads generation rates.
"""

DOCS["StrategyType.to_u8"] = {
    "doc": "The member's value: 0 LowestLatency, 1 HighestFidelity, 2 HighestSuccess.",
    "params": {},
    "returns": "The value, an int.",
}

# Results and ensembles ----------------------------------------------------------------------------

DOCS["SimulationResult"] = """
The outcome of one trial, as request_entanglement returns it.

Not a module attribute at runtime (see the module documentation); the constructor builds one
by hand.
"""

DOCS["SimulationResult.__new__"] = {
    "doc": "A result record; nothing is checked.",
    "params": {
        "success": "Whether the trial delivered the target fidelity in time.",
        "latency_ms": "Simulated time the trial took, in ms.",
        "final_fidelity": "Delivered fidelity, a fraction; 0.0 for a failure.",
        "execution_path": "Node ids of the route, source first.",
    },
}

DOCS["SimulationResult.success"] = "Whether the trial delivered the target fidelity within its limits."

DOCS["SimulationResult.latency_ms"] = """
Simulated time the trial took, in ms. A success: 2.5 ms per cycle before the successful
one plus 0.85 ms per purification step. A failure: 0.0 before the first cycle (no route,
target out of reach), the propagation delay when that exceeded the budget, else the time
when it ran out.
"""

DOCS["SimulationResult.final_fidelity"] = "Delivered fidelity, a fraction; 0.0 for every failure."

DOCS["SimulationResult.execution_path"] = """
Node ids of the route used, source first (a new list); empty when there is no route.
"""

DOCS["MonteCarloStats"] = """
Statistics of an ensemble of trials, as TavoEngine.simulate returns them.

The constructor builds statistics by hand, for example to hold the sums of an ensemble run in
chunks; they have no context unless one is given, and sensitivity_analysis needs it.
"""

DOCS["MonteCarloStats.__new__"] = {
    "doc": "Statistics from given figures; nothing is checked.",
    "params": {
        "total_runs": "Number of trials.",
        "empirical_success_rate": "Fraction of the trials that succeeded.",
        "mean_latency_ms": "Mean trial time over all trials, in ms.",
        "mean_fidelity": "Mean delivered fidelity over the successful trials.",
        "aggregate_congestion_drops": "Failed generation attempts (see the attribute).",
        "link_utilization_heatmap": 'Generation attempts per hop "A->B" (copied).',
        "context": "The ensemble's inputs (copied), or None; becomes _context.",
    },
}

DOCS["MonteCarloStats.total_runs"] = "Number of trials run."

DOCS["MonteCarloStats.empirical_success_rate"] = """
Fraction of the trials that met the fidelity target in time, 0..1 (NaN for 0 trials).
"""

DOCS["MonteCarloStats.mean_latency_ms"] = """
Simulated time of a trial in ms, averaged over all trials, failed ones included (NaN for
0 trials).
"""

DOCS["MonteCarloStats.mean_fidelity"] = """
Delivered fidelity averaged over the successful trials only; 0.0 when none succeeded.
"""

DOCS["MonteCarloStats.aggregate_congestion_drops"] = """
Failed generation attempts, counted from each trial's first cycle with a failed attempt
to its end (such a trial no longer succeeds), summed over the trials.
"""

DOCS["MonteCarloStats.link_utilization_heatmap"] = """
Generation attempts per hop, keyed "A->B" with the hop's nodes in route direction, summed
over the trials (a new dict). Every cycle makes one attempt on each hop, so all hops of the
route carry the same count.
"""

DOCS["MonteCarloStats._context"] = """
The inputs of the ensemble (a copy on reading), or None. Assigning stores a copy; None
removes it. sensitivity_analysis reads it.
"""

DOCS["MonteCarloStats.sensitivity_analysis"] = {
    "doc": """
        Rank the network's parameters by how much a change of 10 % moves the success rate.

        Every parameter of _context (each node's memory_lifetime_t2; each link's distance_km,
        base_fidelity and generation_rate_hz; and alpha_loss_db_km, which sets the purification
        factor to 0.018 and 0.022) is lowered and raised by 10 % in a fresh engine, with fiber
        links and a signal speed of 200 km/ms, and an ensemble of 200 trials (50 per node for
        more than 4 nodes) runs for each variant. Common random numbers: lowered variants run on
        seed_base and raised ones on seed_base + 1, each compared with the unchanged network on
        the same seed. Impact = (|raised - unchanged| + |lowered - unchanged|) divided by
        empirical_success_rate, or 0.0 when that rate is below 0.01. A parameter that changes
        neither the route nor the timeline scores exactly 0.0: memory lifetimes always,
        generation rates unless the strategy is HighestSuccess. The same seed_base gives the
        same ranking. Runs 2 * (nodes + 3 * links + 1) + 2 ensembles.
        """,
    "params": {"seed_base": "Seed of the comparisons, 0 <= seed_base < 2**64."},
    "returns": """
        A new dict from parameter to impact (a float >= 0), largest impact first; equal impacts
        keep the order nodes, links, alpha_loss_db_km. Keys: "memory_lifetime_t2:{node}",
        "distance_km:{from}->{to}", "base_fidelity:{from}->{to}",
        "generation_rate_hz:{from}->{to}" and "alpha_loss_db_km"; links listed twice between
        the same two nodes in the same direction share one key.
        """,
    "raises": [
        """ValueError: the statistics have no context ("No simulation context available.
            ...").""",
    ],
}

DOCS["PyMonteCarloContext"] = """
The inputs of one TavoEngine.simulate call, as MonteCarloStats._context holds them.

Not a module attribute at runtime (see the module documentation) and without a constructor.
Change a copy and assign it back to _context to change what sensitivity_analysis varies.
"""

DOCS["PyMonteCarloContext.seed"] = """
The seed argument as given; None when the seed was taken from the clock.
"""

DOCS["PyMonteCarloContext.nodes"] = """
(id, memory_lifetime_t2 in s) for every node of the network, in definition order (a new
list).
"""

DOCS["PyMonteCarloContext.links"] = """
(from_node, to, distance_km, base_fidelity, generation_rate_hz) for every link, in order
(a new list). Link types are not recorded.
"""

DOCS["PyMonteCarloContext.from_node"] = "Source node id of the request."
DOCS["PyMonteCarloContext.to_node"] = "Target node id of the request (the argument `to`)."
DOCS["PyMonteCarloContext.fidelity_target"] = "Fidelity target of the request, a fraction."
DOCS["PyMonteCarloContext.max_latency_ms"] = "Latency budget of the request in ms."
DOCS["PyMonteCarloContext.total_time_cutoff_ms"] = "The engine's time cutoff of a trial, in ms."
DOCS["PyMonteCarloContext.step_resolution_ms"] = "The engine's step_resolution_ms (not used)."

DOCS["PyMonteCarloContext.baseline_purify_factor"] = """
The engine's purification factor, a fraction (see PhysicalConfig).
"""

DOCS["PyMonteCarloContext.strategy"] = "The strategy argument as given, or None."

# Protocols: key distribution ----------------------------------------------------------------------

DOCS["QKDParameters"] = """
Parameters of a key exchange (TavoEngine.run_qkd).

A record; the key exchange copies it and never changes it.
"""

DOCS["QKDParameters.__new__"] = {
    "doc": "Key exchange parameters; nothing is checked.",
    "params": {
        "from_node": "Node id of one party (each round's request source).",
        "to_node": "Node id of the other party.",
        "fidelity_target": "Fidelity target of every round's request, a fraction.",
        "max_latency_ms": "Time budget of the whole exchange in ms.",
        "rounds": "Number of rounds to attempt, 0 or more; None: 100.",
        "error_rate_tolerance": "The QBER must be below it for a key; None: 0.11.",
        "sifting_overhead_ratio": "Fraction of the successful rounds sifted away; None: 0.5.",
        "privacy_amplification_factor": "Fraction of the sifted bits kept; None: 0.8.",
    },
}

DOCS["QKDParameters.from_node"] = "Node id of one party (each round's request source)."
DOCS["QKDParameters.to_node"] = "Node id of the other party (each round's request target)."
DOCS["QKDParameters.fidelity_target"] = "Fidelity target of every round's request, a fraction."
DOCS["QKDParameters.max_latency_ms"] = "Time budget of the whole exchange in ms."
DOCS["QKDParameters.rounds"] = "Number of rounds to attempt (default 100)."

DOCS["QKDParameters.error_rate_tolerance"] = """
A key is produced only when the QBER is strictly below this fraction (default 0.11).
"""

DOCS["QKDParameters.sifting_overhead_ratio"] = """
Fraction of the successful rounds discarded by basis sifting (default 0.5).
"""

DOCS["QKDParameters.privacy_amplification_factor"] = """
Fraction of the sifted bits kept after privacy amplification (default 0.8).
"""

DOCS["QKDResult"] = "The outcome of a key exchange."

DOCS["QKDResult.__new__"] = {
    "doc": "A result record; nothing is checked.",
    "params": {
        "success": "Whether at least one round succeeded.",
        "secret_key_length_bits": "Key length in bits.",
        "efficiency_rate": "Key bits per requested round.",
        "qber": "Quantum bit error rate, a fraction.",
        "latency_ms": "Time the exchange took, in ms.",
        "execution_path": "Route of the last successful round.",
        "rounds_completed": "Successful rounds.",
        "rounds_failed": "Failed rounds.",
    },
}

DOCS["QKDResult.success"] = "Whether at least one round succeeded (even when the key is empty)."
DOCS["QKDResult.secret_key_length_bits"] = "Length of the final key in bits."
DOCS["QKDResult.efficiency_rate"] = "Key bits per requested round (0.0 for 0 rounds)."

DOCS["QKDResult.qber"] = """
Quantum bit error rate, a fraction: (1 - mean fidelity of the successful rounds) / 2, or
1.0 when no round succeeded.
"""

DOCS["QKDResult.latency_ms"] = """
Time the exchange took in ms: the latencies of the successful rounds plus 2.5 ms per
failed request.
"""

DOCS["QKDResult.execution_path"] = """
Route of the last successful round, source first (a new list); empty when none succeeded.
"""

DOCS["QKDResult.rounds_completed"] = "Number of successful rounds."

DOCS["QKDResult.rounds_failed"] = """
Number of failed rounds, including the one that found the time budget spent (rounds after
it are not counted).
"""

DOCS["QKDStats"] = """
Summary of several key exchanges. No operation produces it: a record to fill yourself.
"""

DOCS["QKDStats.__new__"] = {
    "doc": "A summary record; nothing is checked.",
    "params": {
        "total_runs": "Number of exchanges.",
        "success_rate": "Fraction of successful exchanges.",
        "mean_key_length_bits": "Mean key length in bits.",
        "mean_efficiency": "Mean key bits per requested round.",
        "mean_qber": "Mean quantum bit error rate, a fraction.",
    },
}

DOCS["QKDStats.total_runs"] = "Number of key exchanges summarised."
DOCS["QKDStats.success_rate"] = "Fraction of successful exchanges, 0..1."
DOCS["QKDStats.mean_key_length_bits"] = "Mean key length in bits."
DOCS["QKDStats.mean_efficiency"] = "Mean key bits per requested round."
DOCS["QKDStats.mean_qber"] = "Mean quantum bit error rate, a fraction."

# Protocols: teleportation -------------------------------------------------------------------------

DOCS["TeleportationParameters"] = """
Parameters of a teleportation (TavoEngine.execute_teleportation).

A record; the teleportation copies it and never changes it.
"""

DOCS["TeleportationParameters.__new__"] = {
    "doc": "Teleportation parameters without relay nodes; nothing is checked.",
    "params": {
        "source_node": "Node id holding the state to send.",
        "target_node": "Node id receiving it.",
        "state_fidelity": "Fidelity of the state, a fraction; None: 0.95.",
        "classical_bandwidth_ms": "Latency budget of the resource request in ms; None: 100.0.",
    },
}

DOCS["TeleportationParameters.source_node"] = "Node id holding the state to send."
DOCS["TeleportationParameters.target_node"] = "Node id receiving the state."

DOCS["TeleportationParameters.relay_nodes"] = """
Node ids listed between source and target in the outcome's path, each adding 0.25 ms;
they do not change the route (a new list on reading; empty by default).
"""

DOCS["TeleportationParameters.state_fidelity"] = """
Fidelity of the state to send, a fraction (default 0.95); also the resource request's
target.
"""

DOCS["TeleportationParameters.classical_bandwidth_ms"] = """
Latency budget of the resource request in ms (default 100.0); +inf is refused.
"""

DOCS["TeleportationOutcome"] = "The outcome of a teleportation."

DOCS["TeleportationOutcome.__new__"] = {
    "doc": "An outcome record; nothing is checked.",
    "params": {
        "success": "Whether the resource fidelity is above 0.5.",
        "teleportation_fidelity": "Fidelity of the teleported state, a fraction.",
        "resource_entanglement_fidelity": "Fidelity of the resource pair, a fraction.",
        "latency_ms": "Time taken in ms.",
        "path": "Source, relay nodes, target.",
        "classical_bits_transferred": "Classical bits sent.",
    },
}

DOCS["TeleportationOutcome.success"] = "Whether the resource pair's fidelity is above 0.5."

DOCS["TeleportationOutcome.teleportation_fidelity"] = """
Fidelity of the teleported state, a fraction: min(state_fidelity * resource fidelity,
0.999), 0.0 when the resource request failed.
"""

DOCS["TeleportationOutcome.resource_entanglement_fidelity"] = """
Fidelity of the pair the resource request delivered, a fraction (0.0 when it failed).
"""

DOCS["TeleportationOutcome.latency_ms"] = """
The resource request's latency plus 0.25 ms per relay node, in ms.
"""

DOCS["TeleportationOutcome.path"] = """
Source, relay nodes, target (a new list); without a network the target is missing.
"""

DOCS["TeleportationOutcome.classical_bits_transferred"] = """
Classical bits sent for the Bell measurement outcome: always 2 from the protocol.
"""

DOCS["TeleportationStats"] = """
Summary of several teleportations. No operation produces it: a record to fill yourself.
"""

DOCS["TeleportationStats.__new__"] = {
    "doc": "A summary record; nothing is checked.",
    "params": {
        "total_runs": "Number of teleportations.",
        "success_rate": "Fraction of successful teleportations.",
        "mean_teleportation_fidelity": "Mean teleported fidelity, a fraction.",
        "teleportation_fidelity_stddev": "Standard deviation of that fidelity.",
        "mean_latency_ms": "Mean latency in ms.",
    },
}

DOCS["TeleportationStats.total_runs"] = "Number of teleportations summarised."
DOCS["TeleportationStats.success_rate"] = "Fraction of successful teleportations, 0..1."
DOCS["TeleportationStats.mean_teleportation_fidelity"] = "Mean teleported fidelity, a fraction."
DOCS["TeleportationStats.teleportation_fidelity_stddev"] = "Standard deviation of that fidelity."
DOCS["TeleportationStats.mean_latency_ms"] = "Mean latency in ms."

# Protocols: distributed computation ---------------------------------------------------------------

DOCS["BasisType"] = f"""
Measurement basis of a distributed computation: GHZ, Cluster or GraphGraph.

Recorded only: it changes no computed figure.

{_ENUM_EQUALITY}
"""

DOCS["BasisType.GHZ"] = 'GHZ basis (value 0; "ghz" in run_distributed_computation), the default.'
DOCS["BasisType.Cluster"] = 'Cluster-state basis (value 1; "cluster").'
DOCS["BasisType.GraphGraph"] = 'Graph-state basis (value 2; "graph").'

DOCS["CoordinationTopology"] = """
Which pairs of participants of a distributed computation need entanglement.

By kind: "star" joins every participant other than center_node to center_node; "ring" joins each
participant to the next and the last to the first (one participant: itself); "mesh" joins every
pair; any other kind, "arbitrary" included, uses edges as given (none when None).
"""

DOCS["CoordinationTopology.__new__"] = {
    "doc": "A topology record; nothing is checked (star, ring, mesh and arbitrary make one).",
    "params": {
        "kind": '"star", "ring", "mesh" or another text (then edges are used).',
        "center_node": "Center of a star; None counts as the empty id.",
        "edges": "Explicit (first, second) node id pairs, or None.",
    },
}

DOCS["CoordinationTopology.kind"] = """
The kind: "star", "ring" or "mesh" (exact spellings); any other text means the explicit
edges.
"""

DOCS["CoordinationTopology.center_node"] = "Center node id of a star, or None."

DOCS["CoordinationTopology.edges"] = """
Explicit edges, (first, second) node id pairs requested in this order, or None (a new
list).
"""

DOCS["CoordinationTopology.star"] = {
    "doc": "A star around center_node.",
    "params": {"center_node": "Id of the participant every other one is joined to."},
    "returns": 'A new CoordinationTopology of kind "star".',
}

DOCS["CoordinationTopology.ring"] = {
    "doc": "A ring of the participants in their order.",
    "params": {},
    "returns": 'A new CoordinationTopology of kind "ring".',
}

DOCS["CoordinationTopology.mesh"] = {
    "doc": "All pairs of participants.",
    "params": {},
    "returns": 'A new CoordinationTopology of kind "mesh".',
}

DOCS["CoordinationTopology.arbitrary"] = {
    "doc": "Explicit edges, requested in order (duplicates and non-participants included).",
    "params": {"edges": "(first, second) node id pairs; each requests first to second."},
    "returns": 'A new CoordinationTopology of kind "arbitrary".',
}

DOCS["MeasurementBasis"] = "A measurement basis and the correlation strength of the parties."

DOCS["MeasurementBasis.__new__"] = {
    "doc": "A basis record; nothing is checked.",
    "params": {
        "basis_type": "The basis; None: GHZ.",
        "correlation_strength": "Factor on each party's mean edge fidelity; None: 0.85.",
    },
}

DOCS["MeasurementBasis.basis_type"] = "The basis (recorded only; a new object on reading)."

DOCS["MeasurementBasis.correlation_strength"] = """
Factor applied to each party's mean edge fidelity (default 0.85).
"""

DOCS["DistributedComputingParameters"] = """
Parameters of a distributed computation, gathered in one record.

No operation takes it: pass its values to distributed_computation.
"""

DOCS["DistributedComputingParameters.__new__"] = {
    "doc": "A parameter record; nothing is checked.",
    "params": {
        "participants": "Node ids of the parties, in order.",
        "coordination_topology": "Which pairs need entanglement.",
        "measurement_basis": "Basis and correlation strength; None: GHZ with 0.85.",
        "classical_relay_latency_ms": "Classical latency per edge in ms; None: 5.0.",
    },
}

DOCS["DistributedComputingParameters.participants"] = "Node ids of the parties (a new list)."
DOCS["DistributedComputingParameters.coordination_topology"] = "Which pairs need entanglement."
DOCS["DistributedComputingParameters.measurement_basis"] = "Basis and correlation strength."

DOCS["DistributedComputingParameters.classical_relay_latency_ms"] = """
Classical latency per edge in ms (default 5.0).
"""

DOCS["PartyOutcome"] = "One participant's outcome in a distributed computation."

DOCS["PartyOutcome.__new__"] = {
    "doc": "An outcome record; nothing is checked.",
    "params": {
        "node_id": "The participant's node id.",
        "successful_measurement": "Whether its measurement succeeded.",
        "local_fidelity": "Its local fidelity, a fraction.",
    },
}

DOCS["PartyOutcome.node_id"] = "The participant's node id."

DOCS["PartyOutcome.successful_measurement"] = """
Whether every edge touching the participant delivered a fidelity above 0.5 (True without
edges).
"""

DOCS["PartyOutcome.local_fidelity"] = """
Mean fidelity of the participant's edges (1.0 without edges) times the correlation
strength, capped at 0.999.
"""

DOCS["DistributedComputingResult"] = "The outcome of a distributed computation."

DOCS["DistributedComputingResult.__new__"] = {
    "doc": "A result record; nothing is checked.",
    "params": {
        "success": "Whether the computation succeeded.",
        "computation_fidelity": "Fidelity of the computation, a fraction.",
        "party_results": "One outcome per participant.",
        "resource_links_used": 'The requested edges, "first->second".',
        "total_latency_ms": "Summed request latency in ms.",
        "coordination_overhead_ms": "Classical coordination time in ms.",
    },
}

DOCS["DistributedComputingResult.success"] = """
Whether there was at least one participant and every measurement succeeded.
"""

DOCS["DistributedComputingResult.computation_fidelity"] = """
Product of the participants' uncapped local fidelities, capped at 0.999 (a fraction).
"""

DOCS["DistributedComputingResult.party_results"] = """
One PartyOutcome per participant, in participant order (a new list).
"""

DOCS["DistributedComputingResult.resource_links_used"] = """
The requested edges as "first->second", in request order (a new list).
"""

DOCS["DistributedComputingResult.total_latency_ms"] = """
Sum of the edge requests' latencies in ms, failed requests included.
"""

DOCS["DistributedComputingResult.coordination_overhead_ms"] = """
Number of edges times classical_relay_latency_ms, in ms (not included in
total_latency_ms).
"""

DOCS["DistributedComputingStats"] = """
Summary of several distributed computations.

No operation produces it: a record to fill yourself.
"""

DOCS["DistributedComputingStats.__new__"] = {
    "doc": "A summary record; nothing is checked.",
    "params": {
        "total_runs": "Number of computations.",
        "success_rate": "Fraction of successful computations.",
        "mean_computation_fidelity": "Mean computation fidelity, a fraction.",
        "mean_party_success_rate": "Mean fraction of parties whose measurement succeeded.",
    },
}

DOCS["DistributedComputingStats.total_runs"] = "Number of computations summarised."
DOCS["DistributedComputingStats.success_rate"] = "Fraction of successful computations, 0..1."
DOCS["DistributedComputingStats.mean_computation_fidelity"] = "Mean computation fidelity."

DOCS["DistributedComputingStats.mean_party_success_rate"] = """
Mean fraction of parties whose measurement succeeded, 0..1.
"""

# Topology files -----------------------------------------------------------------------------------

DOCS["TavoFile"] = """
A .tavo topology file in memory: version, metadata, nodes, links and optional sections.

Build one with TavoFile(name), add_node and add_link, or read one with load_tavo_file; write it
with save. Nothing is checked until a file is loaded (see validate). Attribute reads return
copies: tf.links[0].distance_km = 99 changes a copy and leaves tf as it was. Read, modify,
write back:

    links = tf.links
    links[0].distance_km = 99.0
    tf.links = links
"""

DOCS["TavoFile.__new__"] = {
    "doc": 'An empty file of version "1.0": no nodes, no links, no optional sections.',
    "params": {"name": "The metadata name."},
}

DOCS["TavoFile.version"] = 'Format version; "1.0", the only one loading accepts.'
DOCS["TavoFile.metadata"] = "Name, description, author and date (a copy on reading)."

DOCS["TavoFile.nodes"] = """
The node entries (a new list of copies); assign a sequence of TavoNode to replace them.
"""

DOCS["TavoFile.links"] = """
The link entries (a new list of copies); assign a sequence of TavoLink to replace them.
"""

DOCS["TavoFile.config"] = """
Simulation settings that from_tavo_file reads, or None (a copy on reading).
"""

DOCS["TavoFile.constraints"] = """
A fidelity target and a latency budget for requests, or None (a copy on reading).
Recorded only: no operation applies them.
"""

DOCS["TavoFile.extensions"] = """
Any Python object, stored as given (not copied). Never written: saving omits the section,
and a loaded file has None here whatever its "extensions" section held.
"""

DOCS["TavoFile.add_node"] = {
    "doc": "Append a node entry; nothing is checked.",
    "params": {
        "id": "Node id; load_tavo_file refuses duplicates.",
        "memory_lifetime_ms": """
            Memory lifetime in ms (engines use seconds: the value is divided
            by 1000); None leaves it out of the file (1 s in an engine).
            """,
        "memory_capacity": "Number of memory slots, 0..4294967295, or None; recorded only.",
        "node_type": "Ground, Satellite or Repeater, or None; recorded only.",
    },
    "raises": ["OverflowError: memory_capacity is outside 0..4294967295."],
}

DOCS["TavoFile.add_link"] = {
    "doc": "Append a link entry; nothing is checked.",
    "params": {
        "id": 'Link id ("" writes an empty id).',
        "src": 'Id of one end node (JSON key "from").',
        "to": "Id of the other end node.",
        "distance_km": "Length in km; loading requires > 0.",
        "base_fidelity": "Fidelity of a fresh pair; loading requires 0 < f <= 1.",
        "generation_rate_hz": "Generation rate in Hz; loading requires > 0.",
        "link_type": "Fiber or Satellite, or None (Fiber in an engine).",
        "satellite": "Visibility and weather factors, or None (copied); no simulated effect.",
    },
}

DOCS["TavoFile.save"] = {
    "doc": """
        Write the file as pretty-printed JSON (two-space indentation).

        The file is replaced as a whole: the content goes to a new file that then takes the
        old one's place, so a failure leaves the old file as it was. A symbolic link is followed
        (the file it points to is replaced); a FIFO or a device is written in place; an existing
        file keeps its permission bits. Nothing is validated; optional values that are None and
        the extensions attribute are left out.
        """,
    "params": {"filepath": _PATH},
    "raises": _SAVE_ERRORS,
}

DOCS["TavoMetadata"] = "The metadata section of a .tavo file."

DOCS["TavoMetadata.__new__"] = {
    "doc": "A metadata record.",
    "params": {
        "name": "Name of the network.",
        "description": "Free text, or None.",
        "author": "Free text, or None.",
        "created_at": "A date as free text (not parsed), or None.",
    },
}

DOCS["TavoMetadata.name"] = "Name of the network."
DOCS["TavoMetadata.description"] = "Free text, or None."
DOCS["TavoMetadata.author"] = "Free text, or None."
DOCS["TavoMetadata.created_at"] = "A date as free text (not parsed), or None."

DOCS["TavoNode"] = "A node entry of a .tavo file."

DOCS["TavoNode.__new__"] = {
    "doc": "A node entry; nothing is checked.",
    "params": {
        "id": "Node id.",
        "memory_lifetime_ms": "Memory lifetime in ms, or None.",
        "memory_capacity": "Number of memory slots, 0..4294967295, or None.",
        "node_type": "Ground, Satellite or Repeater, or None.",
    },
    "raises": ["OverflowError: memory_capacity is outside 0..4294967295."],
}

DOCS["TavoNode.id"] = "Node id."

DOCS["TavoNode.memory_lifetime_ms"] = """
Memory lifetime in ms, or None. An engine takes it in seconds (divided by 1000; 1 s when
None) and the timeline does not use it.
"""

DOCS["TavoNode.memory_capacity"] = """
Number of memory slots, 0..4294967295, or None (other values raise OverflowError).
Recorded only.
"""

DOCS["TavoNode.node_type"] = "Ground, Satellite or Repeater, or None. Recorded only."

DOCS["TavoLink"] = """
A link entry of a .tavo file. The JSON key of src is "from". Links carry no direction.
"""

DOCS["TavoLink.__new__"] = {
    "doc": "A link entry; nothing is checked.",
    "params": {
        "id": "Link id.",
        "src": "Id of one end node.",
        "to": "Id of the other end node.",
        "distance_km": "Length in km.",
        "base_fidelity": "Fidelity of a fresh pair, a fraction.",
        "generation_rate_hz": "Generation rate in Hz.",
        "link_type": "Fiber or Satellite, or None.",
        "satellite": "Visibility and weather factors, or None.",
    },
}

DOCS["TavoLink.id"] = 'Link id ("" for a loaded link that had none).'
DOCS["TavoLink.src"] = 'Id of one end node (JSON key "from").'
DOCS["TavoLink.to"] = "Id of the other end node."
DOCS["TavoLink.distance_km"] = "Length in km; loading requires > 0."

DOCS["TavoLink.base_fidelity"] = """
Fidelity of a freshly generated pair, a fraction; loading requires 0 < f <= 1.
"""

DOCS["TavoLink.generation_rate_hz"] = "Generation rate in Hz; loading requires > 0."
DOCS["TavoLink.link_type"] = "Fiber or Satellite, or None (Fiber in an engine)."

DOCS["TavoLink.satellite"] = """
Visibility and weather factors of a satellite link, or None. No simulated effect.
"""

DOCS["TavoConfig"] = """
The config section of a .tavo file: from_tavo_file reads alpha_loss and max_attempts.
"""

DOCS["TavoConfig.__new__"] = {
    "doc": "A config section; fields left out stay None.",
    "params": {
        "alpha_loss": "Fiber attenuation in dB/km, or None.",
        "beta_fidelity_decay": "Recorded only, or None.",
        "gamma_swapping": "Recorded only, or None.",
        "max_attempts": "Attempt limit, 0..4294967295, or None.",
    },
    "raises": ["OverflowError: max_attempts is outside 0..4294967295."],
}

DOCS["TavoConfig.alpha_loss"] = """
Fiber attenuation in dB/km, or None: from_tavo_file sets baseline_purify_factor to a
tenth of it (0.22 when None).
"""

DOCS["TavoConfig.beta_fidelity_decay"] = "A fidelity decay parameter, or None. Recorded only."
DOCS["TavoConfig.gamma_swapping"] = "A swapping parameter, or None. Recorded only."

DOCS["TavoConfig.max_attempts"] = """
Attempt limit, 0..4294967295, or None: from_tavo_file sets total_time_cutoff_ms to 50 ms
times it (5000 ms when None).
"""

DOCS["TavoConstraints"] = """
The constraints section of a .tavo file: a fidelity target and a latency budget.

Recorded only: no operation applies them. Compares with == and != (equal when both fields are
equal, None with None; NaN never equal).
"""

DOCS["TavoConstraints.__new__"] = {
    "doc": "A constraints section; fields left out stay None.",
    "params": {
        "fidelity_target": "Fidelity target, a fraction, or None.",
        "max_latency_ms": "Latency budget in ms, or None.",
    },
}

DOCS["TavoConstraints.fidelity_target"] = "Fidelity target, a fraction, or None."
DOCS["TavoConstraints.max_latency_ms"] = "Latency budget in ms, or None."

DOCS["TavoNodeType"] = f"""
Type of a node entry; "ground", "satellite" or "repeater" in the file. Recorded only.

{_ENUM_EQUALITY}
"""

DOCS["TavoNodeType.Ground"] = 'A ground station ("ground").'
DOCS["TavoNodeType.Satellite"] = 'A satellite ("satellite").'
DOCS["TavoNodeType.Repeater"] = 'A repeater ("repeater").'

DOCS["TavoLinkType"] = f"""
Type of a link entry: "fiber" or "satellite" in the file.

An engine gets the LinkType of the same name (Fiber when None).

{_ENUM_EQUALITY}
"""

DOCS["TavoLinkType.Fiber"] = 'A fiber link ("fiber").'
DOCS["TavoLinkType.Satellite"] = 'A satellite link ("satellite").'

DOCS["TavoSatelliteExtension"] = """
The satellite section of a link entry: visibility and weather factors.

No simulated effect.
"""

DOCS["TavoSatelliteExtension.__new__"] = {
    "doc": "A satellite section; nothing is checked.",
    "params": {
        "visibility": "Visibility factor, a fraction; None: 1.0.",
        "weather_factor": "Weather factor, a fraction; None: 1.0.",
    },
}

DOCS["TavoSatelliteExtension.visibility"] = "Visibility factor of the satellite, a fraction of 1."
DOCS["TavoSatelliteExtension.weather_factor"] = "Weather factor, a fraction of 1."

DOCS["TavoSatelliteExtension.effective_rate"] = {
    "doc": "The generation rate left by these factors: base_rate * visibility * weather_factor.",
    "params": {"base_rate": "A generation rate in Hz."},
    "returns": "The rate in Hz, a float.",
}

# Snapshots and diffs ------------------------------------------------------------------------------

DOCS["TopologySnapshot"] = """
An engine's network in snapshot form: metadata, nodes, links and config.

TavoEngine.snapshot returns one; save_topology writes the same as JSON with camelCase keys.
Not a module attribute at runtime (see the module documentation) and without a constructor.
"""

DOCS["TopologySnapshot.metadata"] = "Name and version (a copy on reading)."
DOCS["TopologySnapshot.nodes"] = "The nodes, in definition order (a new list of copies)."

DOCS["TopologySnapshot.links"] = """
The links, in order, with their link types and without satellite conditions (a new list
of copies).
"""

DOCS["TopologySnapshot.config"] = "The exported configuration values (a copy on reading)."

DOCS["TopologyMetadata"] = "Name and version of a snapshot. No constructor."
DOCS["TopologyMetadata.name"] = 'Name; "exported_topology" for an engine\'s snapshot.'
DOCS["TopologyMetadata.version"] = 'Version text; "1.0" for an engine\'s snapshot.'

DOCS["TopologyConfig"] = """
Configuration values of a snapshot. No constructor; load_topology does not read them.
"""

DOCS["TopologyConfig.alpha_loss"] = """
Fiber attenuation in dB/km: 10 times the engine's baseline_purify_factor.
"""

DOCS["TopologyConfig.gamma_swapping"] = "The engine's baseline_purify_factor itself."

DOCS["TopologyDiff"] = """
What diff_topologies found between two snapshots. No constructor.

Nodes are matched by id, links by their key "from_node->to" (a reversed link is one removed and
one added). Removed and modified entries come in the first snapshot's order, added ones in the
second's.
"""

DOCS["TopologyDiff.name"] = 'The two snapshots\' metadata names: "{first} vs {second}".'

DOCS["TopologyDiff.summary"] = """
One line: "Diff for '{name}': 1 nodes added, ... 0 links modified." with the six counts.
"""

DOCS["TopologyDiff.nodes_added"] = "Ids of the second snapshot's nodes that the first lacks."
DOCS["TopologyDiff.nodes_removed"] = "Ids of the first snapshot's nodes that the second lacks."

DOCS["TopologyDiff.nodes_modified"] = """
Ids in both whose memory_lifetime_t2 differs by more than 0.001 s.
"""

DOCS["TopologyDiff.links_added"] = 'Keys "from->to" of the second snapshot that the first lacks.'
DOCS["TopologyDiff.links_removed"] = 'Keys "from->to" of the first snapshot that the second lacks.'

DOCS["TopologyDiff.links_modified"] = """
Keys in both whose links differ in distance, fidelity, rate, link type or satellite
conditions (exact comparison).
"""

# Topology comparison ------------------------------------------------------------------------------

DOCS["TopologyEndpoints"] = """
A reference topology by name with the source and target node ids of a request in it.

Names and their node ids: "telecom_backbone" or "fiber_only" (A to F), "repeater_chain" (N0 to
N3), "hybrid_satellite_fiber" or "hybrid" (Toronto, Montreal, London, SAT-1). Nothing is
checked until compare_topologies runs.
"""

DOCS["TopologyEndpoints.__new__"] = {
    "doc": "An endpoint record.",
    "params": {
        "topology_name": "Name of a reference topology.",
        "from_node": "Source node id in that topology.",
        "to_node": "Target node id in that topology.",
    },
}

DOCS["TopologyEndpoints.topology_name"] = "Name of a reference topology."
DOCS["TopologyEndpoints.from_node"] = "Source node id in that topology."
DOCS["TopologyEndpoints.to_node"] = "Target node id in that topology."

DOCS["TopologyComparisonResult"] = """
One topology's figures in a TopologyComparisonReport. No constructor.
"""

DOCS["TopologyComparisonResult.topology_name"] = """
The name as given in the endpoints (e.g. "hybrid", not its canonical name).
"""

DOCS["TopologyComparisonResult.success_rate"] = """
The ensemble's empirical_success_rate, a fraction 0..1.
"""

DOCS["TopologyComparisonResult.mean_fidelity"] = """
The ensemble's mean_fidelity (successful trials only; 0.0 when none).
"""

DOCS["TopologyComparisonResult.mean_latency_ms"] = "The ensemble's mean_latency_ms, in ms."

DOCS["TopologyComparisonResult.link_utilization"] = """
The ensemble's link_utilization_heatmap: attempts per hop "A->B" (a new dict).
"""

DOCS["TopologyComparisonReport"] = """
What compare_topologies returns: one result per endpoint and a recommendation.

No constructor.
"""

DOCS["TopologyComparisonReport.runs"] = "Trials per topology."

DOCS["TopologyComparisonReport.results"] = """
One TopologyComparisonResult per endpoint, in endpoint order (a new list of copies).
"""

DOCS["TopologyComparisonReport.summary"] = """
One paragraph: the number of topologies, the recommendation, the best success rate
(percent, truncated) and the lowest mean latency with their topologies, and the mean
fidelity; "No topologies evaluated" without endpoints.
"""

DOCS["TopologyComparisonReport.source_node"] = 'Source node of the first endpoint ("" if none).'
DOCS["TopologyComparisonReport.target_node"] = 'Target node of the first endpoint ("" if none).'
DOCS["TopologyComparisonReport.fidelity_target"] = "The fidelity target given, a fraction."
DOCS["TopologyComparisonReport.max_latency_ms"] = "The latency budget given, in ms."

DOCS["TopologyComparisonReport.recommended_topology"] = """
topology_name of the result with the highest success rate (the later one on a tie), or
"unknown" without endpoints.
"""

# Module functions ---------------------------------------------------------------------------------

DOCS["generate_topology"] = {
    "doc": """
        One of the built-in reference networks, the same on every call.

        "telecom_backbone": nodes A to F joined by seven fiber links of 5 to 5500 km;
        "repeater_chain": N0 to N3 joined by three 100 km fiber links; "hybrid_satellite_fiber":
        Toronto, Montreal and London over fiber, and a satellite node SAT-1 linked to Toronto
        and London.
        """,
    "params": {"name": "One of the three names above (case-sensitive)."},
    "returns": """
        A new NetworkTopologyPayload; pass its nodes and links to TavoEngine.define_network.
        """,
    "raises": [
        """ValueError: any other name ("Invalid topology name. Use: ..."); "fiber_only" and
            "hybrid" are known to compare_topologies only.""",
    ],
}

DOCS["compare_topologies"] = {
    "doc": """
        Simulate one request on several reference topologies and recommend one.

        Each endpoint's topology is built in a fresh engine with the engine default
        configuration and simulated for `runs` trials with a seed taken from the clock, so the
        figures vary from call to call. The recommended topology has the highest success rate
        (the later one on a tie).
        """,
    "params": {
        "endpoints": """
            TopologyEndpoints (tuples are refused): a topology name and the
            source and target node ids in it.
            """,
        "fidelity_target": "Fidelity every trial must reach, a fraction.",
        "max_latency_ms": "Latency budget of every trial in ms; +inf is refused.",
        "runs": "Trials per topology, 0 or more.",
        "strategy": "Routing strategy; None: HighestFidelity.",
    },
    "returns": "A new TopologyComparisonReport.",
    "raises": [
        """ValueError: an unknown topology name (before anything runs), a node id that is
            not in its topology ("Source node 'X' not found in topology ..."), or an
            infinite max_latency_ms.""",
    ],
}

DOCS["save_topology"] = {
    "doc": """
        Write the engine's network to a snapshot file.

        The content is that of TavoEngine.snapshot(), as JSON with camelCase keys. The file is replaced
        as a whole, as TavoFile.save does (symbolic links followed, permissions kept).
        """,
    "params": {"engine": "The engine whose network is written.", "filepath": _PATH},
    "raises": [
        'RuntimeError: the engine has no network ("No network topology to save").',
        """ValueError: a number is NaN or infinite ("links[0].distanceKm is not a finite
            number"); nothing is written.""",
        'RuntimeError: the write failed ("Failed to write topology file: ...").',
        _OS_ERRORS,
    ],
}

DOCS["load_topology"] = {
    "doc": """
        Replace the engine's network with the one in a snapshot file.

        The engine keeps its configuration; the snapshot's config, metadata and satellite
        conditions are not used, and nothing is validated. On failure the engine keeps its
        network.
        """,
    "params": {"engine": "The engine whose network is replaced.", "filepath": _PATH},
    "raises": [
        """RuntimeError: "Failed to read topology file: ..." (also for a file beyond
            1 GiB) or "Failed to parse topology JSON: ... at line L column C".""",
        _OS_ERRORS,
    ],
}

DOCS["validate"] = {
    "doc": """
        Check a .tavo file and return what is wrong with it instead of raising.

        Checks: node ids are unique; links join known, distinct nodes; distance_km > 0;
        0 < base_fidelity <= 1; generation_rate_hz > 0; the graph is connected.
        """,
    "params": {"filepath": _PATH},
    "returns": """
        A new dict: "valid" (bool), "filepath" (the path; bytes when given as bytes), "errors"
        (dicts with "type" and "message"), "warnings" (always empty).
        """,
    "raises": [
        """RuntimeError: the file cannot be read (or is beyond 1 GiB), is not JSON of the
            format, or its version is not "1.0" ("Failed to load {filepath}: ...").""",
        _OS_ERRORS,
    ],
}

DOCS["load_tavo_file"] = {
    "doc": "Read, parse and validate a .tavo file (alias: load).",
    "params": {"filepath": _PATH},
    "returns": """
        A new TavoFile. Links without an id get ""; the file's extensions section is dropped.
        """,
    "raises": _LOAD_ERRORS,
}

DOCS["diff"] = {
    "doc": """
        Compare two .tavo files, both loaded (and validated) as load_tavo_file does.

        Nodes are matched by id and links by "from->to"; an entry is modified when any of its
        fields differs (floats compared exactly).
        """,
    "params": {
        "file1": "The old file: a path as str, bytes or os.PathLike.",
        "file2": "The new file: a path as str, bytes or os.PathLike.",
    },
    "returns": """
        A new dict: "summary" (several lines; the only place that reports version, metadata,
        config, constraints and extension changes) and the lists "nodes_added",
        "nodes_removed", "nodes_modified", "links_added", "links_removed", "links_modified"
        (removed and modified in the first file's order, added in the second's). When a file
        cannot be loaded, only {"error": "Failed to load {path}: ..."} (the first file's
        failure when both fail): load failures are not raised.
        """,
}

DOCS["diff_topologies"] = {
    "doc": """
        Compare two snapshots: their metadata names, nodes and links (configs are ignored).
        """,
    "params": {
        "snapshot1": "The old snapshot (copied).",
        "snapshot2": "The new snapshot (copied).",
    },
    "returns": "A new TopologyDiff.",
}

DOCS["from_tavo_file"] = {
    "doc": """
        Load a .tavo file as load_tavo_file does and return an engine with its network.

        The configuration comes from the file's config section: without one, the engine default
        (baseline_purify_factor 0.12, total_time_cutoff_ms 5000); with one, alpha_loss / 10
        (0.22 when absent) and 50 * max_attempts ms (5000 when absent). The signal speed is
        200 km/ms and step_resolution_ms 0.1. Nodes and links become definitions as in
        TavoEngine.define_network_from_tavo (memory lifetimes from ms to s).
        """,
    "params": {"filepath": _PATH},
    "returns": "A new TavoEngine.",
    "raises": _LOAD_ERRORS,
}

DOCS["save_tavo_file_wrapper"] = {
    "doc": "Save a TavoFile: the same as qf.save(filepath) (alias: save).",
    "params": {"qf": "The file to write (copied).", "filepath": _PATH},
    "raises": _SAVE_ERRORS,
}

DOCS["qkd"] = {
    "doc": """
        Run BB84-style quantum key distribution between two nodes.

        The same as TavoEngine.run_qkd, with sifting_overhead_ratio 0.5 and
        privacy_amplification_factor 0.8.
        """,
    "params": {
        "engine": "The engine whose network is used (read only).",
        "from_node": "Node id of one party (each round's request source).",
        "to_node": "Node id of the other party.",
        "fidelity_target": "Fidelity target of every round's request, a fraction.",
        "max_latency_ms": "Time budget of the whole exchange in ms; +inf is refused.",
        "rounds": "Number of rounds to attempt, 0 or more; None: 100.",
        "error_rate_tolerance": "The QBER must be below it for a key; None: 0.11.",
    },
    "returns": "A new QKDResult.",
    "raises": DOCS["TavoEngine.run_qkd"]["raises"],
}

DOCS["teleportation"] = {
    "doc": """
        Teleport a quantum state between two nodes.

        The same as TavoEngine.execute_teleportation, without relay nodes.
        """,
    "params": {
        "engine": "The engine whose network is used (read only).",
        "source_node": "Node id holding the state to send.",
        "target_node": "Node id receiving it.",
        "state_fidelity": "Fidelity of the state and the request's target; None: 0.95.",
        "classical_bandwidth_ms": "Latency budget of the request in ms; None: 100.0.",
    },
    "returns": "A new TeleportationOutcome.",
    "raises": DOCS["TavoEngine.execute_teleportation"]["raises"],
}

DOCS["distributed_computation"] = {
    "doc": """
        Run a distributed computation across participating nodes.

        The same as TavoEngine.run_distributed_computation with the topology and basis given
        as objects. A kind of exactly "star" uses center_node as the center ("" when None);
        "ring" and "mesh" are as there; any other kind uses the topology's edges (none when
        None), without an error.
        """,
    "params": {
        "engine": "The engine whose network is used (read only).",
        "participants": "Node ids of the parties, in order (duplicates are kept).",
        "coordination_topology": "Which pairs need entanglement.",
        "measurement_basis": "Basis (recorded only) and correlation strength.",
        "classical_relay_latency_ms": """
            Classical latency per edge in ms; None: 5.0 (each request's
            budget is ten times it).
            """,
    },
    "returns": "A new DistributedComputingResult.",
    "raises": [
        """ValueError: an infinite classical_relay_latency_ms or total_time_cutoff_ms when
            there are edges, or both an edge budget and total_time_cutoff_ms beyond
            2**55 ms.""",
    ],
}

DOCS["_Cancellation"] = """
For tavo_tools (private): cancels the long calls of the threads that watch it.

Signals reach the main thread only. A pool's worker thread runs its calls inside
`with cancellation:`; once any thread calls cancel(), every long call of the watching threads
stops at its next look for Ctrl-C (within a few tens of ms) with KeyboardInterrupt, leaving
every object as it was, and so does every later one until the watch ends. A copy or an
unpickled one is a new, uncancelled handle.
"""

DOCS["_Cancellation.__new__"] = {"doc": "A new, uncancelled handle.", "params": {}}

DOCS["_Cancellation.cancel"] = {
    "doc": "Stop the long calls of the threads that watch this (from any thread; idempotent).",
    "params": {},
}

DOCS["_Cancellation.__enter__"] = {
    "doc": "Watch this from the calling thread until the matching __exit__ (watches nest).",
    "params": {},
}

DOCS["_Cancellation.__exit__"] = {
    "doc": "End the calling thread's latest watch of this.",
    "params": {
        "exc_type": "Ignored (the context-manager protocol).",
        "exc_value": "Ignored.",
        "traceback": "Ignored.",
    },
    "raises": ["RuntimeError: the calling thread does not watch this."],
}

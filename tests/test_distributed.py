"""Distributed computation: the edges each coordination topology requires and their order, the per-party
fidelities and measurements, the capped product, the validation of the named form, the records and the
Python surface."""

import math

import pytest
from docs_support import documented_after

from tavo_core import (BasisType, CoordinationTopology, DistributedComputingParameters, DistributedComputingResult,
                       DistributedComputingStats, LinkDefinition, MeasurementBasis, NodeDefinition, PartyOutcome,
                       TavoEngine, distributed_computation)

DOC = "Run a distributed quantum computing protocol across participating nodes."

# Every pair of A, B, C, D is joined by a 0 km link at or above the fixed target of 0.9, so each
# request succeeds in its first cycle at 0.0 ms with the link's own fidelity; no two-hop route
# (at most 0.95 * 0.95 < 0.91) beats a direct one. F lies 20000 km (100 ms) away from A.
FIDELITY = {("A", "B"): 0.95, ("A", "C"): 0.94, ("A", "D"): 0.93, ("B", "C"): 0.92, ("B", "D"): 0.91, ("C", "D"): 0.935}
TOPOLOGY_ERROR = "coordination_topology must be one of: 'star', 'ring', 'mesh'"
BASIS_ERROR = "basis_type must be one of: 'ghz', 'cluster', 'graph'"


@pytest.fixture(scope="module")
def engine():
    links = [LinkDefinition(a, b, 0.0, f, 10.0) for (a, b), f in FIDELITY.items()]
    links.append(LinkDefinition("A", "F", 20000.0, 0.99, 10.0))
    engine = TavoEngine()
    engine.define_network([NodeDefinition(n, 1.0) for n in "ABCDF"], links)
    return engine


def link(a, b):
    if a == b:
        return 1.0  # a node shares a perfect pair with itself
    return FIDELITY.get((a, b), FIDELITY.get((b, a), 0.0))


def expected(participants, edges, correlation=0.85, relay=5.0):
    """The computation from the protocol's formulas, for links that all answer at 0.0 ms."""
    fidelities = [link(a, b) for a, b in edges]
    parties, product = [], 1.0
    for p in participants:
        touching = [f for (a, b), f in zip(edges, fidelities) if p in (a, b)]
        mean = sum(touching) / len(touching) if touching else 1.0
        local = mean * correlation
        parties.append((p, all(f > 0.5 for f in touching), min(local, 0.999)))
        product *= local
    success = bool(participants) and all(ok for _, ok, _ in parties)
    links = [f"{a}->{b}" for a, b in edges]
    return success, min(product, 0.999), parties, links, 0.0, len(edges) * relay


def fields(result):
    parties = [(p.node_id, p.successful_measurement, p.local_fidelity) for p in result.party_results]
    return (result.success, result.computation_fidelity, parties, result.resource_links_used,
            result.total_latency_ms, result.coordination_overhead_ms)


@pytest.mark.parametrize(
    "participants, kind, edges",
    [
        ("ABC", "star", [("B", "A"), ("C", "A")]),
        ("AB", "ring", [("A", "B"), ("B", "A")]),
        ("ABCD", "ring", [("A", "B"), ("B", "C"), ("C", "D"), ("D", "A")]),
        ("A", "ring", [("A", "A")]),
        ("ABCD", "mesh", [("A", "B"), ("A", "C"), ("A", "D"), ("B", "C"), ("B", "D"), ("C", "D")]),
        ("ABA", "star", [("B", "A")]),  # duplicates are kept as parties, and the center is skipped twice
        ("ABA", "mesh", [("A", "B"), ("A", "A"), ("B", "A")]),
    ],
)
@pytest.mark.parametrize("basis", ["ghz", "cluster", "graph"])
def test_named_topologies(engine, participants, kind, edges, basis):
    result = engine.run_distributed_computation(list(participants), kind, basis)
    assert fields(result) == expected(list(participants), edges)


@pytest.mark.parametrize(
    "topology, participants, edges",
    [
        (CoordinationTopology.star("C"), "ABC", [("A", "C"), ("B", "C")]),
        (CoordinationTopology.star("D"), "AB", [("A", "D"), ("B", "D")]),
        (CoordinationTopology("star"), "AB", [("A", ""), ("B", "")]),  # no center: the empty id
        (CoordinationTopology.ring(), "ABC", [("A", "B"), ("B", "C"), ("C", "A")]),
        (CoordinationTopology.mesh(), "ABC", [("A", "B"), ("A", "C"), ("B", "C")]),
        (CoordinationTopology.arbitrary([("D", "C"), ("A", "B"), ("A", "B")]), "AB",
         [("D", "C"), ("A", "B"), ("A", "B")]),
        (CoordinationTopology("Star", "A"), "AB", []),  # unknown kinds are explicit edge lists
        (CoordinationTopology("ring", None, [("A", "B")]), "ABC", [("A", "B"), ("B", "C"), ("C", "A")]),
        (CoordinationTopology("anything", "A", [("C", "B")]), "ABE", [("C", "B")]),
    ],
)
def test_topology_objects(engine, topology, participants, edges):
    result = distributed_computation(engine, list(participants), topology, MeasurementBasis(BasisType.Cluster, 0.9), 2.0)
    assert fields(result) == expected(list(participants), edges, 0.9, 2.0)


def test_capped_parties_and_uncapped_product(engine):
    # A sees one 0.95 pair (local 1.14, reported 0.999); B also sees a failed pair to Z (mean 0.475).
    topology = CoordinationTopology.arbitrary([("A", "B"), ("B", "Z")])
    result = distributed_computation(engine, ["A", "B"], topology, MeasurementBasis(None, 1.2))
    a, b = 0.95 * 1.2, (0.95 + 0.0) / 2 * 1.2
    assert fields(result) == (False, a * b, [("A", True, 0.999), ("B", False, b)], ["A->B", "B->Z"], 0.0, 10.0)
    assert a * b > 0.999 * b
    # A product above the cap is capped, as is every party.
    big = distributed_computation(engine, ["A", "B"], CoordinationTopology.mesh(), MeasurementBasis(None, 2.0))
    assert big.computation_fidelity == 0.999
    assert [p.local_fidelity for p in big.party_results] == [0.999, 0.999]


def test_failed_requests_add_their_latency(engine):
    # The budget is ten relay latencies (50 ms); 100 ms of propagation breaks it, both ways.
    result = engine.run_distributed_computation(["A", "F"], "ring", "ghz")
    assert fields(result) == (False, 0.0, [("A", False, 0.0), ("F", False, 0.0)], ["A->F", "F->A"], 200.0, 10.0)


@pytest.mark.parametrize("kind", ["star", "ring", "mesh"])
@pytest.mark.parametrize("relay", [None, math.inf])
def test_no_participants(engine, kind, relay):
    # Without edges there is no overhead, even at an infinite relay latency.
    result = engine.run_distributed_computation([], kind, "ghz", None, relay)
    assert fields(result) == (False, 0.999, [], [], 0.0, 0.0)


def test_without_network_nothing_is_requested():
    empty = (False, 0.0, [], [], 0.0, 0.0)
    assert fields(TavoEngine().run_distributed_computation(["A", "B"], "mesh", "ghz")) == empty
    topology = CoordinationTopology.ring()
    assert fields(distributed_computation(TavoEngine(), ["A", "B"], topology, MeasurementBasis())) == empty


@pytest.mark.parametrize(
    "kind, basis, message",
    [
        ("x", "ghz", TOPOLOGY_ERROR),
        ("star", "x", BASIS_ERROR),
        ("x", "y", TOPOLOGY_ERROR),  # the topology is checked first
        ("STAR", "ghz", TOPOLOGY_ERROR),
        ("Star", "ghz", TOPOLOGY_ERROR),
        ("arbitrary", "ghz", TOPOLOGY_ERROR),
        ("ring", "GHZ", BASIS_ERROR),
        ("mesh", "graphgraph", BASIS_ERROR),
    ],
)
@pytest.mark.parametrize("with_network", [True, False])
def test_names_are_validated_in_order(engine, kind, basis, message, with_network):
    chosen = engine if with_network else TavoEngine()
    with pytest.raises(ValueError) as error:
        chosen.run_distributed_computation(["A", "B"], kind, basis)
    assert str(error.value) == message


def test_basis_type_members():
    members = [BasisType.GHZ, BasisType.Cluster, BasisType.GraphGraph]
    assert [repr(m) for m in members] == ["BasisType.GHZ", "BasisType.Cluster", "BasisType.GraphGraph"]
    with pytest.raises(TypeError, match="^No constructor defined$"):
        BasisType()


def test_records_defaults_and_copies():
    topologies = [CoordinationTopology.star("A"), CoordinationTopology.ring(), CoordinationTopology.mesh(),
                  CoordinationTopology.arbitrary([("A", "B")])]
    assert [(t.kind, t.center_node, t.edges) for t in topologies] == [
        ("star", "A", None), ("ring", None, None), ("mesh", None, None), ("arbitrary", None, [("A", "B")])]
    params = DistributedComputingParameters(["A", "B"], topologies[0])
    assert (repr(params.measurement_basis.basis_type), params.measurement_basis.correlation_strength,
            params.classical_relay_latency_ms) == ("BasisType.GHZ", 0.85, 5.0)
    params.measurement_basis.correlation_strength = 0.1
    topologies[0].center_node = "Z"  # the parameters hold their own copy
    assert (params.measurement_basis.correlation_strength, params.coordination_topology.center_node) == (0.85, "A")
    result = DistributedComputingResult(True, 0.5, [PartyOutcome("A", True, 0.5)], ["A->B"], 1.0, 2.0)
    result.party_results[0].node_id = "Z"
    assert result.party_results[0].node_id == "A"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda e: distributed_computation(e, ["A"], "star", MeasurementBasis()),
         "argument 'coordination_topology': 'str' object cannot be converted to 'CoordinationTopology'"),
        (lambda e: distributed_computation("e", ["A"], CoordinationTopology.ring(), MeasurementBasis()),
         "argument 'engine': 'str' object cannot be converted to 'TavoEngine'"),
        (lambda e: e.run_distributed_computation("AB", "ring", "ghz"),
         "argument 'participants': Can't extract `str` to `Vec`"),
        (lambda e: e.run_distributed_computation(["A"], "ring", BasisType.GHZ), "argument 'basis_type': "),
        (lambda e: MeasurementBasis("ghz"), "argument 'basis_type': 'str' object cannot be converted to 'BasisType'"),
    ],
)
def test_argument_errors_name_the_argument(engine, call, message):
    with pytest.raises(TypeError) as error:
        call(engine)
    assert str(error.value).startswith(message)


def test_negative_count_is_refused():
    with pytest.raises(OverflowError):
        DistributedComputingStats(-1, 0.0, 0.0, 0.0)


@pytest.mark.parametrize(
    "value, text",
    [
        (PartyOutcome("node 7", False, 0.85), "PartyOutcome(node 7, success=false, fidelity=0.8500)"),
        (DistributedComputingResult(True, 0.61, [PartyOutcome("A", True, 0.5)] * 3, [], 0.0, 0.0),
         "DistributedComputingResult(success=true, fidelity=0.6100, parties=3)"),
        (DistributedComputingStats(4, 0.75, 0.81234, 0.5), "DistributedComputingStats(runs=4, success=75, fidelity=0.8123)"),
    ],
)
def test_representations(value, text):
    assert repr(value) == text


@pytest.mark.parametrize(
    "callable_, signature, doc",
    [
        (CoordinationTopology.star, "(center_node)", "Create a star topology with the given center node."),
        (CoordinationTopology.ring, "()", "Create a ring topology."),
        (CoordinationTopology.mesh, "()", "Create a mesh (all-to-all) topology."),
        (CoordinationTopology.arbitrary, "(edges)", "Create an arbitrary topology with explicit edges."),
        (TavoEngine.run_distributed_computation, "($self, participants, coordination_topology, basis_type, "
                                                 "correlation_strength=None, classical_relay_latency_ms=None)", DOC),
        (distributed_computation, "(engine, participants, coordination_topology, measurement_basis, "
                                  "classical_relay_latency_ms=None)", DOC),
        (TavoEngine.run_qkd, "($self, params)", "Run BB84-style quantum key distribution between two nodes."),
        (TavoEngine.execute_teleportation, "($self, params)",
         "Execute entanglement-based quantum state teleportation between two nodes."),
    ],
)
def test_signatures_and_docstrings(callable_, signature, doc):
    assert callable_.__text_signature__ == signature
    documented_after(callable_.__doc__, doc)

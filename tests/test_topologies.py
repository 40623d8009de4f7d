"""Reference topologies and the comparison of one request across them."""

import math

import pytest
from docs_support import documented_after

import tavo_core as tavo

E = tavo.TopologyEndpoints

TELECOM_NODES = [("A", 120.0), ("B", 150.0), ("C", 200.0), ("D", 200.0), ("E", 250.0), ("F", 180.0)]
TELECOM_LINKS = [
    ("A", "B", 5.0, 0.97, 2000.0),
    ("B", "C", 80.0, 0.93, 1200.0),
    ("C", "D", 600.0, 0.88, 600.0),
    ("D", "E", 5500.0, 0.75, 150.0),
    ("C", "F", 900.0, 0.91, 500.0),
    ("F", "E", 4800.0, 0.80, 200.0),
    ("B", "F", 1200.0, 0.85, 400.0),
]
HYBRID_NODES = [("Toronto", 150.0), ("Montreal", 180.0), ("London", 220.0), ("SAT-1", 300.0)]
HYBRID_LINKS = [
    ("Toronto", "Montreal", 500.0, 0.90, 1000.0, "Fiber", None),
    ("Montreal", "London", 5500.0, 0.75, 200.0, "Fiber", None),
    ("Toronto", "SAT-1", 1000.0, 0.98, 50.0, "Satellite", (0.95, 0.98)),
    ("SAT-1", "London", 6000.0, 0.97, 50.0, "Satellite", (0.85, 0.90)),
]


def node_rows(payload):
    return [(n.id, n.memory_lifetime_t2) for n in payload.nodes]


def link_rows(payload):
    rows = []
    for link in payload.links:
        conditions = link.satellite_conditions
        rows.append((
            link.from_node, link.to, link.distance_km, link.base_fidelity, link.generation_rate_hz,
            repr(link.link_type).split(".")[1],
            None if conditions is None else (conditions.visibility, conditions.weather_factor),
        ))
    return rows


class TestGenerators:
    def test_telecom_backbone_table(self):
        payload = tavo.generate_topology("telecom_backbone")
        assert node_rows(payload) == TELECOM_NODES
        assert link_rows(payload) == [row + ("Fiber", None) for row in TELECOM_LINKS]

    def test_repeater_chain_has_four_nodes_in_a_line(self):
        payload = tavo.generate_topology("repeater_chain")
        assert node_rows(payload) == [(f"N{i}", 150.0) for i in range(4)]
        assert link_rows(payload) == [
            (f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0, "Fiber", None) for i in range(3)
        ]

    def test_hybrid_table_with_satellite_conditions(self):
        payload = tavo.generate_topology("hybrid_satellite_fiber")
        assert node_rows(payload) == HYBRID_NODES
        assert link_rows(payload) == HYBRID_LINKS

    @pytest.mark.parametrize(
        "name", ["hybrid", "fiber_only", "Telecom_Backbone", "REPEATER_CHAIN", "", " repeater_chain"]
    )
    def test_other_names_are_refused(self, name):
        with pytest.raises(ValueError) as error:
            tavo.generate_topology(name)
        assert str(error.value) == (
            "Invalid topology name. Use: 'telecom_backbone', 'repeater_chain', or "
            "'hybrid_satellite_fiber'"
        )

    def test_name_must_be_text(self):
        with pytest.raises(TypeError, match=r"^argument 'name': "):
            tavo.generate_topology(3)

    def test_calls_return_equal_independent_payloads(self):
        first = tavo.generate_topology("telecom_backbone")
        second = tavo.generate_topology("telecom_backbone")
        nodes = first.nodes
        nodes[0].id = "changed"
        first.nodes = nodes
        assert first.nodes[0].id == "changed"
        assert second.nodes[0].id == "A"
        assert link_rows(second) == link_rows(tavo.generate_topology("telecom_backbone"))

    def test_payload_defines_a_network_every_link_endpoint_is_a_node(self):
        for name in ("telecom_backbone", "repeater_chain", "hybrid_satellite_fiber"):
            payload = tavo.generate_topology(name)
            ids = {n.id for n in payload.nodes}
            assert all(l.from_node in ids and l.to in ids for l in payload.links)
            engine = tavo.TavoEngine()
            engine.define_network(payload.nodes, payload.links)
            assert engine.request_entanglement(
                payload.links[0].from_node, payload.links[-1].to, 0.0, 1e6
            ).execution_path


UNREACHABLE = 1.5  # above every route fidelity and every purified one: trials fail at 0.0 ms


class TestComparisonValidation:
    def test_unknown_name_is_refused_before_anything(self):
        with pytest.raises(ValueError) as error:
            tavo.compare_topologies(
                [E("telecom_backbone", "A", "Nowhere"), E("Hybrid", "Toronto", "London")], 0.8, 100.0, 5
            )
        # Names are checked for every endpoint before any node is.
        assert str(error.value) == (
            "Unknown topology in endpoints: 'Hybrid'. Supported: fiber_only, telecom_backbone, "
            "repeater_chain, hybrid_satellite_fiber, hybrid"
        )

    @pytest.mark.parametrize(
        "endpoint, message",
        [
            (E("repeater_chain", "N9", "N0"),
             "Source node 'N9' not found in topology 'repeater_chain'. "
             'Available nodes: ["N0", "N1", "N2", "N3"]'),
            (E("hybrid", "Toronto", "Paris"),
             "Target node 'Paris' not found in topology 'hybrid'. "
             'Available nodes: ["Toronto", "Montreal", "London", "SAT-1"]'),
            (E("fiber_only", "a", "z"),
             "Source node 'a' not found in topology 'fiber_only'. "
             'Available nodes: ["A", "B", "C", "D", "E", "F"]'),
        ],
    )
    def test_missing_nodes(self, endpoint, message):
        with pytest.raises(ValueError) as error:
            tavo.compare_topologies([E("telecom_backbone", "A", "C"), endpoint], 0.8, 100.0, 5)
        assert str(error.value) == message

    @pytest.mark.parametrize(
        "endpoints, message",
        [
            ([("telecom_backbone", "A", "C")],
             "argument 'endpoints': 'tuple' object cannot be converted to 'TopologyEndpoints'"),
            ("telecom_backbone", "argument 'endpoints': Can't extract `str` to `Vec`"),
        ],
    )
    def test_wrong_element_types(self, endpoints, message):
        with pytest.raises(TypeError) as error:
            tavo.compare_topologies(endpoints, 0.8, 100.0, 5)
        assert str(error.value) == message

    def test_negative_runs_fail_conversion(self):
        with pytest.raises(OverflowError):
            tavo.compare_topologies([E("telecom_backbone", "A", "C")], 0.8, 100.0, -1)


class TestComparisonReport:
    def test_empty_endpoints(self):
        report = tavo.compare_topologies([], 0.8, 100.0, 10)
        assert report.results == []
        assert report.recommended_topology == "unknown"
        assert report.summary == "No topologies evaluated"
        assert (report.source_node, report.target_node) == ("", "")
        assert (report.runs, report.fidelity_target, report.max_latency_ms) == (10, 0.8, 100.0)

    def test_equal_rates_recommend_the_later_and_equal_latencies_the_earlier(self):
        report = tavo.compare_topologies(
            [E("telecom_backbone", "A", "C"), E("repeater_chain", "N0", "N3"),
             E("hybrid", "Toronto", "London")],
            UNREACHABLE, 100.0, 20,
        )
        assert [r.success_rate for r in report.results] == [0.0, 0.0, 0.0]
        assert [r.mean_latency_ms for r in report.results] == [0.0, 0.0, 0.0]
        assert report.recommended_topology == "hybrid"
        assert report.summary == (
            "Evaluated 3 topologies. Recommended: hybrid. Best success rate: 0 (hybrid), "
            "Best latency: 0.00ms (telecom_backbone). Average fidelity: 0.0000."
        )
        assert (report.source_node, report.target_node) == ("A", "C")

    def test_zero_runs_keep_the_first_result(self):
        report = tavo.compare_topologies(
            [E("repeater_chain", "N0", "N3"), E("telecom_backbone", "A", "E")], 0.8, 100.0, 0
        )
        assert all(math.isnan(r.success_rate) and math.isnan(r.mean_latency_ms) for r in report.results)
        assert all(r.mean_fidelity == 0.0 and r.link_utilization == {} for r in report.results)
        assert report.recommended_topology == "repeater_chain"
        assert report.summary == (
            "Evaluated 2 topologies. Recommended: repeater_chain. Best success rate: 0 "
            "(repeater_chain), Best latency: NaNms (repeater_chain). Average fidelity: 0.0000."
        )

    def test_certain_success_prints_a_whole_percentage(self):
        # A request from a node to itself needs no link: every trial succeeds at once.
        report = tavo.compare_topologies([E("fiber_only", "B", "B")], 0.9, 100.0, 30)
        (result,) = report.results
        assert (result.topology_name, result.success_rate, result.mean_latency_ms) == ("fiber_only", 1.0, 0.0)
        assert result.mean_fidelity == 1.0
        assert report.summary == (
            "Evaluated 1 topologies. Recommended: fiber_only. Best success rate: 100 (fiber_only), "
            "Best latency: 0.00ms (fiber_only). Average fidelity: 1.0000."
        )

    def test_results_keep_the_given_names_and_order(self):
        endpoints = [E("hybrid", "Toronto", "London"), E("telecom_backbone", "A", "E"),
                     E("telecom_backbone", "B", "D")]
        report = tavo.compare_topologies(endpoints, 0.7, 5000.0, 200, tavo.StrategyType.HighestFidelity)
        assert [r.topology_name for r in report.results] == ["hybrid", "telecom_backbone", "telecom_backbone"]
        for result in report.results:
            assert 0.0 <= result.success_rate <= 1.0
            counts = set(result.link_utilization.values())
            assert len(counts) == 1  # every hop of the route fires once per cycle
        assert set(report.results[0].link_utilization) == {"Toronto->SAT-1", "SAT-1->London"}
        best = max(range(3), key=lambda i: (report.results[i].success_rate, i))
        assert report.recommended_topology == report.results[best].topology_name

    def test_report_attributes_are_copies(self):
        report = tavo.compare_topologies([E("repeater_chain", "N0", "N1")], 0.5, 100.0, 5)
        results = report.results
        results[0].topology_name = "changed"
        assert report.results[0].topology_name == "repeater_chain"
        usage = report.results[0].link_utilization
        usage["extra"] = 1
        assert "extra" not in report.results[0].link_utilization
        report.results = results
        assert report.results[0].topology_name == "changed"
        with pytest.raises(TypeError):
            report.results = [1]

    @pytest.mark.parametrize("cls", ["TopologyComparisonResult", "TopologyComparisonReport"])
    def test_results_have_no_constructor(self, cls):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            getattr(tavo, cls)()

    def test_endpoints_record(self):
        endpoint = E("anything", "x", "y")
        assert (endpoint.topology_name, endpoint.from_node, endpoint.to_node) == ("anything", "x", "y")
        endpoint.to_node = "z"
        assert endpoint.to_node == "z"
        assert tavo.TopologyEndpoints.__text_signature__ == "(topology_name, from_node, to_node)"

    def test_docstring_and_signature(self):
        function = tavo.compare_topologies
        assert function.__text_signature__ == (
            "(endpoints, fidelity_target, max_latency_ms, runs, strategy=None, config=None)"
        )
        fixed = function.__doc__.split("\n```\n\n", 1)[0] + "\n```"
        assert "Args:\n    endpoints:" in documented_after(function.__doc__, fixed)
        lines = fixed.split("\n")
        assert lines[0] == "Compare multiple network topologies for the same entanglement request"
        assert lines[6] == (
            "* `endpoints` - List of (topology_name, from_node, to_node) tuples, one per topology."
        )
        assert "\u2192" in lines[8]
        assert lines[-1] == "```" and lines[-2] == 'print(f"Recommended: {report.recommended_topology}")'
        assert "    endpoints=[" in lines

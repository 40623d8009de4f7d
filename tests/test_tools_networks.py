"""Own networks: networkx graphs in and out (round trips, attributes, errors) and comparisons of
networks given as engines, files or paths."""

import json
import math
import pathlib

import networkx as nx
import pytest

import tavo_core as tavo
import tavo_tools
from tavo_tools.frames import wilson_interval
from tavo_tools.plot import file_layout
from tools_support import LINKS, chain_engine

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.tavo"


def network(engine):
    """The engine's configuration, nodes and links as plain values, in order."""
    config = engine.config
    links = []
    for link in engine.links:
        conditions = link.satellite_conditions
        links.append(
            (
                link.from_node,
                link.to,
                link.distance_km,
                link.base_fidelity,
                link.generation_rate_hz,
                repr(link.link_type),
                None if conditions is None else (conditions.visibility, conditions.weather_factor),
            )
        )
    return (
        (
            config.total_time_cutoff_ms,
            config.physical.baseline_purify_factor,
            config.physical.speed_of_light_in_fiber_km_ms,
        ),
        [(node.id, node.memory_lifetime_t2) for node in engine.nodes],
        links,
    )


@pytest.mark.parametrize(
    "links, multigraph",
    [
        (LINKS, False),
        # Links listed against the graph's edge order, one running "backwards", and two parallel
        # links whose order decides which one the engine routes over.
        (
            [
                ("C", "D", 500.0, 0.93, 400.0, True),
                ("B", "A", 20.0, 0.97, 1500.0, False),
                ("B", "C", 40.0, 0.95, 1000.0, False),
                ("C", "B", 10.0, 0.99, 1000.0, False),
            ],
            True,
        ),
    ],
)
def test_round_trip_keeps_the_network(links, multigraph):
    engine = chain_engine(links=links, config=tavo.SimulationConfig(4000.0, 0.5, 0.3))
    graph = tavo_tools.to_networkx(engine, multigraph=multigraph)
    assert isinstance(graph, nx.MultiGraph if multigraph else nx.Graph)
    back = tavo_tools.from_networkx(graph)
    assert network(back) == network(engine)
    other = tavo.SimulationConfig(100.0)
    assert network(tavo_tools.from_networkx(graph, other))[0][0] == 100.0
    stats = [
        e.simulate("A", "D", 0.75, 600.0, 500, None, 1).empirical_success_rate
        for e in (engine, back)
    ]
    assert stats[0] == stats[1]


def test_parallel_links_need_a_multigraph():
    engine = chain_engine(links=LINKS + [("B", "A", 5.0, 0.9, 10.0, False)])
    with pytest.raises(ValueError, match="several links between 'B' and 'A'; pass multigraph"):
        tavo_tools.to_networkx(engine)


def test_a_file_brings_its_name_and_layout(tmp_path):
    document = json.loads(DEMO.read_text())
    document["extensions"] = {"custom": {"layout": {"Alice": [0, 1], "Bob": [2, 3]}}}
    path = tmp_path / "placed.tavo"
    path.write_text(json.dumps(document))
    loaded = tavo.load(str(path))
    for source in (path, str(path), loaded):
        graph = tavo_tools.to_networkx(source)
        assert graph.graph["name"] == "metro-demo"
        # A path is read as text; a loaded file has what the loader kept.
        places = {"Alice": (0.0, 1.0), "Bob": (2.0, 3.0)}
        if source is loaded:
            places = file_layout(loaded.extensions)
        assert {node: pos for node, pos in graph.nodes(data="pos") if pos} == places
        # The engine is the one from_tavo_file builds, the file's configuration included.
        engine = tavo.from_tavo_file(str(path))
        assert network(tavo_tools.from_networkx(graph)) == network(engine)


def test_graphs_built_by_hand():
    graph = nx.DiGraph()
    graph.add_node(1, memory_lifetime_t2=0.5, colour="red")  # extra attributes are ignored
    graph.add_node(2)
    graph.add_node("three", memory_lifetime_t2=2.0)
    graph.add_edge(1, 2, distance_km=10, base_fidelity=0.9, generation_rate_hz=100.0)
    graph.add_edge(
        2,
        "three",
        distance_km=400.0,
        link_type="Satellite",
        satellite_conditions={"visibility": 0.5},
    )
    engine = tavo_tools.from_networkx(
        graph,
        node_defaults={"memory_lifetime_t2": 1.0},
        link_defaults={"base_fidelity": 0.95, "generation_rate_hz": 500.0},
    )
    _, nodes, links = network(engine)
    assert nodes == [("1", 0.5), ("2", 1.0), ("three", 2.0)]
    assert links == [
        ("1", "2", 10.0, 0.9, 100.0, "LinkType.Fiber", None),
        ("2", "three", 400.0, 0.95, 500.0, "LinkType.Satellite", (0.5, 1.0)),
    ]
    default = tavo.TavoEngine().config.physical.baseline_purify_factor
    assert engine.config.physical.baseline_purify_factor == default


@pytest.mark.parametrize(
    "change, error, match",
    [
        (lambda g: g.add_node("X"), ValueError, "node 'X' has no attribute 'memory_lifetime_t2'"),
        (
            lambda g: g.edges["A", "B"].pop("distance_km"),
            ValueError,
            r"edge \('A', 'B'\) has no attribute 'distance_km'; give it to every link or a "
            "default in link_defaults",
        ),
        (
            lambda g: g.edges["A", "B"].update(base_fidelity="high"),
            TypeError,
            r"edge \('A', 'B'\): 'base_fidelity' must be a real number, got 'high'",
        ),
        (
            lambda g: g.nodes["A"].update(memory_lifetime_t2=True),
            TypeError,
            "node 'A': 'memory_lifetime_t2' must be a real number",
        ),
        (lambda g: g.edges["A", "B"].update(link_type="laser"), ValueError, "'link_type' must be"),
        (
            lambda g: g.edges["A", "B"].update(satellite_conditions={"cloud": 1.0}),
            ValueError,
            "unknown satellite condition 'cloud'",
        ),
        (
            lambda g: g.edges["A", "B"].update(to="C"),
            ValueError,
            "'from_node' and 'to' name other nodes",
        ),
        (
            lambda g: g.add_nodes_from([1, "1"], memory_lifetime_t2=1.0),
            ValueError,
            "nodes 1 and '1' have the same id '1'",
        ),
    ],
)
def test_clear_errors(change, error, match):
    graph = tavo_tools.to_networkx(chain_engine())
    change(graph)
    with pytest.raises(error, match=match):
        tavo_tools.from_networkx(graph)


@pytest.fixture(scope="module")
def networks():
    longer = json.loads(DEMO.read_text())
    longer["links"][0]["distance_km"] = 400.0
    return {"demo": DEMO, "engine": tavo.from_tavo_file(str(DEMO)), "longer": longer}


def test_compare_runs_every_network_on_the_same_seeds(tmp_path, networks):
    path = tmp_path / "longer.tavo"
    path.write_text(json.dumps(networks["longer"]))
    given = {
        "demo": str(networks["demo"]),
        "engine": networks["engine"],
        "file": tavo.load(str(path)),
    }
    frame = tavo_tools.compare(given, "Alice", "Bob", 0.8, 500.0, 3000, seed=12, workers=2)
    assert list(frame.index) == ["demo", "engine", "file"] and frame.index.name == "network"
    assert list(frame.columns) == ["route"] + [
        "runs",
        "success_rate",
        "success_ci_low",
        "success_ci_high",
        "mean_latency_ms",
        "mean_fidelity",
        "congestion_drops",
    ]
    for name, source in (("demo", str(networks["demo"])), ("file", str(path))):
        stats = tavo.from_tavo_file(source).simulate("Alice", "Bob", 0.8, 500.0, 3000, None, 12)
        row = frame.loc[name]
        successes = round(stats.empirical_success_rate * 3000)
        assert (row.success_rate, row.success_ci_low, row.success_ci_high) == (
            stats.empirical_success_rate,
            *wilson_interval(successes, 3000),
        )
        assert row.congestion_drops == stats.aggregate_congestion_drops
    assert frame.loc["demo", "route"] == "Alice -> Repeater -> Bob"
    assert frame.loc["demo"].equals(frame.loc["engine"])
    assert frame.loc["file", "success_rate"] != frame.loc["demo", "success_rate"]


def test_compare_without_seed_shares_one_clock_reading(networks):
    twins = {"a": networks["engine"], "b": networks["engine"]}
    frame = tavo_tools.compare(twins, "Alice", "Bob", 0.8, 500.0, 500, seed=None)
    assert frame.loc["a"].equals(frame.loc["b"])


def test_compare_with_an_unknown_node_fails_every_trial(networks):
    frame = tavo_tools.compare({"demo": networks["engine"]}, "Alice", "Mallory", 0.8, 500.0, 100)
    assert frame.loc["demo", "route"] == "" and frame.loc["demo", "success_rate"] == 0.0
    assert math.isclose(frame.loc["demo", "success_ci_low"], 0.0)


@pytest.mark.parametrize(
    "networks, error",
    [(["a.tavo"], TypeError), ({"x": 3}, TypeError), ({"x": "missing.tavo"}, RuntimeError)],
)
def test_compare_refuses_what_is_no_network(networks, error):
    with pytest.raises(error):
        tavo_tools.compare(networks, "A", "B", 0.9, 100.0, 10)

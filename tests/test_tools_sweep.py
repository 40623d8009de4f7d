"""tavo_tools.sweep: each row is the engine's ensemble on a modified copy of the network, in product
order, the same whatever the executor; parameter keys and their errors."""

import concurrent.futures as cf
import importlib
import itertools

import pandas as pd
import pytest

import tavo_core as tavo
import tavo_tools
from tavo_tools._network import Scenario
from tavo_tools.frames import wilson_interval
from tavo_tools.sweep import config_field, describe, vocabulary
from tools_support import LINKS, NODES, ROUTES, chain_engine

sweep_module = importlib.import_module("tavo_tools.sweep")  # the package's sweep is the function
STATS = [
    "runs",
    "success_rate",
    "success_ci_low",
    "success_ci_high",
    "mean_latency_ms",
    "mean_fidelity",
    "congestion_drops",
]


def config():
    config = tavo.SimulationConfig(4000.0, 0.5, 0.3)
    physical = config.physical
    physical.speed_of_light_in_fiber_km_ms = 180.0
    config.physical = physical
    return config


def modified(values):
    """The chain's nodes and links with the sweep's values written in by hand."""
    nodes = [[name, t2] for name, t2 in NODES]
    links = [list(link) for link in LINKS]
    for key, value in values.items():
        field, _, target = key.partition(":")
        if field == "memory_lifetime_t2":
            for node in nodes:
                if node[0] == target:
                    node[1] = value
        elif field in ("distance_km", "base_fidelity", "generation_rate_hz"):
            column = {"distance_km": 2, "base_fidelity": 3, "generation_rate_hz": 4}[field]
            for link in links:
                if f"{link[0]}->{link[1]}" == target:
                    link[column] = value
    return chain_engine(nodes, links, config())


@pytest.fixture(scope="module")
def engine():
    return chain_engine(config=config())


@pytest.mark.parametrize("route", ["one-hop", "two-hop"])
def test_rows_are_the_engines_ensembles_on_modified_networks(engine, route):
    source, target, fidelity, budget = ROUTES[route]
    vary = {
        "distance_km:A->B": [5.0, 80.0],
        "memory_lifetime_t2:B": [0.05, 3.0],
        "generation_rate_hz:B->C": [200.0],
        "fidelity_target": [0.8, 0.9],
    }
    frame = tavo_tools.sweep(
        engine,
        source,
        target,
        fidelity,
        budget,
        600,
        vary,
        tavo.StrategyType.HighestFidelity,
        seed=11,
    )
    assert list(frame.columns) == list(vary) + STATS
    points = list(itertools.product(*vary.values()))
    assert [tuple(row) for row in frame[list(vary)].itertuples(index=False)] == points
    for point, row in zip(points, frame.to_dict("records")):
        values = dict(zip(vary, point))
        stats = modified(values).simulate(
            source,
            target,
            values["fidelity_target"],
            budget,
            600,
            tavo.StrategyType.HighestFidelity,
            11,
        )
        successes = round(stats.empirical_success_rate * 600)
        assert [row[column] for column in STATS] == [
            600,
            stats.empirical_success_rate,
            *wilson_interval(successes, 600),
            stats.mean_latency_ms,
            stats.mean_fidelity,
            stats.aggregate_congestion_drops,
        ]


def test_configuration_and_link_kinds_are_kept(engine):
    # An empty grid is one point: the network as it is.
    frame = tavo_tools.sweep(engine, "C", "D", 0.9, 400.0, 800, {}, seed=5)
    stats = engine.simulate("C", "D", 0.9, 400.0, 800, None, 5)
    assert list(frame.columns) == STATS and len(frame) == 1
    assert (frame.success_rate[0], frame.mean_latency_ms[0], frame.congestion_drops[0]) == (
        stats.empirical_success_rate,
        stats.mean_latency_ms,
        stats.aggregate_congestion_drops,
    )


def test_request_parameters_and_empty_value_lists(engine):
    frame = tavo_tools.sweep(
        engine, "A", "B", 0.9, 200.0, 300, {"max_latency_ms": [0.0, 500.0]}, seed=2
    )
    assert list(frame.success_rate) == [
        engine.simulate("A", "B", 0.9, budget, 300, None, 2).empirical_success_rate
        for budget in (0.0, 500.0)
    ]
    empty = tavo_tools.sweep(
        engine, "A", "B", 0.9, 200.0, 300, {"max_latency_ms": [], "fidelity_target": [0.5]}
    )
    assert list(empty.columns) == ["max_latency_ms", "fidelity_target"] + STATS and len(empty) == 0


@pytest.mark.parametrize("route", ["one-hop", "three-hop"])
def test_same_frame_whatever_the_executor(engine, route):
    source, target, fidelity, budget = ROUTES[route]
    vary = {"base_fidelity:A->B": [0.9, 0.99], "distance_km:C->D": [100.0, 900.0]}
    serial = tavo_tools.sweep(
        engine, source, target, fidelity, budget, 500, vary, seed=3, workers=1
    )
    with cf.ThreadPoolExecutor(3) as pool:
        pooled = tavo_tools.sweep(
            engine, source, target, fidelity, budget, 500, vary, seed=3, executor=pool
        )
    pd.testing.assert_frame_equal(serial, pooled)


def test_every_point_shares_the_seed(engine):
    # Without a seed the clock is read once: equal points give equal rows.
    frame = tavo_tools.sweep(
        engine, "A", "B", 0.9, 200.0, 400, {"fidelity_target": [0.9, 0.9, 0.9]}, seed=None
    )
    assert frame[STATS].drop_duplicates().shape[0] == 1


@pytest.mark.parametrize(
    "key",
    ["distance_km:B->A", "memory_lifetime_t2:Z", "visibility:A->B", "distance_km", "runs"],
)
def test_unknown_parameter_is_named_with_the_valid_ones(engine, key):
    with pytest.raises(ValueError) as raised:
        tavo_tools.sweep(engine, "A", "B", 0.9, 200.0, 10, {key: [1.0]})
    message = str(raised.value)
    assert repr(key) in message
    # Only the satellite link with conditions has a visibility and a weather factor.
    valid = (
        ["memory_lifetime_t2:" + name for name, _ in NODES]
        + [
            f"{field}:{a}->{b}"
            for a, b, *_ in LINKS
            for field in ("distance_km", "base_fidelity", "generation_rate_hz")
        ]
        + ["visibility:C->D", "weather_factor:C->D"]  # after the last link's, which they are
        + ["alpha_loss_db_km", "fidelity_target", "max_latency_ms"]
    )
    assert message.endswith(", ".join(valid))
    assert tavo_tools.parameter_keys(engine) == valid


@pytest.mark.parametrize(
    "key, value, read",
    [
        ("visibility:C->D", 0.4, lambda e: e.links[2].satellite_conditions.visibility),
        ("weather_factor:C->D", 0.3, lambda e: e.links[2].satellite_conditions.weather_factor),
        ("alpha_loss_db_km", 0.5, lambda e: e.config.physical.baseline_purify_factor * 10.0),
        ("memory_lifetime_t2:C", 0.25, lambda e: e.nodes[2].memory_lifetime_t2),
    ],
)
def test_parameters_reach_the_engine_of_the_point(engine, key, value, read):
    table = vocabulary(Scenario.of(engine, 0.9, 200.0))
    variant = Scenario.of(engine, 0.9, 200.0)
    table[key].apply(variant, value)
    assert read(variant.engine()) == pytest.approx(value, rel=1e-15)
    assert table[key].read(variant) == pytest.approx(value, rel=1e-15)
    # The engine the variant came from is unchanged.
    assert read(engine) != pytest.approx(value)
    # A change that matters to the route or the timeline shows in the sweep's row.
    if key == "alpha_loss_db_km":
        frame = tavo_tools.sweep(engine, "A", "C", 0.97, 300.0, 400, {key: [0.0, 9.0]}, seed=1)
        assert frame.mean_fidelity[0] != frame.mean_fidelity[1]


def test_new_rows_reach_sweeps_and_rankings(engine, monkeypatch):
    # A field of a configuration record, added as a row: sweeps and rankings offer it at once; a
    # row of a record the configuration lacks offers nothing.
    speed = config_field(
        "physical", "speed_of_light_in_fiber_km_ms", "Signal speed", "km/ms", 0.0, None
    )
    absent = config_field("no_such_record", "x", "Nothing", "", 0.0, 1.0)
    monkeypatch.setattr(sweep_module, "FIELDS", sweep_module.FIELDS + [speed, absent])
    keys = tavo_tools.parameter_keys(engine)
    assert "physical.speed_of_light_in_fiber_km_ms" in keys and "no_such_record.x" not in keys
    assert describe("physical.speed_of_light_in_fiber_km_ms") == "Signal speed (km/ms)"
    # The three hops A - D are 560 km long: at 180 km/ms the signal needs 3.1 ms, over the budget.
    vary = {"physical.speed_of_light_in_fiber_km_ms": [180.0, 400.0]}
    frame = tavo_tools.sweep(engine, "A", "D", 0.75, 3.0, 200, vary)
    assert frame.success_rate[0] == 0.0 < frame.success_rate[1]
    ranking = tavo_tools.rank(engine, "A", "D", 0.75, 3.0, 200, step=0.2, seed=1)
    row = ranking.loc["physical.speed_of_light_in_fiber_km_ms"]
    assert (row.base, row.low, row.high) == (180.0, pytest.approx(144.0), pytest.approx(216.0))
    assert row.effect > 0 and not row.route_changed


@pytest.mark.parametrize("values", ["12", [1.0, "2"], [True]])
def test_values_must_be_numbers(engine, values):
    with pytest.raises(TypeError, match="distance_km:A->B"):
        tavo_tools.sweep(engine, "A", "B", 0.9, 200.0, 10, {"distance_km:A->B": values})


def test_no_network_and_argument_errors_are_the_engines():
    with pytest.raises(RuntimeError, match="No network defined"):
        tavo_tools.sweep(tavo.TavoEngine(), "A", "B", 0.9, 200.0, 10, {})
    with pytest.raises(OverflowError, match="can't convert negative int to unsigned"):
        tavo_tools.sweep(chain_engine(), "A", "B", 0.9, 200.0, -5, {})

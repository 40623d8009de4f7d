"""tavo_tools.rank: every row is the engine's ensembles on lowered and raised copies of the network,
paired on common seeds; clamping, routes, intervals, ordering and argument errors."""

import concurrent.futures as cf
import math
import multiprocessing
import statistics

import pandas as pd
import pytest

import tavo_core as tavo
import tavo_tools
from tavo_tools.rank import RANK_COLUMNS, t_quantile
from tools_support import LINKS, NODES, ROUTES, chain_engine


@pytest.fixture(scope="module")
def engine():
    return chain_engine()


def modified(key, value, nodes=NODES, links=LINKS):
    """The chain with one parameter set by hand."""
    nodes = [list(node) for node in nodes]
    links = [list(link) for link in links]
    field, _, target = key.partition(":")
    for node in nodes:
        if field == "memory_lifetime_t2" and node[0] == target:
            node[1] = value
    column = {"distance_km": 2, "base_fidelity": 3, "generation_rate_hz": 4}.get(field)
    for link in links:
        if column is not None and f"{link[0]}->{link[1]}" == target:
            link[column] = value
    return chain_engine(nodes, links)


@pytest.mark.parametrize("route", ["two-hop", "three-hop"])
def test_rows_are_the_engines_ensembles_on_changed_networks(engine, route):
    source, target, fidelity, budget = ROUTES[route]
    keys = ["distance_km:B->C", "base_fidelity:B->C", "distance_km:A->B", "memory_lifetime_t2:C"]
    frame = tavo_tools.rank(engine, source, target, fidelity, budget, 700, keys, seed=21)
    assert list(frame.columns) == list(RANK_COLUMNS) and frame.index.name == "parameter"
    assert sorted(frame.index) == sorted(keys)
    base = engine.simulate(source, target, fidelity, budget, 700, None, 21)
    for key, row in frame.iterrows():
        low = modified(key, row.low).simulate(source, target, fidelity, budget, 700, None, 21)
        high = modified(key, row.high).simulate(source, target, fidelity, budget, 700, None, 21)
        assert (row.success_low, row.success_base, row.success_high) == (
            low.empirical_success_rate,
            base.empirical_success_rate,
            high.empirical_success_rate,
        )
        assert row.effect == pytest.approx(
            high.empirical_success_rate - low.empirical_success_rate, abs=1e-12
        )
        assert row.latency_effect == pytest.approx(high.mean_latency_ms - low.mean_latency_ms)
        assert row.fidelity_effect == pytest.approx(high.mean_fidelity - low.mean_fidelity)
        assert row.effect_ci_low <= row.effect <= row.effect_ci_high
    effects = [abs(effect) for effect in frame.effect]
    assert effects == sorted(effects, reverse=True)


@pytest.mark.parametrize(
    "key, step, low, high, clamped",
    [
        ("base_fidelity:A->B", 0.1, 0.97 * 0.9, 1.0, True),  # at most 1
        ("base_fidelity:A->B", 0.02, 0.97 * 0.98, 0.97 * 1.02, False),
        ("weather_factor:C->D", 0.1, 0.95 * 0.9, 1.0, True),
        ("visibility:C->D", 0.1, 0.9 * 0.9, 0.9 * 1.1, False),
        ("distance_km:C->D", 0.5, 250.0, 750.0, False),
        ("alpha_loss_db_km", 0.1, 0.12 * 9.0, 0.12 * 11.0, False),  # the engine's 0.12 factor
    ],
)
def test_variants_stay_in_the_physical_range(engine, key, step, low, high, clamped):
    frame = tavo_tools.rank(engine, "A", "D", 0.75, 600.0, 50, [key], step=step)
    row = frame.loc[key]
    assert (row.low, row.high, bool(row.clamped)) == (
        pytest.approx(low, rel=1e-12),
        pytest.approx(high, rel=1e-12),
        clamped,
    )


def side_branch_engine():
    """The chain with a detour B - E - C beside the link B - C."""
    nodes = NODES + [("E", 1.0)]
    links = LINKS + [("B", "E", 30.0, 0.96, 900.0, False), ("E", "C", 30.0, 0.975, 900.0, False)]
    return chain_engine(nodes, links)


def test_off_route_parameters_have_no_effect_unless_the_route_moves():
    engine = side_branch_engine()
    # Highest fidelity: B - C (0.95) beats B - E - C (0.936); raising B - E by 10 % (to 1.0)
    # makes the detour the better route, lowering it changes nothing.
    frame = tavo_tools.rank(engine, "A", "D", 0.75, 600.0, 2000, seed=3)
    for key in ("distance_km:B->E", "generation_rate_hz:E->C", "memory_lifetime_t2:E"):
        row = frame.loc[key]
        assert (row.effect, row.effect_ci_low, row.effect_ci_high) == (0.0, 0.0, 0.0)
        assert not row.route_changed and row.success_low == row.success_high == row.success_base
    moved = frame.loc["base_fidelity:B->E"]
    assert moved.route_changed and moved.success_low == moved.success_base
    assert moved.success_high != moved.success_base
    on_route = frame.loc["distance_km:C->D"]
    # Longer is worse, and 2000 paired trials show it.
    assert not on_route.route_changed and on_route.effect_ci_high < 0


@pytest.mark.parametrize("runs", [1, 37, 200])
def test_interval_of_single_trials_is_the_paired_t_interval(engine, runs):
    # Up to 200 trials every batch is one trial: the interval is the textbook paired one.
    key, source, target, fidelity, budget = "distance_km:C->D", "A", "D", 0.75, 600.0
    frame = tavo_tools.rank(engine, source, target, fidelity, budget, runs, [key], seed=9)
    row = frame.loc[key]
    low, high = modified(key, row.low), modified(key, row.high)
    differences = [
        high.simulate(source, target, fidelity, budget, 1, None, 9 + i).empirical_success_rate
        - low.simulate(source, target, fidelity, budget, 1, None, 9 + i).empirical_success_rate
        for i in range(runs)
    ]
    assert row.effect == pytest.approx(statistics.fmean(differences), abs=1e-12)
    if runs == 1:
        assert math.isnan(row.effect_ci_low) or row.effect_ci_low == row.effect_ci_high == 0.0
        return
    half = t_quantile(0.975, runs - 1) * statistics.stdev(differences) / math.sqrt(runs)
    assert (row.effect_ci_low, row.effect_ci_high) == (
        pytest.approx(row.effect - half, abs=1e-12),
        pytest.approx(row.effect + half, abs=1e-12),
    )


def test_batched_interval_is_close_to_the_per_trial_one(engine):
    key, runs = "distance_km:C->D", 4000
    frame = tavo_tools.rank(engine, "A", "D", 0.75, 600.0, runs, [key], seed=5)
    row = frame.loc[key]
    low, high = modified(key, row.low), modified(key, row.high)
    differences = [
        high.simulate("A", "D", 0.75, 600.0, 1, None, 5 + i).empirical_success_rate
        - low.simulate("A", "D", 0.75, 600.0, 1, None, 5 + i).empirical_success_rate
        for i in range(runs)
    ]
    exact = 1.96 * statistics.stdev(differences) / math.sqrt(runs)
    half = (row.effect_ci_high - row.effect_ci_low) / 2
    assert 0.7 * exact < half < 1.3 * exact


@pytest.mark.parametrize(
    "df, quantile",
    [(1, 12.7062), (2, 4.3027), (5, 2.5706), (10, 2.2281), (30, 2.0423), (199, 1.9720)],
)
def test_t_quantiles(df, quantile):
    assert t_quantile(0.975, df) == pytest.approx(quantile, abs=1e-4)


def test_top_entry_does_not_depend_on_the_seed(engine):
    tops = {
        tavo_tools.rank(engine, "A", "D", 0.75, 600.0, 3000, seed=seed).index[0]
        for seed in (0, 1, 1000, 2**40)
    }
    assert tops == {"distance_km:C->D"}


def test_equal_effects_keep_the_vocabulary_order(engine):
    frame = tavo_tools.rank(engine, "A", "B", 0.9, 200.0, 300, seed=2)
    zero = [key for key, effect in frame.effect.items() if effect == 0.0]
    assert zero == [key for key in tavo_tools.parameter_keys(engine) if key in zero]
    assert "fidelity_target" not in frame.index and "max_latency_ms" not in frame.index


def test_request_parameters_on_demand(engine):
    frame = tavo_tools.rank(engine, "A", "C", 0.85, 300.0, 500, ["max_latency_ms"], seed=4)
    row = frame.loc["max_latency_ms"]
    assert (row.low, row.high) == (pytest.approx(270.0), pytest.approx(330.0))
    expected = [
        engine.simulate("A", "C", 0.85, budget, 500, None, 4).empirical_success_rate
        for budget in (row.low, row.high)
    ]
    assert [row.success_low, row.success_high] == expected


def test_same_frame_on_any_executor(engine):
    keys = ["distance_km:B->C", "distance_km:C->D", "base_fidelity:C->D"]
    serial = tavo_tools.rank(engine, "A", "D", 0.75, 600.0, 400, keys, seed=8, workers=1)
    with cf.ThreadPoolExecutor(3) as pool:
        pooled = tavo_tools.rank(engine, "A", "D", 0.75, 600.0, 400, keys, seed=8, executor=pool)
    pd.testing.assert_frame_equal(serial, pooled)
    with cf.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        spawned = tavo_tools.rank(engine, "A", "D", 0.75, 600.0, 400, keys, seed=8, executor=pool)
    pd.testing.assert_frame_equal(serial, spawned)


@pytest.mark.parametrize(
    "arguments, error, match",
    [
        ({"runs": 0}, ValueError, "runs must be at least 1"),
        ({"params": ["distance_km:D->C"]}, ValueError, "unknown parameter 'distance_km:D->C'"),
        ({"params": "distance_km:A->B"}, TypeError, "not a string"),
        ({"params": ["alpha_loss_db_km"] * 2}, ValueError, "more than once"),
        ({"step": 1.0}, ValueError, "step must lie strictly between 0 and 1"),
        ({"step": 0.0}, ValueError, "step must lie strictly between 0 and 1"),
        ({"step": "0.1"}, TypeError, "step must be a real number"),
        ({"runs": -3}, OverflowError, "can't convert negative int to unsigned"),
    ],
)
def test_argument_errors(engine, arguments, error, match):
    call = {"runs": 10, **arguments}
    with pytest.raises(error, match=match):
        tavo_tools.rank(engine, "A", "B", 0.9, 200.0, **call)


def test_no_network():
    with pytest.raises(RuntimeError, match="No network defined"):
        tavo_tools.rank(tavo.TavoEngine(), "A", "B", 0.9, 200.0, 10)

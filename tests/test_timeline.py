"""Single entanglement requests: the checks made before the first cycle, the cycles themselves and
the SimulationResult class.

A single request draws its link attempts from the zero-keyed generator, whose first inclusive
draws are 0.328, 0.834, 0.080, 0.371, 0.753, 0.475, 0.099, 0.743, 0.994, ... Expected results come
from the Python models in chacha_model and timeline_model."""

import json
import math
import subprocess
import sys
import textwrap

import pytest

import tavo_core as tc
from chacha_model import Generator
from conftest import child_environment
from timeline_model import Config, play, possible_outcomes, purify

LL = tc.StrategyType.LowestLatency
HF = tc.StrategyType.HighestFidelity
HS = tc.StrategyType.HighestSuccess
NO_NETWORK = "No network defined. Call define_network() first."


def outcome(result):
    return (result.success, result.latency_ms, result.final_fidelity, result.execution_path)


def expected(links, path, target, limit, purify_factor=0.12, cutoff=5000.0, speed=200.0):
    trial = play(links, path, target, limit, Config(purify_factor, speed, cutoff), Generator.zero())
    return (trial.success, trial.latency_ms, trial.final_fidelity, trial.path)


# Without a network, or without a route

def test_request_without_network_raises_runtime_error():
    engine = tc.TavoEngine()
    with pytest.raises(RuntimeError) as info:
        engine.request_entanglement("A", "B", 0.8, 100.0)
    assert info.type is RuntimeError
    assert str(info.value) == NO_NETWORK
    assert info.value.args == (NO_NETWORK,)
    engine.define_network([], [])
    assert outcome(engine.request_entanglement("A", "B", 0.8, 100.0)) == (False, 0.0, 0.0, [])


@pytest.mark.parametrize("nodes,links,source,target", [
    ([], [], "A", "B"),
    ([], [], "A", "A"),
    (["A", "B"], [("A", "B", 10.0, 0.9, 100.0)], "X", "B"),
    (["A", "B"], [("A", "B", 10.0, 0.9, 100.0)], "A", "X"),
    (["A", "B", "C"], [("A", "B", 10.0, 0.9, 100.0)], "A", "C"),
    (["A", "C"], [("A", "B", 10.0, 0.9, 100.0), ("B", "C", 10.0, 0.9, 100.0)], "A", "B"),
], ids=["empty", "empty-same", "unknown-source", "unknown-target", "unreachable", "link-only-target"])
@pytest.mark.parametrize("strategy", [None, LL, HF, HS], ids=["default", "LL", "HF", "HS"])
def test_no_route_gives_empty_failure(make_engine, nodes, links, source, target, strategy):
    result = make_engine(links, nodes).request_entanglement(source, target, 0.5, 100.0, strategy)
    assert outcome(result) == (False, 0.0, 0.0, [])


# Fidelity-first routes that cannot meet the target give way to the shortest route.
# HighestFidelity picks A,C (0.9); LowestLatency and HighestSuccess pick A,B,C (0.36) and A,C.
FALLBACK = [("A", "B", 1.0, 0.6, 100.0), ("B", "C", 1.0, 0.6, 100.0), ("A", "C", 100.0, 0.9, 1000.0)]
ABOVE = math.nextafter(0.9, 1.0)


@pytest.mark.parametrize("strategy,target,path,results", [
    (HF, 0.9, ["A", "C"], {(True, 0.0, 0.9)}),
    (None, 0.9, ["A", "C"], {(True, 0.0, 0.9)}),
    # Just above the route's fidelity: A,B,C, which one purification step (0.65) cannot lift.
    (HF, ABOVE, ["A", "B", "C"], {(False, 0.0, 0.0)}),
    (None, ABOVE, ["A", "B", "C"], {(False, 0.0, 0.0)}),
    (HF, 0.95, ["A", "B", "C"], {(False, 0.0, 0.0)}),
    # The other strategies keep their route: one purification step lifts A,C to 0.999.
    (HS, 0.95, ["A", "C"], {(True, 0.85, 0.999)}),
    # Two hops: the route fidelity if a link is lost in processing, else the swapped fidelity.
    (LL, 0.3, ["A", "B", "C"], {(True, 0.0, 0.36), (True, 0.0, purify(0.36, 0.12))}),
], ids=["at-route-fidelity", "default-at", "just-above", "default-just-above", "above",
        "success-strategy-keeps-route", "latency-strategy"])
def test_highest_fidelity_falls_back_to_lowest_latency(make_engine, strategy, target, path, results):
    engine = make_engine(FALLBACK)
    assert results <= possible_outcomes(FALLBACK, path, target, 100.0, Config(), Generator.zero, 1)
    for _ in range(3):
        got = outcome(engine.request_entanglement("A", "C", target, 100.0, strategy))
        assert got[3] == path
        assert got[:3] in results


# The reachability check and the purification map. One hop A-B of fidelity f: a target up to f is
# met at once, a target above f but not above P(f) after one purification step (0.85 ms), a target
# above P(f) is refused before the first cycle.

@pytest.mark.parametrize("f", [0.6, 0.75, 0.9, 0.97])
@pytest.mark.parametrize("b", [0.0, 0.02, 0.12, -0.05])
def test_purification_and_reachability(make_engine, f, b):
    links = [("A", "B", 10.0, f, 100.0)]
    engine = make_engine(links, purify_factor=b)
    lifted = purify(f, b)

    def request(target):
        return outcome(engine.request_entanglement("A", "B", target, 100.0, LL))

    assert request(f) == (True, 0.0, f, ["A", "B"])
    if lifted > f:
        assert request(lifted) == (True, 0.85, lifted, ["A", "B"])
        assert request(math.nextafter(f, 2.0)) == (True, 0.85, lifted, ["A", "B"])
    assert request(math.nextafter(max(lifted, f), 2.0)) == (False, 0.0, 0.0, ["A", "B"])


@pytest.mark.parametrize("f,b,target,lifted", [
    (0.9, 0.12, 0.999, 0.999),            # capped at 0.999
    (0.97, 0.02, 0.999, 0.999),
    (0.75, 0.0, 0.82, 0.82),
    (0.5, 0.12, 0.745, None),             # not above 0.5: never purified
    (0.3, 0.12, 0.4, None),
    (-0.5, 0.0, 0.5, None),               # P(-0.5) is 0.5 (the denominator is zero)
])
def test_purification_edges(make_engine, f, b, target, lifted):
    links = [("A", "B", 10.0, f, 100.0)]
    engine = make_engine(links, purify_factor=b)
    result = outcome(engine.request_entanglement("A", "B", target, 10.0, LL))
    assert result == expected(links, ["A", "B"], target, 10.0, b)
    if lifted is not None:
        assert result == (True, 0.85, lifted, ["A", "B"])
    else:
        # Reachable (target not above P(f)) but never purified: the trial runs out of time.
        assert result == (False, 10.0, 0.0, ["A", "B"])
    above = math.nextafter(purify(f, b), 2.0)
    assert outcome(engine.request_entanglement("A", "B", above, 10.0, LL)) == (False, 0.0, 0.0, ["A", "B"])


# The propagation latency check

@pytest.mark.parametrize("links,path,limit,speed,result", [
    ([("A", "B", 1000.0, 0.9, 100.0)], ["A", "B"], 4.99, None, (False, 5.0, 0.0, ["A", "B"])),
    ([("A", "B", 1000.0, 0.9, 100.0)], ["A", "B"], 5.0, None, (True, 0.0, 0.9, ["A", "B"])),
    ([("A", "B", 1000.0, 0.9, 100.0)], ["A", "B"], 9.0, 100.0, (False, 10.0, 0.0, ["A", "B"])),
    ([("A", "B", 1000.0, 0.9, 100.0)], ["A", "B"], 10.0, 100.0, (True, 0.0, 0.9, ["A", "B"])),
    ([("A", "B", 300.0, 0.9, 100.0), ("C", "B", 700.0, 0.9, 100.0)], ["A", "B", "C"], 4.99, None,
     (False, 5.0, 0.0, ["A", "B", "C"])),
    # 1.5 + 3.5 ms fits; the second hop's first attempt fails (0.834 against p = 0.6555), so the
    # trial runs out of budget after the cycles at 0, 2.5 and 5 ms.
    ([("A", "B", 300.0, 0.9, 100.0), ("C", "B", 700.0, 0.9, 100.0)], ["A", "B", "C"], 6.0, None,
     (False, 7.5, 0.0, ["A", "B", "C"])),
], ids=["over", "equal", "slow-over", "slow-equal", "two-hops-over", "two-hops-fit"])
def test_propagation_latency(make_engine, links, path, limit, speed, result):
    engine = make_engine(links, speed=speed)
    got = outcome(engine.request_entanglement(path[0], path[-1], 0.8, limit, LL))
    assert got == result
    assert got == expected(links, path, 0.8, limit, speed=speed or 200.0)


# Budgets that allow no cycle

@pytest.mark.parametrize("distance,limit,cutoff,result_latency", [
    (0.0, 0.0, None, 0.0),
    (0.0, -1.0, None, 0.0),
    (10.0, 0.0, None, 0.05),      # refused by the propagation check, which reports the latency
    (0.0, math.nan, None, 0.0),
    (10.0, 100.0, 0.0, 0.0),
    (10.0, 100.0, -5.0, 0.0),
    (10.0, 100.0, math.nan, 0.0),
])
def test_no_cycle_budgets(make_engine, distance, limit, cutoff, result_latency):
    links = [("A", "B", distance, 0.9, 100.0)]
    engine = make_engine(links, cutoff=cutoff)
    assert outcome(engine.request_entanglement("A", "B", 0.5, limit, LL)) == (
        False, result_latency, 0.0, ["A", "B"])


@pytest.mark.parametrize("limit,result", [
    (0.0, (False, 0.0, 0.0, ["A"])),
    (1.0, (True, 0.0, 1.0, ["A"])),
])
def test_source_equal_to_target(make_engine, limit, result):
    engine = make_engine([("A", "B", 10.0, 0.5, 100.0)])
    for strategy in (None, LL, HF, HS):
        assert outcome(engine.request_entanglement("A", "A", 0.9, limit, strategy)) == result
    # Above 1.0 nothing can meet the target: one purification step gives at most 0.999.
    assert outcome(engine.request_entanglement("A", "A", 1.5, limit, LL)) == (False, 0.0, 0.0, ["A"])


# The link success probability: floor 0.5, cap 0.98, shortfall 0.3 * (target - base fidelity).

@pytest.mark.parametrize("links,path,target,limit,b,success", [
    # p = 0.403 raised to 0.5: the first draw, 0.328, succeeds; one purification step lifts 0.51.
    ([("A", "B", 1e6, 0.51, 100.0)], ["A", "B"], 0.999, 6000.0, 1.0, True),
    # Nine zero-length hops have p = 0.98 (not 1): the ninth draw, 0.994, fails.
    ([(f"N{i}", f"N{i + 1}", 0.0, 1.0, 100.0) for i in range(9)], [f"N{i}" for i in range(10)],
     0.5, 10.0, 0.12, False),
    # Eight such hops: every draw is below 0.98 and the trial succeeds at once.
    ([(f"N{i}", f"N{i + 1}", 0.0, 1.0, 100.0) for i in range(8)], [f"N{i}" for i in range(9)],
     0.5, 10.0, 0.12, True),
    # Second hop 100 km at fidelity 0.7 for target 0.95: 0.8875 - 0.075 = 0.8125 < 0.834 fails.
    ([("A", "B", 1.0, 0.99, 100.0), ("B", "C", 100.0, 0.7, 100.0)], ["A", "B", "C"], 0.95, 10.0,
     1.0, False),
    # At fidelity 0.8 the shortfall is 0.045: 0.8425 > 0.834 succeeds.
    ([("A", "B", 1.0, 0.99, 100.0), ("B", "C", 100.0, 0.8, 100.0)], ["A", "B", "C"], 0.95, 10.0,
     1.0, True),
    # 200 km at the target: 1 - 0.45 (2/3)^2 = 0.8 < 0.834 fails.
    ([("A", "B", 1.0, 0.99, 100.0), ("B", "C", 200.0, 0.9, 100.0)], ["A", "B", "C"], 0.5, 10.0,
     0.12, False),
    # 150 km: 1 - 0.45 (0.6)^2 = 0.838 > 0.834 succeeds.
    ([("A", "B", 1.0, 0.99, 100.0), ("B", "C", 150.0, 0.9, 100.0)], ["A", "B", "C"], 0.5, 10.0,
     0.12, True),
], ids=["floor", "cap-nine-hops", "cap-eight-hops", "shortfall-fails", "small-shortfall",
        "distance-fails", "distance-succeeds"])
def test_link_success_probability(make_engine, links, path, target, limit, b, success):
    engine = make_engine(links, purify_factor=b)
    possible = possible_outcomes(links, path, target, limit, Config(b), Generator.zero, 5)
    assert {o[0] for o in possible} == {success}
    for _ in range(5):
        result = outcome(engine.request_entanglement(path[0], path[-1], target, limit, LL))
        assert result[3] == path
        assert result[:3] in possible
    if not success:
        # The failed attempt stops all progress: the trial runs to the end of its budget.
        assert possible == {(False, limit, 0.0)}


def chain(*fidelities):
    names = "ABCD"
    return [(names[i], names[i + 1], 10.0, f, 100.0) for i, f in enumerate(fidelities)], list(
        names[:len(fidelities) + 1])


@pytest.mark.parametrize("fidelities,b,target,limit,outcomes,lost_outcome,share", [
    # Swapping gives P(0.81) at once; with a link lost, 0.81 is purified to the same value later.
    ((0.9, 0.9), 0.12, 0.95, 100.0, {(True, 0.0, purify(0.81, 0.12))}, (True, 0.85, purify(0.81, 0.12)),
     0.19),
    # Swapping purifies 0.729 twice; with a link lost it is purified once, 0.85 ms later.
    ((0.9, 0.9, 0.9), 0.0, 0.75, 10.0, {(True, 0.0, purify(purify(0.9 * 0.9 * 0.9, 0.0), 0.0))},
     (True, 0.85, purify(0.9 * 0.9 * 0.9, 0.0)), 0.271),
    # The route fidelity 0.970 meets the target; swapping with factor -0.05 gives 0.90, one more
    # step 0.88, and the budget is spent at 0.85 ms or at the next cycle (3.35 ms).
    ((0.99, 0.99, 0.99), -0.05, 0.92, 0.5, {(False, 0.85, 0.0)}, (True, 0.0, 0.99 * 0.99 * 0.99), 0.271),
    ((0.99, 0.99, 0.99), -0.05, 0.92, 3.0, {(False, 3.35, 0.0)}, (True, 0.0, 0.99 * 0.99 * 0.99), 0.271),
], ids=["two-hops", "three-hops", "falls-short", "falls-short-next-cycle"])
def test_multi_hop_outcomes_follow_losses(make_engine, fidelities, b, target, limit, outcomes, lost_outcome, share):
    # Every first attempt succeeds; what follows depends on whether a link is lost in processing
    # (probability 1 - 0.9^hops).
    links, path = chain(*fidelities)
    engine = make_engine(links, purify_factor=b)
    possible = possible_outcomes(links, path, target, limit, Config(b), Generator.zero, 3)
    assert possible == outcomes | {lost_outcome}
    runs = 1500
    lost = 0
    for _ in range(runs):
        result = outcome(engine.request_entanglement(path[0], path[-1], target, limit, LL))
        assert result[3] == path and result[:3] in possible
        lost += result[:3] == lost_outcome
    assert abs(lost / runs - share) < 0.05


def test_success_is_checked_before_the_budget(make_engine):
    # One purification step takes 0.85 ms, beyond the 0.5 ms budget: the trial still succeeds.
    engine = make_engine([("A", "B", 10.0, 0.9, 100.0)])
    assert outcome(engine.request_entanglement("A", "B", 0.95, 0.5, LL)) == (True, 0.85, 0.999, ["A", "B"])


def test_reachability_is_checked_before_propagation(make_engine):
    engine = make_engine([("A", "B", 1000.0, 0.9, 100.0)])
    assert outcome(engine.request_entanglement("A", "B", 0.9995, 1.0, LL)) == (False, 0.0, 0.0, ["A", "B"])
    assert outcome(engine.request_entanglement("A", "B", 0.95, 1.0, LL)) == (False, 5.0, 0.0, ["A", "B"])


# Repeatability: the zero-keyed generator makes one-hop requests (where losses change nothing)
# exactly repeatable.

@pytest.mark.parametrize("links,path,target,limit", [
    ([("A", "B", 100.0, 0.9, 100.0)], ["A", "B"], 0.8, 100.0),
    ([("A", "B", 100.0, 0.9, 100.0)], ["A", "B"], 0.92, 100.0),
    ([("A", "B", 2000.0, 0.55, 100.0)], ["A", "B"], 0.7, 50.0),
    ([("B", "A", 0.0, 0.5, 100.0)], ["A", "B"], 0.6, 30.0),
])
def test_one_hop_requests_repeat_exactly(make_engine, links, path, target, limit):
    engine = make_engine(links)
    first = outcome(engine.request_entanglement(path[0], path[-1], target, limit, LL))
    second = outcome(engine.request_entanglement(path[0], path[-1], target, limit, LL))
    assert first == second == expected(links, path, target, limit)


# SimulationResult

@pytest.fixture
def sample_result(make_engine):
    engine = make_engine([("A", "B", 10.0, 0.9, 100.0)])
    return engine.request_entanglement("A", "B", 0.5, 100.0)


def test_simulation_result_class(sample_result):
    cls = type(sample_result)
    assert cls.__name__ == "SimulationResult"
    assert not hasattr(tc, "SimulationResult") and "SimulationResult" not in tc.__all__
    assert cls.__text_signature__ == "(success, latency_ms, final_fidelity, execution_path)"
    assert repr(sample_result).startswith("<tavo_core.SimulationResult object at 0x")
    given = ["A", "B"]
    result = cls(True, 2.5, 0.75, given)
    given.append("C")
    result.execution_path.append("D")
    assert outcome(result) == (True, 2.5, 0.75, ["A", "B"])
    assigned = ["X"]
    result.success, result.latency_ms, result.final_fidelity, result.execution_path = False, 7, 0.5, assigned
    assigned.append("Y")
    assert outcome(result) == (False, 7.0, 0.5, ["X"])
    assert type(result.latency_ms) is float
    result.execution_path = ("P", "Q")
    assert result.execution_path == ["P", "Q"]


def test_simulation_result_refusals(sample_result):
    cls = type(sample_result)
    with pytest.raises(TypeError) as info:
        cls(True, 2.5, 0.75)
    assert str(info.value) == (
        "SimulationResult.__new__() missing 1 required positional argument: 'execution_path'")
    with pytest.raises(TypeError, match=r"^argument 'execution_path': Can't extract `str` to `Vec`$"):
        cls(True, 0.0, 1.0, "AB")
    result = cls(True, 1.0, 0.9, ["A"])
    with pytest.raises(TypeError, match=r"^Can't extract `str` to `Vec`$"):
        result.execution_path = "AB"
    with pytest.raises(TypeError) as info:
        result.latency_ms = "slow"
    assert not str(info.value).startswith("argument")
    assert outcome(result) == (True, 1.0, 0.9, ["A"])
    for name in ("success", "latency_ms", "final_fidelity", "execution_path"):
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            delattr(result, name)


# Limits of +inf: a trial that can no longer succeed runs to its limits, so they must be finite.

INF = math.inf


def chain_engine(make_engine, cutoff=None):
    return make_engine([("A", "B", 1000.0, 0.9, 100.0), ("B", "C", 1000.0, 0.9, 100.0)], cutoff=cutoff)


def with_infinite_context(engine):
    stats = engine.simulate("A", "C", 0.9, 100.0, 5, seed=1)
    context = stats._context
    context.max_latency_ms = INF
    stats._context = context
    return stats.sensitivity_analysis(0)


@pytest.mark.parametrize("call, message", [
    (lambda e: e.request_entanglement("A", "C", 0.9, INF), "max_latency_ms must be finite"),
    (lambda e: e.simulate("A", "C", 0.9, INF, 10, None, 1), "max_latency_ms must be finite"),
    (lambda e: e.simulate("X", "Y", 0.9, INF, 10), "max_latency_ms must be finite"),
    (lambda e: tc.qkd(e, "A", "C", 0.9, INF), "max_latency_ms must be finite"),
    (lambda e: e.run_qkd(tc.QKDParameters("A", "C", 0.9, INF)), "max_latency_ms must be finite"),
    (lambda e: tc.teleportation(e, "A", "C", 0.9, INF), "classical_bandwidth_ms must be finite"),
    (lambda e: e.run_distributed_computation(["A", "C"], "ring", "ghz", None, INF),
     "classical_relay_latency_ms must be finite"),
    (lambda e: e.run_distributed_computation(["A", "C"], "mesh", "ghz", None, 1e308),
     "classical_relay_latency_ms must be finite"),
    (lambda e: tc.compare_topologies([tc.TopologyEndpoints("repeater_chain", "N0", "N3")], 0.9, INF, 1),
     "max_latency_ms must be finite"),
    (with_infinite_context, "max_latency_ms must be finite"),
], ids=["request", "simulate", "simulate-unknown-nodes", "qkd", "run_qkd", "teleportation",
        "distributed", "distributed-overflow", "compare", "sensitivity"])
def test_infinite_latency_limits_are_refused_before_anything_runs(make_engine, call, message):
    with pytest.raises(ValueError) as raised:
        call(chain_engine(make_engine))
    assert raised.value.args == (message,)


@pytest.mark.parametrize("call", [
    lambda e: e.request_entanglement("A", "C", 0.9, 100.0),
    lambda e: e.simulate("A", "C", 0.9, 100.0, 3, None, 1),
    lambda e: tc.qkd(e, "A", "C", 0.9, 100.0),
], ids=["request", "simulate", "qkd"])
def test_an_infinite_time_cutoff_is_refused(make_engine, call):
    engine = chain_engine(make_engine, cutoff=INF)
    with pytest.raises(ValueError) as raised:
        call(engine)
    assert raised.value.args == ("total_time_cutoff_ms must be finite",)


def test_other_limits_still_end_a_trial_at_once(make_engine):
    # NaN and -inf budgets and cutoffs stop the timeline before its first cycle.
    # A budget of -inf is below the propagation latency of 10 ms, which the failure then reports.
    for budget, cutoff, latency in [(math.nan, None, 0.0), (-INF, None, 10.0), (100.0, -INF, 0.0),
                                    (100.0, math.nan, 0.0)]:
        result = chain_engine(make_engine, cutoff=cutoff).request_entanglement("A", "C", 0.9, budget)
        assert outcome(result) == (False, latency, 0.0, ["A", "B", "C"])
    # Without a network nothing reaches a timeline: the protocols report their empty results.
    assert tc.teleportation(tc.TavoEngine(), "A", "C", 0.9, INF).success is False


def test_the_largest_file_cutoff_is_finite_work(tmp_path):
    document = {
        "version": "1.0", "metadata": {"name": "long"}, "config": {"max_attempts": 4294967295},
        "nodes": [{"id": "A"}, {"id": "B"}],
        "links": [{"id": "L", "from": "A", "to": "B", "distance_km": 10.0, "base_fidelity": 0.9,
                   "generation_rate_hz": 100.0}],
    }
    path = tmp_path / "long.tavo"
    path.write_text(json.dumps(document))
    engine = tc.from_tavo_file(str(path))
    # The time cutoff of 50 ms per attempt is finite; the budget ends every trial.
    stats = engine.simulate("A", "B", 0.99, 25.0, 1000, None, 1)
    assert 0.0 < stats.mean_latency_ms <= 25.0 and stats.aggregate_congestion_drops > 0


# Budgets that end. A single request keeps only its result: once an attempt has failed, it ends at
# the time its remaining cycles would stop, at once, however far its limits. Past 2**55 ms adding a
# cycle no longer advances the clock, so limits that both lie beyond are refused.

LARGEST = 2.0**55
# Two 5,000 km hops: the zero-keyed generator's second draw (0.834) fails the first cycle at t = 0.
LONG_HOPS = [("A", "B", 5000.0, 0.97, 1000.0), ("B", "C", 5000.0, 0.97, 1000.0)]


def cycles_stop(t, limit, cutoff):
    """Where the cycle loop started after time t stops, stepped as the timeline steps it."""
    while True:
        t += 2.5
        if not (limit > t and cutoff > t):
            return t


@pytest.mark.parametrize("budget, cutoff", [
    (1e6 + 0.3, 1e300), (2.5e6, 1e300), (4e6 - 1.1, 1e300), (1e300, 3e6 + 1.0), (2e6, 2e6 - 0.5),
])
def test_a_failed_request_ends_where_its_cycles_stop(make_engine, budget, cutoff):
    engine = make_engine(LONG_HOPS, cutoff=cutoff)
    result = engine.request_entanglement("A", "C", 0.9, budget)
    assert outcome(result) == (False, cycles_stop(0.0, budget, cutoff), 0.0, ["A", "B", "C"])


def test_requests_with_far_budgets_end_at_once(tmp_path):
    # Before, each of these ran for hours. In a child process, so that a regression fails on the
    # time limit rather than hanging the suite.
    script = textwrap.dedent("""
        import json, math, tavo_core as tc
        engine = tc.TavoEngine(tc.SimulationConfig(1e300))
        engine.define_network([tc.NodeDefinition(n, 1.0) for n in "ABC"],
                              [tc.LinkDefinition("A", "B", 5000.0, 0.97, 1000.0),
                               tc.LinkDefinition("B", "C", 5000.0, 0.97, 1000.0)])
        budgets = [1e12, 2.0**50 + 1.0, 2.0**52 + 1.0, 2.0**53 + 3.0, 1e16, 3.6e16, 2.0**55]
        print(json.dumps([engine.request_entanglement("A", "C", 0.9, b).latency_ms
                          for b in budgets]))
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=60, env=child_environment())
    assert done.returncode == 0, done.stderr[-2000:]
    latencies = json.loads(done.stdout)
    assert latencies[0] == 1e12  # a multiple of 2.5, reached exactly
    # Doubles are at most 4 ms apart below 2**55: the clock passes each budget by less than that.
    budgets = [1e12, 2.0**50 + 1.0, 2.0**52 + 1.0, 2.0**53 + 3.0, 1e16, 3.6e16, LARGEST]
    for budget, latency in zip(budgets, latencies):
        assert 0.0 <= latency - budget < 4.0
    assert latencies[-1] == LARGEST


def test_cycle_ends_match_the_stepped_loop(probe):
    # Start times in every power of two up to 2**55, limits crossing powers of two, NaN limits.
    for seed in ("1", "2"):
        done = subprocess.run([str(probe), "cycle-ends", "20000", seed], capture_output=True,
                              text=True, check=False)
        assert done.returncode == 0 and done.stdout.strip() == "cases 20000 mismatches 0", \
            done.stdout[-2000:]
    stall = subprocess.run([str(probe), "cycle-stall"], capture_output=True, text=True)
    assert stall.returncode == 0, stall.stdout


BEYOND = math.nextafter(LARGEST, math.inf)
TOO_FAR = (" is beyond 2**55 ms, where a trial's clock stops advancing, and so is"
           " total_time_cutoff_ms")


@pytest.mark.parametrize("call, name", [
    (lambda e, v: e.request_entanglement("A", "C", 0.9, v), "max_latency_ms"),
    (lambda e, v: e.simulate("A", "C", 0.9, v, 10, None, 1), "max_latency_ms"),
    (lambda e, v: tc.qkd(e, "A", "C", 0.9, v), "max_latency_ms"),
    (lambda e, v: e.run_qkd(tc.QKDParameters("A", "C", 0.9, v)), "max_latency_ms"),
    (lambda e, v: tc.teleportation(e, "A", "C", 0.9, v), "classical_bandwidth_ms"),
    (lambda e, v: e.run_distributed_computation(["A", "C"], "ring", "ghz", None, v / 10),
     "classical_relay_latency_ms"),
], ids=["request", "simulate", "qkd", "run_qkd", "teleportation", "distributed"])
@pytest.mark.parametrize("value", [BEYOND, 1e300])
def test_limits_the_clock_cannot_reach_are_refused(make_engine, call, name, value):
    engine = chain_engine(make_engine, cutoff=1e300)
    with pytest.raises(ValueError) as raised:
        call(engine, value)
    assert raised.value.args == (name + TOO_FAR,)


def test_one_limit_within_reach_is_enough(make_engine):
    # The smaller limit ends the trial: either may be far.
    for budget, cutoff in [(LARGEST, 1e300), (1e300, LARGEST), (1e300, 5000.0), (BEYOND, 100.0)]:
        engine = chain_engine(make_engine, cutoff=cutoff)
        assert engine.request_entanglement("A", "C", 0.9, budget).latency_ms == min(budget, cutoff)
    stats = chain_engine(make_engine, cutoff=100.0).simulate("A", "C", 0.9, 1e300, 20, None, 1)
    assert stats.mean_latency_ms <= 100.0

"""Teleportation: the resource request, the capped fidelity product, the relay cost and the reported path,
and the Python surface."""

import math

import pytest

from tavo_core import (LinkDefinition, NodeDefinition, QKDParameters, StrategyType, TavoEngine, TeleportationOutcome,
                       TeleportationParameters, TeleportationStats, teleportation)


@pytest.fixture(scope="module")
def engine():
    """0 km links (one attempt, then success) of chosen fidelity, a two-hop chain A-M-G, and a link A-F
    whose propagation alone takes 100.05 ms."""
    links = [("A", "B", 0.0, 0.9), ("A", "P", 0.0, 1.0), ("A", "H", 0.0, 0.5), ("A", "J", 0.0, 0.5000001),
             ("A", "E", 0.0, 0.94), ("A", "M", 0.0, 0.99), ("M", "G", 0.0, 0.99), ("A", "F", 20010.0, 0.99)]
    engine = TavoEngine()
    engine.define_network([NodeDefinition(n, 1.0) for n in "ABPHJEMGF"], [LinkDefinition(*l, 10.0) for l in links])
    return engine


def fields(o):
    return (o.success, o.teleportation_fidelity, o.resource_entanglement_fidelity, o.latency_ms, o.path,
            o.classical_bits_transferred)


@pytest.mark.parametrize(
    "target, state, resource, expected",
    [
        ("B", 0.8, 0.9, 0.8 * 0.9),
        ("P", 1.0, 1.0, 0.999),  # capped below 1.0
        ("H", 0.5, 0.5, 0.25),  # a resource of exactly 0.5 is not enough
        ("J", 0.5, 0.5000001, 0.5 * 0.5000001),
        ("Z", 2.0, 0.0, 0.0),  # no resource: nothing teleported, whatever the state
    ],
)
def test_fidelity_and_success(engine, target, state, resource, expected):
    assert fields(teleportation(engine, "A", target, state)) == (resource > 0.5, expected, resource, 0.0, ["A", target], 2)


def test_defaults_are_a_target_of_0_95_within_100_ms(engine):
    # 0.94 is below the default target: one purification step (0.85 ms) lifts it.
    resource = engine.request_entanglement("A", "E", 0.95, 100.0, StrategyType.HighestFidelity)
    assert (resource.success, resource.latency_ms) == (True, 0.85)
    expected = min(0.95 * resource.final_fidelity, 0.999)
    assert fields(teleportation(engine, "A", "E")) == (True, expected, resource.final_fidelity, 0.85, ["A", "E"], 2)
    assert teleportation(engine, "A", "E", 0.9).latency_ms == 0.0
    # 100.05 ms of propagation breaks the default budget, but not a slightly larger one.
    assert fields(teleportation(engine, "A", "F")) == (False, 0.0, 0.0, 100.05, ["A", "F"], 2)
    assert teleportation(engine, "A", "F", None, 100.1).latency_ms != 100.05


@pytest.mark.parametrize("target, request_latency", [("E", 0.85), ("F", 100.05)])
def test_relays_add_a_quarter_millisecond_each(engine, target, request_latency):
    params = TeleportationParameters("A", target)
    params.relay_nodes = ["R1", "R2", "R3"]
    outcome = engine.execute_teleportation(params)
    assert (outcome.path, outcome.latency_ms) == (["A", "R1", "R2", "R3", target], request_latency + 3 * 50.0 / 200.0)


def test_reported_path_is_not_the_route(engine):
    assert engine.request_entanglement("A", "G", 0.95, 100.0, StrategyType.HighestFidelity).execution_path == ["A", "M", "G"]
    assert teleportation(engine, "A", "G").path == ["A", "G"]


@pytest.mark.parametrize("relays", [[], ["R1", "R2"]])
def test_without_network_the_path_stops_before_the_target(relays):
    params = TeleportationParameters("A", "B", 0.9, 50.0)
    params.relay_nodes = relays
    assert fields(TavoEngine().execute_teleportation(params)) == (False, 0.0, 0.0, 0.0, ["A"] + relays, 2)


def test_parameters_defaults_and_relay_copies():
    params = TeleportationParameters("A", "B", None, None)
    assert (params.relay_nodes, params.state_fidelity, params.classical_bandwidth_ms) == ([], 0.95, 100.0)
    params.relay_nodes = ("X",)
    params.relay_nodes.append("Y")
    assert params.relay_nodes == ["X"]
    with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
        params.relay_nodes = "XY"


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda e: teleportation(None, "A", "B"), TypeError,
         "argument 'engine': 'NoneType' object cannot be converted to 'TavoEngine'"),
        (lambda e: e.execute_teleportation(QKDParameters("A", "B", 0.8, 1.0)), TypeError,
         "argument 'params': 'QKDParameters' object cannot be converted to 'TeleportationParameters'"),
        (lambda e: teleportation(e, "A", "B", "x"), TypeError, "argument 'state_fidelity': "),
        (lambda e: TeleportationOutcome(True, 0.9, 0.9, 1.0, [], -2), OverflowError, ""),
    ],
)
def test_argument_errors(engine, call, error, message):
    with pytest.raises(error) as raised:
        call(engine)
    assert str(raised.value).startswith(message)


@pytest.mark.parametrize(
    "value, text",
    [
        (TeleportationOutcome(True, 0.8, 0.9, 12.0, [], 2), "TeleportationOutcome(success=true, fidelity=0.8000, latency=12.0ms)"),
        (TeleportationOutcome(False, 0.99996, 0.0, 1.06, [], 2), "TeleportationOutcome(success=false, fidelity=1.0000, latency=1.1ms)"),
        (TeleportationStats(3, 1.0, 0.9, 0.0125, 2.0), "TeleportationStats(runs=3, fidelity=0.9000\u00b10.0125)"),
        (TeleportationStats(0, 0.0, math.nan, 0.0, 0.0), "TeleportationStats(runs=0, fidelity=NaN\u00b10.0000)"),
    ],
)
def test_representations(value, text):
    assert repr(value) == text

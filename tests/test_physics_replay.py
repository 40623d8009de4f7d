"""The physical model's trials, draw by draw, against an independent model (physics_model.py) that
plays the same trials from the same seeds with its own generator: the probe prints every draw a
trial makes and its outcome, and both must agree trial by trial: the draws (kind, hop or node,
time, 64-bit output, derived value), the latency, the fidelity and each hop's attempts."""

import math
import subprocess

import pytest

from physics_model import Link, Network, parse_probe, play

SCENARIOS = {
    # Two unequal hops, failed swaps, a cutoff, unequal memories and purification rounds; the
    # latency limit ends some trials while hops are still attempting.
    "swaps-cutoff-purification": Network(
        t2=[0.5, 1.0, 0.1], links=[Link(20.0, 0.95, 2000.0), Link(30.0, 0.9, 2000.0)],
        target=0.88, max_latency_ms=60.0, detector=0.9, swap=0.8, cutoff_ms=3.0),
    # Midpoint heralding over fiber and a satellite link with visibility and weather, three hops.
    "midpoint-satellite": Network(
        t2=[2.0, 3.0, 3.0, 2.0],
        links=[Link(40.0, 0.97, 5000.0), Link(800.0, 0.96, 1000.0, True, 0.7, 0.9),
               Link(25.0, 0.98, 5000.0)],
        target=0.7, max_latency_ms=20000.0, midpoint=True, detector=0.8, swap=0.6,
        satellite_loss=20.0, speed_km_ms=204.0),
    # One hop pumped by purification with decaying memories until the target or the limit.
    "one-hop-pumping": Network(
        t2=[0.5, 0.2], links=[Link(10.0, 0.8, 1000.0)], target=0.85, max_latency_ms=200.0,
        detector=0.5),
    # Five hops, a tight cutoff that discards many pairs, perfect swaps.
    "five-hops-tight-cutoff": Network(
        t2=[1.0] * 6, links=[Link(25.0, 0.99, 4000.0) for _ in range(5)], target=0.5,
        max_latency_ms=400.0, cutoff_ms=1.0),
    # A 1,000 km hop next to a short one: p near 1e-20, its attempts cut by the limit.
    "hopeless-hop": Network(
        t2=[1.0, 1.0, 1.0], links=[Link(1000.0, 0.9, 1e4), Link(10.0, 0.9, 1e4)],
        target=0.5, max_latency_ms=3000.0, total_cutoff_ms=2500.0),
}


@pytest.mark.parametrize("name", SCENARIOS)
def test_trials_replay_draw_by_draw(probe, name):
    network = SCENARIOS[name]
    seed, count = 1000 + len(name), 4
    out = subprocess.run([str(probe), "physical-trials"], input=network.probe_input(seed, count),
                         capture_output=True, text=True, timeout=120, check=True)
    trials, route, ensemble = parse_probe(out.stdout)
    assert route == [f"N{i}" for i in range(len(network.links) + 1)]
    # The library's grouped ensemble plays exactly these trials.
    assert ensemble == "same"
    assert len(trials) == count
    for i, engine in enumerate(trials):
        model = play(network, seed + i)
        assert len(engine.draws) == len(model.draws), f"trial {i}"
        for drawn, expected in zip(engine.draws, model.draws):
            assert drawn == expected, f"trial {i}"
        assert (engine.success, engine.latency, engine.attempts, engine.drops) == (
            model.success, model.latency, model.attempts, model.drops), f"trial {i}"
        assert engine.fidelity == pytest.approx(model.fidelity, rel=1e-12, abs=1e-15)


def test_scenarios_reach_every_kind_of_event(probe):
    """The scenarios are only worth replaying if they exercise what can go wrong: successes and
    failures, failed swaps, purifications that fail and succeed, discarded pairs."""
    kinds = set()
    for name, network in SCENARIOS.items():
        seed = 1000 + len(name)
        for i in range(4):
            trial = play(network, seed + i)
            kinds.add("success" if trial.success else "failure")
            for draw in trial.draws:
                if draw[0] in ("swap", "purify"):
                    kinds.add(f"{draw[0]}-{draw[-1]}")
            # A hop restarting before any delivery, with perfect swaps: a discarded pair.
            if network.swap == 1 and any(d[0] == "hop" and 0 < d[2] for d in trial.draws):
                kinds.add("restart")
            if any(d[0] == "hop" and math.isinf(d[4]) or d[4] > 1e15 for d in trial.draws
                   if d[0] == "hop"):
                kinds.add("hopeless")
    assert kinds >= {"success", "failure", "swap-True", "swap-False", "purify-True",
                     "purify-False", "restart", "hopeless"}

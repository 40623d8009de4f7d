"""tavo_tools on the physical model: parallel ensembles and sweeps give the engine's figures, the
sweep varies the model's fields, key_rate and repeaterless_bound, and the command line's model."""

import json
import math
import pathlib

import pytest

import tavo_core as tavo
import tavo_tools
from tavo_tools.cli import main
from tools_support import NODES, ROUTES, assert_same_ensemble, chain_engine

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEMO = str(ROOT / "examples" / "demo.tavo")


def physical_chain(**model):
    config = tavo.SimulationConfig(total_time_cutoff_ms=20_000.0,
                                   physics=tavo.PhysicalModel(**model))
    return chain_engine(config=config)


@pytest.mark.parametrize("route", ["one-hop", "three-hop"])
@pytest.mark.parametrize("workers, chunk_runs", [(1, None), (2, 333)])
def test_parallel_ensembles_are_the_engines(route, workers, chunk_runs):
    engine = physical_chain(swap_success=0.8, link_cutoff_ms=20.0)
    source, target, fidelity, budget = ROUTES[route]
    stats = tavo_tools.simulate(engine, source, target, fidelity, budget * 10, 2000, None, 5,
                                workers=workers, chunk_runs=chunk_runs)
    reference = engine.simulate(source, target, fidelity, budget * 10, 2000, None, 5)
    assert_same_ensemble(stats, reference)
    assert stats._context.physics == engine.config.physics


def test_sweep_varies_the_models_fields():
    engine = physical_chain()
    source, target, fidelity, _ = ROUTES["three-hop"]
    vary = {"physics.swap_success": [0.5, 1.0], "physics.fiber_loss_db_km": [0.2, 0.3],
            "physics.detector_efficiency": [0.9], "physics.link_cutoff_ms": [50.0]}
    frame = tavo_tools.sweep(engine, source, target, fidelity, 2000.0, 300, vary, seed=4, workers=1)
    assert list(frame["physics.swap_success"]) == [0.5, 0.5, 1.0, 1.0]
    # Each row is the engine's own ensemble on a model holding the row's values.
    for _, row in frame.iterrows():
        model = tavo.PhysicalModel(swap_success=row["physics.swap_success"],
                                   fiber_loss_db_km=row["physics.fiber_loss_db_km"],
                                   detector_efficiency=0.9, link_cutoff_ms=50.0)
        config = tavo.SimulationConfig(total_time_cutoff_ms=20_000.0, physics=model)
        expected = chain_engine(config=config).simulate(source, target, fidelity, 2000.0, 300,
                                                        seed=4)
        assert row["mean_latency_ms"] == pytest.approx(expected.mean_latency_ms, rel=1e-12)
        assert row["congestion_drops"] == expected.aggregate_congestion_drops
    # Lossier fiber and failing swaps cost time.
    latency = frame.set_index(["physics.swap_success", "physics.fiber_loss_db_km"])["mean_latency_ms"]
    assert latency[(0.5, 0.3)] > latency[(1.0, 0.2)]


@pytest.mark.parametrize("run", ["sweep", "rank"])
@pytest.mark.parametrize("physical, key, match", [
    (False, "physics.swap_success", "needs an engine with a physical model"),
    (True, "physics.scheme", "unknown parameter 'physics.scheme'"),
    # The cycle model's attenuation does nothing on the physical model, which has its own.
    (True, "alpha_loss_db_km", "'physics.fiber_loss_db_km'"),
])
def test_keys_of_the_other_model_are_refused(run, physical, key, match):
    engine = physical_chain() if physical else chain_engine()
    with pytest.raises(ValueError, match=match):
        if run == "sweep":
            tavo_tools.sweep(engine, "A", "B", 0.9, 200.0, 10, {key: [0.5]})
        else:
            tavo_tools.rank(engine, "A", "B", 0.9, 200.0, 10, [key])


def test_rankings_stay_in_the_physical_models_range(tmp_path, capsys):
    """A Werner pair's fidelity is at least 0.25: a link of 0.26 is lowered to 0.25, not to 0.234
    (which the model refuses), and the attenuation offered is the model's own."""
    links = [("A", "B", 20.0, 0.26, 1500.0, False), ("B", "C", 40.0, 0.95, 1000.0, False)]
    config = tavo.SimulationConfig(physics=tavo.PhysicalModel())
    engine = chain_engine(NODES[:3], links, config)
    frame = tavo_tools.rank(engine, "A", "C", 0.2, 300.0, 40)
    row = frame.loc["base_fidelity:A->B"]
    assert (row.low, bool(row.clamped)) == (0.25, True)
    assert "alpha_loss_db_km" not in frame.index and "physics.fiber_loss_db_km" in frame.index
    # The command line: the same ranking runs, and a key of the other model is a usage error.
    path = tmp_path / "weak.tavo"
    weak = tavo.TavoFile("weak")
    for name, t2 in NODES[:3]:
        weak.add_node(name, 1000.0 * t2)
    for a, b, d, f, r, _ in links:
        weak.add_link(f"{a}-{b}", a, b, d, f, r)
    weak.save(str(path))
    argv = ["sensitivity", str(path), "A", "C", "--fidelity", "0.2", "--budget", "300",
            "--runs", "40", "--physical", "--seed", "1"]
    assert main(argv) == 0
    assert "base_fidelity:A->B" in capsys.readouterr().out
    assert main(argv + ["--param", "alpha_loss_db_km"]) == 2
    assert "argument --param: parameter 'alpha_loss_db_km' acts on the cycle model only" in (
        capsys.readouterr().err)


def h(p):
    return -p * math.log2(p) - (1 - p) * math.log2(1 - p)


@pytest.mark.parametrize("rate, latency, fidelity, expected", [
    # Pairs per second times 1 - 2 h(e), e = (1 - w)/2, w = (4F - 1)/3.
    (1.0, 10.0, 1.0, 100.0),
    (0.5, 4.0, 0.97, 125.0 * (1 - 2 * h(0.02))),
    (1.0, 10.0, 0.83, 0.0),     # e = 0.113: no key
    (0.0, 100.0, 0.0, 0.0),     # nothing delivered
    (math.nan, math.nan, 0.0, 0.0),  # an ensemble of no trials
])
def test_key_rate(rate, latency, fidelity, expected):
    stats = tavo.MonteCarloStats(10, rate, latency, fidelity, 0, {})
    assert tavo_tools.key_rate(stats) == pytest.approx(expected, rel=1e-12)


def test_key_rate_of_an_ensemble():
    stats = physical_chain().simulate("A", "B", 0.9, 200.0, 5000, seed=2)
    w = (4 * stats.mean_fidelity - 1) / 3
    pairs_per_s = 1000 * stats.empirical_success_rate / stats.mean_latency_ms
    assert tavo_tools.key_rate(stats) == pytest.approx(pairs_per_s * (1 - 2 * h((1 - w) / 2)))


@pytest.mark.parametrize("distance, loss, expected", [
    (0.0, 0.2, math.inf),
    (50.0, 0.2, -math.log2(0.9)),           # eta = 0.1
    (100.0, 0.1, -math.log2(0.9)),
    (1000.0, 0.2, 1e-20 / math.log(2)),     # about 1.44 eta for a long fiber
])
def test_repeaterless_bound(distance, loss, expected):
    assert tavo_tools.repeaterless_bound(distance, loss) == pytest.approx(expected, rel=1e-12)


@pytest.mark.parametrize("arguments, error", [((-1.0,), ValueError), ((10.0, -0.2), ValueError),
                                               (("10",), TypeError), ((math.nan,), ValueError)])
def test_repeaterless_bound_refuses(arguments, error):
    with pytest.raises(error):
        tavo_tools.repeaterless_bound(*arguments)


@pytest.mark.parametrize("distance, rate, speed, period_ms", [
    (10.0, 1000.0, 200.0, 1.0),      # the source is slower than the heralding: 1 ms per use
    (500.0, 1000.0, 200.0, 5.0),     # heralding takes 2 L / c = 5 ms
    (500.0, 1000.0, 100.0, 10.0),
])
def test_repeaterless_key_rate_counts_the_uses_of_a_direct_fiber(distance, rate, speed, period_ms):
    expected = tavo_tools.repeaterless_bound(distance, 0.2) * 1000.0 / period_ms
    assert tavo_tools.repeaterless_key_rate(distance, rate, 0.2, speed) == pytest.approx(expected, rel=1e-15)


@pytest.mark.parametrize("arguments, error", [
    ((10.0, 0.0), ValueError), ((10.0, -1.0), ValueError), ((10.0, 1e3, 0.2, 0.0), ValueError),
    ((10.0, "1e3"), TypeError), ((10.0, True), TypeError), ((-1.0, 1e3), ValueError),
])
def test_repeaterless_key_rate_refuses(arguments, error):
    with pytest.raises(error):
        tavo_tools.repeaterless_key_rate(*arguments)


# --- the command line ----------------------------------------------------------------------------

SIMULATE = ["simulate", DEMO, "Alice", "Bob", "--fidelity", "0.8", "--budget", "200", "--runs",
            "500", "--seed", "3", "--json"]


def with_model(tmp_path, physics):
    document = json.loads(pathlib.Path(DEMO).read_text())
    document["config"]["physics"] = physics
    path = tmp_path / "physical.tavo"
    path.write_text(json.dumps(document))
    return str(path)


def test_simulate_names_the_model(tmp_path, capsys):
    assert main(SIMULATE) == 0
    cycle = json.loads(capsys.readouterr().out)
    assert cycle["model"] == "cycle" and "physics" not in cycle
    assert main(SIMULATE + ["--physical"]) == 0
    physical = json.loads(capsys.readouterr().out)
    assert physical["model"] == "physical" and physical["physics"] == {
        "scheme": "Direct", "detector_efficiency": 1.0, "swap_success": 1.0,
        "fiber_loss_db_km": 0.2, "satellite_loss_db": 30.0, "link_cutoff_ms": None}
    engine = tavo.from_tavo_file(DEMO)
    config = engine.config
    config.physics = tavo.PhysicalModel()
    expected = tavo.TavoEngine(config)
    expected.define_network(engine.nodes, engine.links)
    stats = expected.simulate("Alice", "Bob", 0.8, 200.0, 500, seed=3)
    assert physical["success_rate"] == stats.empirical_success_rate
    assert physical["congestion_drops"] == stats.aggregate_congestion_drops
    # A file's own model is used, with or without --physical.
    path = with_model(tmp_path, {"swap_success": 0.5, "scheme": "midpoint"})
    for extra in ([], ["--physical"]):
        assert main([SIMULATE[0], path] + SIMULATE[2:] + extra) == 0
        model = json.loads(capsys.readouterr().out)["physics"]
        assert (model["swap_success"], model["scheme"]) == (0.5, "Midpoint")


def test_text_output_and_refused_values(tmp_path, capsys):
    assert main(SIMULATE[:-1] + ["--physical"]) == 0
    assert "physical model (scheme Direct" in capsys.readouterr().out
    document = json.loads(pathlib.Path(DEMO).read_text())
    document["links"][0]["base_fidelity"] = 0.2
    path = tmp_path / "weak.tavo"
    path.write_text(json.dumps(document))
    assert main([SIMULATE[0], str(path)] + SIMULATE[2:] + ["--physical"]) == 1
    assert capsys.readouterr().err == (
        "tavo: link Alice->Repeater: base_fidelity must be in [0.25, 1], got 0.2\n")


def test_compare_on_the_physical_model(tmp_path, capsys):
    argv = ["compare", "--runs", "100", "--budget", "3000", "--json", "--seed", "1",
            "--endpoint", "telecom_backbone:A:E", "--endpoint", "repeater_chain:N0:N3"]
    assert main(argv) == 0
    assert [row["model"] for row in json.loads(capsys.readouterr().out)["networks"]] == [
        "cycle", "cycle"]
    assert main(argv + ["--physical"]) == 0
    report = json.loads(capsys.readouterr().out)
    assert [row["model"] for row in report["networks"]] == ["physical", "physical"]
    assert report["recommended"] == "repeater_chain"
    # A 5,500 km fiber hop delivers nothing within 3 s on the physical model.
    assert [row["success_rate"] for row in report["networks"]] == [0.0, 1.0]
    # A file keeps its own model next to networks that take the defaults.
    own = with_model(tmp_path, {"swap_success": 0.5})
    assert main(["compare", own, "repeater_chain", "--from", "Alice", "--to", "Bob", "--runs",
                 "50", "--json", "--physical"]) == 2  # the chain has no Alice
    capsys.readouterr()
    assert main(["compare", own, DEMO, "--from", "Alice", "--to", "Bob", "--runs", "50",
                 "--json", "--physical"]) == 0
    rows = json.loads(capsys.readouterr().out)["networks"]
    assert [row["physics"]["swap_success"] for row in rows] == [0.5, 1.0]

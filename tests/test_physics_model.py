"""The physical model as users meet it: the PhysicalModel and HeraldingScheme classes, the engine
playing requests on the configuration's model, refused values, reproducible and chunked
ensembles, the effect of every parameter, .tavo config sections, snapshots, contexts, the
protocols and the comparison of topologies."""

import json
import math
import pickle

import pytest

import tavo_core as tc

DEFAULTS = dict(scheme=tc.HeraldingScheme.Direct, detector_efficiency=1.0, swap_success=1.0,
                fiber_loss_db_km=0.2, satellite_loss_db=30.0, link_cutoff_ms=None)


def fields(model):
    return {name: getattr(model, name) for name in DEFAULTS}


def physical_engine(links, nodes=None, model=None, cutoff=60_000.0, speed=None):
    """An engine on the physical model; links are (from, to, km, fidelity, rate[, type,
    conditions]) tuples, nodes (id, T2) pairs (default: every endpoint with T2 = 1 s)."""
    config = tc.SimulationConfig(total_time_cutoff_ms=cutoff,
                                 physics=model if model is not None else tc.PhysicalModel())
    if speed is not None:
        physical = config.physical
        physical.speed_of_light_in_fiber_km_ms = speed
        config.physical = physical
    engine = tc.TavoEngine(config)
    if nodes is None:
        nodes = [(n, 1.0) for n in sorted({end for link in links for end in link[:2]})]
    engine.define_network([tc.NodeDefinition(*n) for n in nodes],
                          [tc.LinkDefinition(*link) for link in links])
    return engine


CHAIN = [("A", "B", 50.0, 0.95, 1e4), ("B", "C", 60.0, 0.93, 5e3)]


# --- the classes ---------------------------------------------------------------------------------


def test_defaults_and_none_arguments():
    assert fields(tc.PhysicalModel()) == DEFAULTS
    assert fields(tc.PhysicalModel(None, None, None, None, None, None)) == DEFAULTS
    model = tc.PhysicalModel(tc.HeraldingScheme.Midpoint, 0.5, 0.9, 0.17, 25.0, 4.0)
    assert fields(model) == dict(scheme=tc.HeraldingScheme.Midpoint, detector_efficiency=0.5,
                                 swap_success=0.9, fiber_loss_db_km=0.17, satellite_loss_db=25.0,
                                 link_cutoff_ms=4.0)
    assert repr(model) == (
        "PhysicalModel(scheme=HeraldingScheme.Midpoint, detector_efficiency=0.5, swap_success=0.9, "
        "fiber_loss_db_km=0.17, satellite_loss_db=25.0, link_cutoff_ms=4.0)")
    # Values are checked when a request runs, not here.
    assert tc.PhysicalModel(detector_efficiency=7.0).detector_efficiency == 7.0


@pytest.mark.parametrize("field, other", [
    ("scheme", tc.HeraldingScheme.Midpoint), ("detector_efficiency", 0.5), ("swap_success", 0.5),
    ("fiber_loss_db_km", 0.3), ("satellite_loss_db", 20.0), ("link_cutoff_ms", 2.0),
])
def test_equality_by_value(field, other):
    a, b = tc.PhysicalModel(), tc.PhysicalModel()
    assert a == b and not a != b
    setattr(b, field, other)
    assert a != b and not a == b
    assert tc.PhysicalModel(**{field: other}) == b
    assert pickle.loads(pickle.dumps(b)) == b


def test_heralding_scheme_members_pickle_by_name_and_compare_by_kind():
    model = tc.PhysicalModel(scheme=tc.HeraldingScheme.Midpoint)
    assert model.scheme == tc.HeraldingScheme.Midpoint and model.scheme != tc.HeraldingScheme.Direct
    assert pickle.loads(pickle.dumps(tc.HeraldingScheme.Midpoint)) is tc.HeraldingScheme.Midpoint
    assert tc.HeraldingScheme.Direct != tc.LinkType.Fiber


def test_configuration_holds_a_copy_and_engines_keep_it():
    model = tc.PhysicalModel(swap_success=0.7)
    config = tc.SimulationConfig(physics=model)
    model.swap_success = 0.1
    assert config.physics.swap_success == 0.7
    assert tc.SimulationConfig().physics is None and tc.TavoEngine().config.physics is None
    engine = physical_engine(CHAIN, model=tc.PhysicalModel(swap_success=0.7))
    assert engine.config.physics == tc.PhysicalModel(swap_success=0.7)
    again = pickle.loads(pickle.dumps(engine))
    assert again.config.physics == engine.config.physics
    assert (again.simulate("A", "C", 0.8, 1000.0, 2000, seed=4).mean_latency_ms
            == engine.simulate("A", "C", 0.8, 1000.0, 2000, seed=4).mean_latency_ms)


# --- refused values ------------------------------------------------------------------------------

NAN, INF = math.nan, math.inf

REFUSED = [
    # (model fields, node changes, link changes, message)
    ({"detector_efficiency": 0.0}, {}, {}, "physics: detector_efficiency must be in (0, 1], got 0"),
    ({"detector_efficiency": 1.5}, {}, {}, "physics: detector_efficiency must be in (0, 1], got 1.5"),
    ({"swap_success": NAN}, {}, {}, "physics: swap_success must be in (0, 1], got NaN"),
    ({"fiber_loss_db_km": -0.1}, {}, {},
     "physics: fiber_loss_db_km must be a finite number at least 0, got -0.1"),
    ({"satellite_loss_db": INF}, {}, {},
     "physics: satellite_loss_db must be a finite number at least 0, got inf"),
    ({"link_cutoff_ms": -1.0}, {}, {}, "physics: link_cutoff_ms must be at least 0 or None, got -1"),
    ({}, {"B": 0.0}, {}, "node 'B': memory_lifetime_t2 must be above 0 (seconds), got 0"),
    ({}, {"D": NAN}, {}, "node 'D': memory_lifetime_t2 must be above 0 (seconds), got NaN"),
    ({}, {}, {2: -5.0}, "link A->B: distance_km must be a finite number at least 0, got -5"),
    ({}, {}, {2: INF}, "link A->B: distance_km must be a finite number at least 0, got inf"),
    ({}, {}, {3: 0.2}, "link A->B: base_fidelity must be in [0.25, 1], got 0.2"),
    ({}, {}, {3: 1.01}, "link A->B: base_fidelity must be in [0.25, 1], got 1.01"),
    ({}, {}, {4: 0.0}, "link A->B: generation_rate_hz must be a finite number above 0, got 0"),
    ({}, {}, {4: INF}, "link A->B: generation_rate_hz must be a finite number above 0, got inf"),
    ({}, {}, {5: tc.LinkType.Satellite, 6: tc.SatelliteConditions(1.5)},
     "link A->B: satellite_conditions.visibility must be in [0, 1], got 1.5"),
    ({}, {}, {5: tc.LinkType.Satellite, 6: tc.SatelliteConditions(1.0, -0.5)},
     "link A->B: satellite_conditions.weather_factor must be in [0, 1], got -0.5"),
    ({}, {}, {1: "X"},
     "link A->X: node 'X' is not defined (the physical model needs its memory_lifetime_t2)"),
]


@pytest.mark.parametrize("model_fields, nodes, link, message", REFUSED)
def test_values_the_model_cannot_use_are_refused(model_fields, nodes, link, message):
    # Every node and link counts, on the route or not (D is on no route).
    node_list = [("A", 1.0), ("B", 1.0), ("C", 1.0), ("D", 1.0)]
    node_list = [(n, nodes.get(n, t2)) for n, t2 in node_list]
    first = list(CHAIN[0]) + [tc.LinkType.Fiber, None]
    for index, value in link.items():
        first[index] = value
    links = [tuple(first), CHAIN[1]]
    engine = physical_engine(links, node_list, tc.PhysicalModel(**model_fields))
    for call in (lambda: engine.simulate("A", "C", 0.5, 100.0, 0, seed=1),
                 lambda: engine.request_entanglement("A", "C", 0.5, 100.0)):
        with pytest.raises(ValueError) as raised:
            call()
        assert str(raised.value) == message
    # The cycle model takes the same network as it always did.
    cycle = tc.TavoEngine()
    cycle.define_network([tc.NodeDefinition(*n) for n in node_list],
                         [tc.LinkDefinition(*link) for link in links])
    cycle.simulate("A", "C", 0.5, 100.0, 10, seed=1)


@pytest.mark.parametrize("source, target, message", [
    ("Z", "C", "request: from_node 'Z' is not a node of the network"),
    ("A", "Z", "request: to 'Z' is not a node of the network"),
])
def test_unknown_endpoints_are_refused(source, target, message):
    engine = physical_engine(CHAIN)
    with pytest.raises(ValueError, match=f"^{message}$"):
        engine.simulate(source, target, 0.5, 100.0, 5, seed=1)
    with pytest.raises(ValueError, match=f"^{message}$"):
        engine.request_entanglement(source, target, 0.5, 100.0)


def test_speed_and_limits_are_checked():
    engine = physical_engine(CHAIN, speed=0.0)
    with pytest.raises(ValueError, match="speed_of_light_in_fiber_km_ms must be above 0, got 0"):
        engine.simulate("A", "C", 0.5, 100.0, 5, seed=1)
    with pytest.raises(ValueError, match="max_latency_ms must be finite"):
        physical_engine(CHAIN).simulate("A", "C", 0.5, math.inf, 5, seed=1)


# --- requests and ensembles ----------------------------------------------------------------------


def test_single_requests_repeat_and_report_their_route():
    engine = physical_engine(CHAIN + [("C", "D", 10.0, 0.99, 1e4)])
    first = engine.request_entanglement("A", "D", 0.7, 500.0)
    again = engine.request_entanglement("A", "D", 0.7, 500.0)
    assert first.success and first.execution_path == ["A", "B", "C", "D"]
    assert (first.latency_ms, first.final_fidelity) == (again.latency_ms, again.final_fidelity)
    # Nothing joins E to the rest: no route, no time.
    engine = physical_engine(CHAIN + [("E", "F", 1.0, 0.9, 1.0)])
    lonely = engine.request_entanglement("A", "E", 0.5, 100.0)
    assert (lonely.success, lonely.latency_ms, lonely.execution_path) == (False, 0.0, [])
    assert engine.simulate("A", "E", 0.5, 100.0, 10, seed=1).link_utilization_heatmap == {}
    # A node shares perfect entanglement with itself at once.
    itself = engine.request_entanglement("B", "B", 0.99, 100.0)
    assert (itself.success, itself.latency_ms, itself.final_fidelity) == (True, 0.0, 1.0)


def counts(stats):
    return (round(stats.empirical_success_rate * stats.total_runs),
            stats.aggregate_congestion_drops, dict(stats.link_utilization_heatmap))


@pytest.mark.parametrize("model", [
    tc.PhysicalModel(),
    tc.PhysicalModel(scheme=tc.HeraldingScheme.Midpoint, swap_success=0.6, link_cutoff_ms=2.0),
])
def test_ensembles_repeat_and_cut_into_chunks(model):
    engine = physical_engine(CHAIN, nodes=[("A", 0.5), ("B", 0.02), ("C", 2.0)], model=model)
    run = lambda runs, seed: engine.simulate("A", "C", 0.85, 40.0, runs, seed=seed)  # noqa: E731
    whole = run(1003, 2**64 - 500)
    assert counts(whole) == counts(run(1003, 2**64 - 500))
    assert 0.05 < whole.empirical_success_rate < 0.95  # both outcomes occur
    # Seeds wrap past 2**64 inside the ensemble; the chunks' sums are the whole's.
    parts = [run(500, 2**64 - 500), run(3, 0), run(500, 3)]
    successes = sum(counts(p)[0] for p in parts)
    drops = sum(p.aggregate_congestion_drops for p in parts)
    heatmap = {}
    for part in parts:
        for key, value in part.link_utilization_heatmap.items():
            heatmap[key] = heatmap.get(key, 0) + value
    assert (successes, drops, heatmap) == counts(whole)
    latency = sum(p.mean_latency_ms * p.total_runs for p in parts) / 1003
    assert latency == pytest.approx(whole.mean_latency_ms, rel=1e-12)


# --- what each parameter does --------------------------------------------------------------------


def test_memory_lifetimes_change_the_delivered_fidelity():
    fidelities = []
    for t2 in (0.001, 0.01, 0.1, 1.0, 10.0):
        engine = physical_engine(CHAIN, nodes=[("A", t2), ("B", t2), ("C", t2)])
        fidelities.append(engine.simulate("A", "C", 0.25, 1000.0, 20_000, seed=1).mean_fidelity)
    assert fidelities == sorted(fidelities) and fidelities[-1] - fidelities[0] > 0.3


def test_hop_physics_sets_the_attempts():
    """Mean attempts per hop are 1/p: doubling the loss in dB squares the transmission, and
    visibility and weather scale a satellite link's."""
    def attempts(links, **model):
        stats = physical_engine(links, model=tc.PhysicalModel(**model)).simulate(
            "A", "B", 0.5, 1e9, 20_000, seed=3)
        return stats.link_utilization_heatmap["A->B"] / 20_000

    assert attempts([("A", "B", 50.0, 0.9, 1e4)]) == pytest.approx(10.0, rel=0.05)
    assert attempts([("A", "B", 50.0, 0.9, 1e4)], fiber_loss_db_km=0.4) == pytest.approx(100, rel=0.05)
    assert attempts([("A", "B", 50.0, 0.9, 1e4)], detector_efficiency=0.5) == pytest.approx(
        20.0, rel=0.05)
    satellite = ("A", "B", 1000.0, 0.9, 1e4, tc.LinkType.Satellite)
    assert attempts([satellite + (tc.SatelliteConditions(0.5, 0.5),)], satellite_loss_db=10.0) == (
        pytest.approx(40.0, rel=0.05))
    # A 1,000 km fiber hop (p = 1e-20) never succeeds within a minute.
    far = physical_engine([("A", "B", 1000.0, 0.9, 1e4)])
    assert far.simulate("A", "B", 0.5, 60_000.0, 1000, seed=1).empirical_success_rate == 0.0


def test_sensitivity_sees_the_physics_the_cycle_model_ignores():
    nodes = [("A", 0.05), ("B", 0.05), ("C", 0.05)]
    physical = physical_engine(CHAIN, nodes=nodes)
    stats = physical.simulate("A", "C", 0.86, 60.0, 1000, seed=2)
    assert stats._context.physics == tc.PhysicalModel()
    ranking = stats.sensitivity_analysis(5)
    assert ranking["memory_lifetime_t2:B"] > 0 and ranking["alpha_loss_db_km"] > 0
    assert ranking["generation_rate_hz:B->C"] == 0.0  # heralding-bound: 1000/R < 2L/c
    cycle = tc.TavoEngine()
    cycle.define_network([tc.NodeDefinition(*n) for n in nodes],
                         [tc.LinkDefinition(*link) for link in CHAIN])
    cycle_ranking = cycle.simulate("A", "C", 0.8, 60.0, 1000, seed=2).sensitivity_analysis(5)
    assert all(cycle_ranking[f"memory_lifetime_t2:{n}"] == 0.0 for n in "ABC")


def test_contexts_keep_link_kinds_through_pickling():
    satellite = ("B", "C", 500.0, 0.9, 1e3, tc.LinkType.Satellite, tc.SatelliteConditions(0.3))
    engine = physical_engine([CHAIN[0], satellite], speed=150.0)
    stats = engine.simulate("A", "C", 0.5, 3000.0, 400, seed=8)
    context = stats._context
    assert context.speed_of_light_in_fiber_km_ms == 150.0 and context.physics == tc.PhysicalModel()
    again = pickle.loads(pickle.dumps(stats))
    assert again.sensitivity_analysis(1) == stats.sensitivity_analysis(1)
    assert any(v > 0 for v in stats.sensitivity_analysis(1).values())


# --- files and snapshots -------------------------------------------------------------------------


def document(physics=None, array_config=False):
    doc = {
        "version": "1.0",
        "metadata": {"name": "two hops"},
        "nodes": [{"id": n, "memory_lifetime_ms": 500.0} for n in "ABC"],
        "links": [{"id": "L1", "from": "A", "to": "B", "distance_km": 50.0, "base_fidelity": 0.95,
                   "generation_rate_hz": 1e4},
                  {"id": "L2", "from": "B", "to": "C", "distance_km": 60.0, "base_fidelity": 0.93,
                   "generation_rate_hz": 5e3}],
    }
    if array_config:
        doc["config"] = [0.2, None, None, 7]
    elif physics is not None:
        doc["config"] = {"alpha_loss": 0.2, "physics": physics}
    return doc


def write(tmp_path, name, doc):
    path = tmp_path / name
    path.write_text(json.dumps(doc))
    return str(path)


def test_files_carry_the_model(tmp_path):
    path = write(tmp_path, "a.tavo", document({"scheme": "midpoint", "swap_success": 0.8,
                                               "detector_efficiency": None, "link_cutoff_ms": 5}))
    loaded = tc.load_tavo_file(path)
    expected = tc.PhysicalModel(tc.HeraldingScheme.Midpoint, swap_success=0.8, link_cutoff_ms=5.0)
    assert loaded.config.physics == expected
    engine = tc.from_tavo_file(path)
    assert engine.config.physics == expected
    assert engine.simulate("A", "C", 0.5, 1000.0, 100, seed=1).empirical_success_rate == 1.0
    # Saved with every field; read back the same.
    tc.save(loaded, str(tmp_path / "b.tavo"))
    saved = json.loads((tmp_path / "b.tavo").read_text())["config"]["physics"]
    assert saved == {"scheme": "midpoint", "detector_efficiency": 1.0, "swap_success": 0.8,
                     "fiber_loss_db_km": 0.2, "satellite_loss_db": 30.0, "link_cutoff_ms": 5.0}
    assert tc.load_tavo_file(str(tmp_path / "b.tavo")).config.physics == expected
    # Without the section the engine plays the cycle model, and nothing mentions a model.
    plain = write(tmp_path, "c.tavo", document())
    assert tc.from_tavo_file(plain).config.physics is None
    tc.save(tc.load_tavo_file(plain), str(tmp_path / "d.tavo"))
    assert "physics" not in (tmp_path / "d.tavo").read_text()
    assert "physics" not in repr(tc.load_tavo_file(plain).config or tc.TavoConfig())
    # The array form of a config section keeps its four elements.
    assert tc.load_tavo_file(write(tmp_path, "e.tavo", document(array_config=True))).config.physics is None


@pytest.mark.parametrize("field, value, rule", [
    ("detector_efficiency", 0, "in (0, 1]"),
    ("swap_success", 1.5, "in (0, 1]"),
    ("fiber_loss_db_km", -1, "a finite number at least 0"),
    ("satellite_loss_db", -3, "a finite number at least 0"),
    ("link_cutoff_ms", -2, "at least 0 or None"),
])
def test_files_with_bad_values_fail_validation_with_their_path(tmp_path, field, value, rule):
    path = write(tmp_path, "bad.tavo", document({field: value}))
    report = tc.validate(path)
    assert not report["valid"]
    shown = f"{value:g}" if value != int(value) else str(int(value))
    assert report["errors"] == [{
        "type": f"InvalidPhysicsValue: {field} {shown}",
        "message": f"Invalid {field} {shown} (must be {rule}) [config.physics.{field}]",
        "path": f"config.physics.{field}",
    }]
    with pytest.raises(RuntimeError, match=rf"\[config\.physics\.{field}\]"):
        tc.from_tavo_file(path)


def test_unknown_scheme_spelling_is_a_parse_error(tmp_path):
    path = write(tmp_path, "bad.tavo", document({"scheme": "Direct"}))
    with pytest.raises(RuntimeError, match="unknown variant `Direct`, expected `direct` or `midpoint`"):
        tc.load_tavo_file(path)


def test_diffs_name_the_changed_fields(tmp_path):
    old = write(tmp_path, "old.tavo", document({"swap_success": 0.9}))
    new = write(tmp_path, "new.tavo", document({"swap_success": 0.5, "scheme": "midpoint"}))
    bare = write(tmp_path, "bare.tavo", document({}))
    summary = tc.diff(old, new)["summary"]
    assert summary.endswith("  Config changes:\n"
                            "     - physics.scheme: HeraldingScheme.Direct -> HeraldingScheme.Midpoint\n"
                            "     - physics.swap_success: 0.9 -> 0.5\n")
    doc = document()
    doc["config"] = {"alpha_loss": 0.2}
    without = write(tmp_path, "without.tavo", doc)
    assert tc.diff(without, bare)["summary"].endswith(
        "     - physics: None -> PhysicalModel(scheme=HeraldingScheme.Direct, detector_efficiency=1.0, "
        "swap_success=1.0, fiber_loss_db_km=0.2, satellite_loss_db=30.0, link_cutoff_ms=None)\n")
    assert tc.diff(old, old)["summary"] == f"Diff between '{old}' and '{old}':\n"


def test_snapshots_carry_the_model_only_when_there_is_one(tmp_path):
    engine = physical_engine(CHAIN, model=tc.PhysicalModel(link_cutoff_ms=3.0))
    assert engine.snapshot().config.physics == tc.PhysicalModel(link_cutoff_ms=3.0)
    tc.save_topology(engine, str(tmp_path / "p.json"))
    written = json.loads((tmp_path / "p.json").read_text())["config"]
    assert written["physics"]["link_cutoff_ms"] == 3.0
    cycle = tc.TavoEngine()
    cycle.define_network(engine.nodes, engine.links)
    assert cycle.snapshot().config.physics is None
    tc.save_topology(cycle, str(tmp_path / "c.json"))
    assert "physics" not in (tmp_path / "c.json").read_text()
    # Loading a snapshot replaces the network only: the loading engine keeps its own model.
    tc.load_topology(cycle, str(tmp_path / "p.json"))
    assert cycle.config.physics is None


# --- protocols and comparisons -------------------------------------------------------------------


def binary_entropy(e):
    return -e * math.log2(e) - (1 - e) * math.log2(1 - e)


def test_key_distribution_reads_pairs_as_werner_states():
    # One hop, no decay while heralded: every round delivers F0.
    f0 = 0.95
    engine = physical_engine([("A", "B", 20.0, f0, 1e4)])
    result = engine.run_qkd(tc.QKDParameters("A", "B", 0.9, 1e6, rounds=40))
    w = (4 * f0 - 1) / 3
    qber = (1 - w) / 2
    assert result.rounds_completed == 40 and result.qber == pytest.approx(qber, rel=1e-12)
    assert result.secret_key_length_bits == math.floor(20 * (1 - 2 * binary_entropy(qber)))
    # Round k is the trial of seed k: the exchange takes the time of those trials.
    trials = sum(engine.simulate("A", "B", 0.9, 1e6, 1, seed=k).mean_latency_ms for k in range(40))
    assert result.latency_ms == pytest.approx(trials, rel=1e-12)
    assert engine.run_qkd(tc.QKDParameters("A", "B", 0.9, 1e6, rounds=40)).latency_ms == (
        result.latency_ms)
    # A QBER whose BB84 fraction is not positive gives no key, even below the tolerance.
    noisy = physical_engine([("A", "B", 20.0, 0.83, 1e4)])
    weak = noisy.run_qkd(tc.QKDParameters("A", "B", 0.8, 1e6, rounds=40, error_rate_tolerance=0.2))
    assert weak.rounds_completed == 40 and weak.secret_key_length_bits == 0


def test_teleportation_reaches_two_thirds_f_plus_one_third():
    engine = physical_engine([("A", "B", 20.0, 0.96, 1e4)])
    outcome = tc.teleportation(engine, "A", "B")
    assert outcome.success and outcome.resource_entanglement_fidelity == pytest.approx(0.96)
    assert outcome.teleportation_fidelity == pytest.approx((2 * 0.96 + 1) / 3, rel=1e-12)


def test_comparisons_run_on_the_given_configuration():
    endpoints = [tc.TopologyEndpoints("telecom_backbone", "A", "E"),
                 tc.TopologyEndpoints("repeater_chain", "N0", "N3")]
    cycle = tc.compare_topologies(endpoints, 0.7, 5000.0, 200)
    config = tc.SimulationConfig(total_time_cutoff_ms=5000.0, physics=tc.PhysicalModel())
    physical = tc.compare_topologies(endpoints, 0.7, 5000.0, 200, None, config)
    # A 5,500 km fiber hop delivers nothing within 5 s on the physical model; the cycle model
    # succeeds at least half its attempts.
    assert physical.results[0].success_rate == 0.0 < cycle.results[0].success_rate
    assert physical.results[1].success_rate == 1.0
    assert physical.recommended_topology == "repeater_chain"

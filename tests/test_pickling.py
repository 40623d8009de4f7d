"""Pickling and copying: every class with data and every enumeration member round-trips to an equal
value through pickle (every protocol), copy.copy and copy.deepcopy."""

import concurrent.futures
import copy
import importlib.util
import math
import pathlib
import pickle

import pytest

import tavo_core as tc

_spec = importlib.util.spec_from_file_location(
    "api_surface", pathlib.Path(__file__).resolve().parent.parent / "tools" / "api_surface.py")
api_surface = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(api_surface)

# One instance of every class of the module, reached through a tour of the public API.
SAMPLES = api_surface.sample_instances(tc)
ENUMERATIONS = [tc.LinkType, tc.StrategyType, tc.BasisType, tc.TavoNodeType, tc.TavoLinkType,
                tc.HeraldingScheme]
DATA_CLASSES = sorted((cls for cls in SAMPLES if cls not in ENUMERATIONS), key=lambda cls: cls.__name__)
ROUND_TRIPS = {
    **{f"pickle{p}": (lambda obj, p=p: pickle.loads(pickle.dumps(obj, p)))
       for p in range(pickle.HIGHEST_PROTOCOL + 1)},
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


def state(value):
    """A comparable picture of a value: objects of the module by their attributes, recursively."""
    if isinstance(value, list):
        return [state(v) for v in value]
    if isinstance(value, tuple):
        return tuple(state(v) for v in value)
    if isinstance(value, dict):
        return {k: state(v) for k, v in value.items()}
    if isinstance(value, float) and math.isnan(value):
        return "nan"
    if type(value).__module__ == "tavo_core":
        if type(value) in ENUMERATIONS:
            return repr(value)
        if isinstance(value, tc.TavoEngine):
            return ("TavoEngine", state(value.__reduce__()[1][1]))
        names = [n for n, d in vars(type(value)).items() if type(d).__name__ == "getset_descriptor"]
        return (type(value).__name__, {n: state(getattr(value, n)) for n in names})
    return value


def test_every_class_is_covered():
    assert len(DATA_CLASSES) == 38 + 6 - len(ENUMERATIONS)


@pytest.mark.parametrize("trip", ROUND_TRIPS)
@pytest.mark.parametrize("cls", DATA_CLASSES, ids=lambda cls: cls.__name__)
def test_objects_round_trip_to_equal_values(cls, trip):
    original = SAMPLES[cls]
    again = ROUND_TRIPS[trip](original)
    assert type(again) is cls and again is not original
    assert state(again) == state(original)


@pytest.mark.parametrize("trip", ROUND_TRIPS)
@pytest.mark.parametrize("enum", ENUMERATIONS, ids=lambda e: e.__name__)
def test_enumeration_members_come_back_as_the_same_member(enum, trip):
    for name, member in vars(enum).items():
        if type(member) is enum:
            assert ROUND_TRIPS[trip](member) is member
    # A copy handed out by a getter comes back as the class attribute of its kind.
    copy_of_member = tc.LinkDefinition("a", "b", 1, 1, 1, tc.LinkType.Satellite).link_type
    assert copy_of_member is not tc.LinkType.Satellite
    assert ROUND_TRIPS[trip](copy_of_member) is tc.LinkType.Satellite


def satellite_engine():
    engine = tc.TavoEngine(tc.SimulationConfig(total_time_cutoff_ms=800.0, alpha_loss_db_km=0.3))
    payload = tc.generate_topology("hybrid_satellite_fiber")
    engine.define_network(payload.nodes, payload.links)
    return engine


@pytest.mark.parametrize("trip", ROUND_TRIPS)
def test_an_engine_carries_its_configuration_and_network(trip):
    engine = satellite_engine()
    again = ROUND_TRIPS[trip](engine)
    config, (nodes, links) = again.__reduce__()[1][1]
    assert (config.total_time_cutoff_ms, config.physical.baseline_purify_factor) == (800.0, 0.03)
    assert [n.id for n in nodes] == ["Toronto", "Montreal", "London", "SAT-1"]
    assert [link.link_type for link in links] == [tc.LinkType.Fiber] * 2 + [tc.LinkType.Satellite] * 2
    ours = engine.simulate("Toronto", "London", 0.7, 900.0, 400, seed=3)
    theirs = again.simulate("Toronto", "London", 0.7, 900.0, 400, seed=3)
    assert state(ours) == state(theirs)
    # Independent afterwards.
    again.define_network([], [])
    assert engine.simulate("Toronto", "London", 0.7, 900.0, 1, seed=3).link_utilization_heatmap


def test_an_engine_without_network_stays_without():
    again = pickle.loads(pickle.dumps(tc.TavoEngine()))
    with pytest.raises(RuntimeError, match="^No network defined"):
        again.simulate("a", "b", 0.5, 10.0, 1)
    assert again.__reduce__()[1][1][1] is None


def test_objects_may_refer_back_to_themselves():
    topology = tc.TavoFile("loop")
    topology.extensions = {"self": topology, "list": [1, 2]}
    for trip in (copy.deepcopy, lambda obj: pickle.loads(pickle.dumps(obj))):
        again = trip(topology)
        assert again.extensions["self"] is again and again.extensions["list"] == [1, 2]
    shallow = copy.copy(topology)
    assert shallow.extensions is topology.extensions


def test_statistics_keep_their_context():
    stats = satellite_engine().simulate("Toronto", "London", 0.7, 900.0, 50, tc.StrategyType.HighestSuccess, 9)
    again = pickle.loads(pickle.dumps(stats))
    assert again._context.strategy == tc.StrategyType.HighestSuccess and again._context.seed == 9
    assert list(again.sensitivity_analysis(4).items()) == list(stats.sensitivity_analysis(4).items())


def test_reconstructor_refuses_unknown_names_and_wrong_states():
    with pytest.raises(ValueError, match="no class to reconstruct named 'Nope'"):
        tc._reconstruct("Nope")
    with pytest.raises(TypeError):
        tc._reconstruct("TavoEngine")
    with pytest.raises(TypeError):
        tc._reconstruct("NodeDefinition", ())
    with pytest.raises(TypeError):
        tc._reconstruct("TavoEngine", ("not a config", None))


def simulate_in_worker(engine):
    return engine.simulate("Toronto", "London", 0.7, 900.0, 200, seed=5)


def test_a_process_pool_carries_engines_and_results():
    engine = satellite_engine()
    with concurrent.futures.ProcessPoolExecutor(max_workers=1) as pool:
        remote = pool.submit(simulate_in_worker, engine).result(timeout=60)
    assert state(remote) == state(simulate_in_worker(engine))

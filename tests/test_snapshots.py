"""Topology snapshots: saving an engine's network, loading one back, the engine's snapshot record,
the error texts, and what a failed call leaves behind."""

import json
import os
import pathlib
import re
import subprocess
import sys

import pytest

import tavo_core
from tavo_core import (LinkDefinition, LinkType, NodeDefinition, SatelliteConditions, SimulationConfig,
                       TavoEngine, load_topology, save_topology)

from json_batch import read_jsonl

CASES = [c for c in read_jsonl(pathlib.Path(__file__).parent / "data" / "json_cases.jsonl")
         if c["format"] == "snapshot"]


def sample_engine(config=None):
    engine = TavoEngine(config)
    engine.define_network(
        [NodeDefinition(i, t) for i, t in [("z", 2.5), ("a", 0.25), ("m", 1.0), ("a", 4.0)]],
        [LinkDefinition("z", "a", 1050.0, 0.95, 1000.0),
         LinkDefinition("a", "Ghost", 550.0, 0.9, 20.0, LinkType.Satellite, SatelliteConditions(0.5, 0.8)),
         LinkDefinition("a", "z", 1e-7, 1.0, 2.5e20)])
    return engine


def as_json(s):
    """A TopologySnapshot in the JSON form the saver writes."""
    link = lambda l: {"fromNode": l.from_node, "to": l.to, "distanceKm": l.distance_km,
                      "baseFidelity": l.base_fidelity, "generationRateHz": l.generation_rate_hz,
                      "linkType": repr(l.link_type).split(".")[1],
                      "satelliteConditions": l.satellite_conditions and {
                          "visibility": l.satellite_conditions.visibility,
                          "weatherFactor": l.satellite_conditions.weather_factor}}
    return {"metadata": {"name": s.metadata.name, "version": s.metadata.version},
            "nodes": [{"id": n.id, "memoryLifetimeT2": n.memory_lifetime_t2} for n in s.nodes],
            "links": [link(l) for l in s.links],
            "config": {"alphaLoss": s.config.alpha_loss, "gammaSwapping": s.config.gamma_swapping}}


@pytest.mark.parametrize("config, alpha_loss, gamma_swapping", [
    (None, 1.2, 0.12),
    (SimulationConfig(alpha_loss_db_km=0.2), 0.2, 0.02),
    (SimulationConfig(), 0.21999999999999997, 0.022),  # 10 x 0.022 in binary
])
def test_save_and_snapshot_agree_and_round_trip(tmp_path, config, alpha_loss, gamma_swapping):
    path = str(tmp_path / "net.json")
    engine = sample_engine(config)
    save_topology(engine, path)
    saved = json.loads(pathlib.Path(path).read_text())
    assert as_json(engine.snapshot()) == saved
    assert saved["metadata"] == {"name": "exported_topology", "version": "1.0"}
    assert saved["config"] == {"alphaLoss": alpha_loss, "gammaSwapping": gamma_swapping}
    # First-definition order; a redefined node keeps its place and takes the later lifetime.
    assert [(n["id"], n["memoryLifetimeT2"]) for n in saved["nodes"]] == [("z", 2.5), ("a", 4.0), ("m", 1.0)]
    # Each link keeps its type and its satellite conditions.
    assert [(l["linkType"], l["satelliteConditions"]) for l in saved["links"]] == [
        ("Fiber", None), ("Satellite", {"visibility": 0.5, "weatherFactor": 0.8}), ("Fiber", None)]
    other = TavoEngine(SimulationConfig(alpha_loss_db_km=3.0))
    load_topology(other, path)
    assert as_json(other.snapshot()) == dict(saved, config={"alphaLoss": 3.0, "gammaSwapping": 0.3})


def test_loading_replaces_the_network(tmp_path):
    engine = sample_engine()
    path = tmp_path / "xy.json"
    path.write_text(json.dumps({
        "metadata": {"name": "n", "version": "9"}, "config": {"alphaLoss": 5.0, "gammaSwapping": 0.5},
        "nodes": [{"id": "X", "memoryLifetimeT2": 2.0}, {"id": "Y", "memoryLifetimeT2": 3.0}],
        "links": [{"fromNode": "X", "to": "Y", "distanceKm": 10, "baseFidelity": 0.99, "generationRateHz": 1e3}]}))
    load_topology(engine, str(path))
    snapshot = as_json(engine.snapshot())
    assert snapshot["nodes"] == [{"id": "X", "memoryLifetimeT2": 2.0}, {"id": "Y", "memoryLifetimeT2": 3.0}]
    assert [(l["fromNode"], l["to"], l["linkType"]) for l in snapshot["links"]] == [("X", "Y", "Fiber")]
    assert snapshot["config"] == {"alphaLoss": 1.2, "gammaSwapping": 0.12}
    assert engine.request_entanglement("X", "Y", 0.5, 1000.0).execution_path == ["X", "Y"]


def engine_view(written):
    """What load + save make of a reference document: exported metadata, the default engine's config,
    a repeated node id kept at its first place with its last lifetime."""
    document = json.loads(written)
    nodes = {n["id"]: n["memoryLifetimeT2"] for n in document["nodes"]}
    text = re.sub(r'"metadata": \{\n(?:    .*\n)*?  \}',
                  '"metadata": {\n    "name": "exported_topology",\n    "version": "1.0"\n  }', written)
    text = re.sub(r'"config": \{\n(?:    .*\n)*?  \}(?=\n\}$)',
                  '"config": {\n    "alphaLoss": 1.2,\n    "gammaSwapping": 0.12\n  }', text)
    return text if len(nodes) == len(document["nodes"]) else None, {
        "metadata": {"name": "exported_topology", "version": "1.0"},
        "nodes": [{"id": i, "memoryLifetimeT2": t} for i, t in nodes.items()],
        "links": document["links"],
        "config": {"alphaLoss": 1.2, "gammaSwapping": 0.12}}


@pytest.mark.parametrize("case", [c for c in CASES if c["ok"]], ids=lambda c: c["id"])
def test_reference_documents_through_the_engine(tmp_path, case):
    engine = TavoEngine()
    (tmp_path / "in.json").write_text(case["doc"])
    load_topology(engine, str(tmp_path / "in.json"))
    save_topology(engine, str(tmp_path / "out.json"))
    saved = (tmp_path / "out.json").read_text()
    text, document = engine_view(case["written"])
    assert json.loads(saved) == document == as_json(engine.snapshot())
    if text is not None:
        assert saved == text


def test_reference_error_documents(tmp_path):
    engine = sample_engine()
    before = as_json(engine.snapshot())
    path = tmp_path / "case.json"
    wrong = []
    for case in (c for c in CASES if not c["ok"]):
        path.write_text(case["doc"])
        try:
            load_topology(engine, str(path))
            wrong.append((case["id"], "loaded"))
        except RuntimeError as error:
            if str(error) != "Failed to parse topology JSON: " + case["error"]:
                wrong.append((case["id"], str(error)))
    assert wrong == []
    assert as_json(engine.snapshot()) == before


@pytest.mark.parametrize("name, system_text", [
    ("missing.json", "No such file or directory (os error 2)"),
    ("", "Is a directory (os error 21)"),
    ("latin1.json", "stream did not contain valid UTF-8"),
    ("a\0b.json", "file name contained an unexpected NUL byte"),
])
@pytest.mark.parametrize("defined", [True, False])
def test_read_errors_leave_the_engine_unchanged(tmp_path, name, system_text, defined):
    (tmp_path / "latin1.json").write_bytes(b'{"metadata": {"name": "\xe9"}}')
    engine = sample_engine() if defined else TavoEngine()
    before = as_json(engine.snapshot()) if defined else None
    with pytest.raises(RuntimeError, match="^" + re.escape("Failed to read topology file: " + system_text) + "$"):
        load_topology(engine, str(tmp_path / name))
    if defined:
        assert as_json(engine.snapshot()) == before
    else:
        with pytest.raises(RuntimeError, match=r"^No network defined\. Call define_network\(\) first\.$"):
            engine.snapshot()


@pytest.mark.parametrize("engine, name, message", [
    (TavoEngine(), "t.json", "No network topology to save"),
    (sample_engine(), "no-such-dir/t.json", "Failed to write topology file: No such file or directory (os error 2)"),
    (sample_engine(), "", "Failed to write topology file: Is a directory (os error 21)"),
    (sample_engine(), "a\0b", "Failed to write topology file: file name contained an unexpected NUL byte"),
])
def test_save_errors_write_nothing(tmp_path, engine, name, message):
    with pytest.raises(RuntimeError, match="^" + re.escape(message) + "$"):
        save_topology(engine, str(tmp_path / name))
    assert list(tmp_path.iterdir()) == []


def test_failed_save_keeps_the_previous_file(tmp_path):
    # A file size limit makes the write fail part-way (in a child, so the limit stays there): the
    # earlier file must survive whole and no temporary file may remain.
    target = tmp_path / "net.json"
    target.write_text("previous content\n")
    script = f"""
import resource, signal, tavo_core
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
engine = tavo_core.TavoEngine()
engine.define_network([tavo_core.NodeDefinition("node-%d" % i, 1.0) for i in range(2000)], [])
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
try:
    tavo_core.save_topology(engine, {str(target)!r})
except RuntimeError as error:
    print(error)
"""
    module_dir = str(pathlib.Path(tavo_core.__file__).resolve().parent)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [module_dir, os.environ.get("PYTHONPATH")])))
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
    assert out.stdout == "Failed to write topology file: File too large (os error 27)\n"
    assert target.read_text() == "previous content\n"
    assert [p.name for p in tmp_path.iterdir()] == ["net.json"]


def test_record_classes_are_values_only():
    snapshot = sample_engine().snapshot()
    for value in [snapshot, snapshot.metadata, snapshot.config, tavo_core.diff_topologies(snapshot, snapshot)]:
        assert not hasattr(tavo_core, type(value).__name__)
        with pytest.raises(TypeError, match="^No constructor defined$"):
            type(value)()

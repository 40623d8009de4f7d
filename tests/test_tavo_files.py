"""Topology files through the module: loading, validation, saving, and engines built from files."""

import json
import os
import stat
import subprocess
import sys
import textwrap

import pytest

import tavo_core as t
from conftest import child_environment
from json_batch import read_jsonl

LOADERS = [t.load_tavo_file, t.validate, t.from_tavo_file]


def link(id_, src, to, dist=10.0, fid=0.9, rate=100.0, **extra):
    entry = {} if id_ is None else {"id": id_}
    entry.update({"from": src, "to": to, "distance_km": dist, "base_fidelity": fid,
                  "generation_rate_hz": rate}, **extra)
    return entry


def document(nodes=("A", "B"), links=(link("L1", "A", "B"),), version="1.0", **sections):
    nodes = [n if isinstance(n, dict) else {"id": n} for n in nodes]
    return json.dumps({"version": version, "metadata": {"name": "t"}, "nodes": nodes,
                       "links": list(links), **sections})


@pytest.fixture
def put(tmp_path):
    def put(content, name="net.tavo"):
        path = tmp_path / name
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return str(path)
    return put


def load_error(loader, path):
    with pytest.raises(RuntimeError) as info:
        loader(path)
    return str(info.value)


# ---- reading failures: the same "Failed to load" text from every loading entry point ----

@pytest.mark.parametrize("loader", LOADERS)
def test_missing_relative_path(loader, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert load_error(loader, "missing.tavo") == \
        "Failed to load missing.tavo: IO error: No such file or directory (os error 2)"


@pytest.mark.parametrize("loader", LOADERS)
@pytest.mark.parametrize("content, tail", [
    (b'{"version": "1.0", "metadata": {"name": "\xff"}, "nodes": [], "links": []}',
     "IO error: stream did not contain valid UTF-8"),
    ('{"version": "1.0",\n "metadata": {"name": "n"},\n "nodes": []\n}',
     "JSON parse error: missing field `links` at line 4 column 1"),
    (document() + " x", "JSON parse error: trailing characters at line 1 column 205"),
    ('{"version": "2.0", "metadata": {}}', "JSON parse error: missing field `name` at line 1 column 33"),
    (document(version="2.0"), "Unsupported tavo version: 2.0"),
    (document(version="0.9"), "Unsupported tavo version: 0.9"),
    (document(version="1"), "Unsupported tavo version: 1"),
    (document(version="1.00"), "Unsupported tavo version: 1.00"),
    (document(version=" 1.0"), "Unsupported tavo version:  1.0"),
    (document(version="1.0\u0000"), "Unsupported tavo version: 1.0\u0000"),
])
def test_unreadable_documents(loader, put, content, tail):
    path = put(content)
    assert load_error(loader, path) == f"Failed to load {path}: {tail}"


@pytest.mark.parametrize("loader", LOADERS)
def test_directory_and_nul_paths(loader, tmp_path):
    assert load_error(loader, str(tmp_path)) == \
        f"Failed to load {tmp_path}: IO error: Is a directory (os error 21)"
    nul = str(tmp_path / "a\0b.tavo")
    assert load_error(loader, nul) == \
        f"Failed to load {nul}: IO error: file name contained an unexpected NUL byte"


# ---- documents beyond 1 GiB are refused rather than read until memory runs out ----

TOO_LARGE = "IO error: document exceeds the size limit of 1 GiB (1073741824 bytes)"


@pytest.mark.parametrize("loader", LOADERS + [lambda path: t.load_topology(t.TavoEngine(), path)],
                         ids=["load", "validate", "from_tavo_file", "load_topology"])
def test_a_file_beyond_the_size_limit_is_refused_before_reading(loader, tmp_path):
    path = tmp_path / "huge.tavo"
    with open(path, "wb") as file:
        file.truncate(2**30 + 1)  # sparse: nothing is written, and nothing is read
    text = load_error(loader, str(path))
    assert text in (f"Failed to load {path}: {TOO_LARGE}",
                    f"Failed to read topology file: {TOO_LARGE[len('IO error: '):]}")


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the address sanitizer's shadow memory does not fit a capped address space")
@pytest.mark.parametrize("loader", ["load", "validate"])
def test_an_endless_stream_is_refused_at_the_size_limit(loader, tmp_path):
    # Before, /dev/zero was read until memory ran out. In a child process with its address space
    # capped at 3 GiB and a time limit.
    script = textwrap.dedent(f"""
        import resource, tavo_core as t
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
        try:
            t.{loader}("/dev/zero")
        except RuntimeError as error:
            print(type(error).__name__, error.errno, error)
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=120, env=child_environment())
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == f"TavoOSError 27 Failed to load /dev/zero: {TOO_LARGE}"


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_unreadable_file(put):
    path = put(document())
    os.chmod(path, 0)
    assert load_error(t.load, path) == f"Failed to load {path}: IO error: Permission denied (os error 13)"


@pytest.mark.parametrize("function, args, given", [
    (t.load_tavo_file, (3,), "int"), (t.validate, (None,), "NoneType"),
    (t.from_tavo_file, (1.5,), "float"), (t.save_tavo_file_wrapper, (t.TavoFile("n"), 1), "int"),
])
def test_filepath_must_be_a_path(function, args, given):
    with pytest.raises(TypeError) as raised:
        function(*args)
    assert str(raised.value) == (
        f"argument 'filepath': expected str, bytes or os.PathLike object, not {given}")


def test_aliases_are_the_same_objects():
    assert t.load is t.load_tavo_file and t.save is t.save_tavo_file_wrapper


# ---- validation ----

VALIDATION_CASES = [
    # nodes, links, [(type, message), ...]
    (["A", "B"], [link("L1", "A", "B", fid=1.0)], []),
    ([], [], []),
    (["A", "B", "C"], [link("L1", "A", "B")],
     [("GraphDisconnected: 2 components", "Graph is disconnected with 2 components")]),
    (["A", "B"], [link(None, "A", "A")],
     [("SelfLoop: unknown", "Self-loop detected in link 'unknown'"),
      ("GraphDisconnected: 2 components", "Graph is disconnected with 2 components")]),
    (["A", "B"], [link("L1", "A", "B"), link("L2", "A", "Z")],
     [("UnknownNodeReference: Z[L2]", "Unknown node reference 'Z' in link 'L2'")]),
    (["A", "B"], [link("L1", "A", "B"), link(None, "Y", "A")],
     [("UnknownNodeReference: Y", "Unknown node reference 'Y'")]),
    (["A", "B"], [link("L1", "A", "B", fid=0.0)],
     [("InvalidFidelity: 0 for link 'L1'", "Invalid fidelity 0 for link 'L1' (must be 0 < x <= 1)")]),
    (["A", "B"], [link("L1", "A", "B", fid=1.5)],
     [("InvalidFidelity: 1.5 for link 'L1'", "Invalid fidelity 1.5 for link 'L1' (must be 0 < x <= 1)")]),
    (["A", "B"], [link("L1", "A", "B", dist=-5)],
     [("InvalidDistance: -5 km for link 'L1'", "Invalid distance -5 km for link 'L1' (must be > 0)")]),
    (["A", "B"], [link("L1", "A", "B", dist=-0.0)],
     [("InvalidDistance: -0 km for link 'L1'", "Invalid distance -0 km for link 'L1' (must be > 0)")]),
    (["A", "B"], [link(None, "A", "B", rate=-1e-7)],
     [("InvalidGenerationRate: -0.0000001 Hz for link 'unknown'",
       "Invalid generation rate -0.0000001 Hz for link 'unknown' (must be > 0)")]),
    (["A", "B"], [link("L1", "A", "B", rate=0)],
     [("InvalidGenerationRate: 0 Hz for link 'L1'", "Invalid generation rate 0 Hz for link 'L1' (must be > 0)")]),
    (["A", "A"], [], [("DuplicateNodeId: A", "Duplicate node ID: A"),
                      ("GraphDisconnected: 2 components", "Graph is disconnected with 2 components")]),
    (["A", "A", "A"], [], [("DuplicateNodeId: A", "Duplicate node ID: A")] * 2 +
     [("GraphDisconnected: 3 components", "Graph is disconnected with 3 components")]),
    # A repeated id resolves to its last entry: the first "A" stays isolated.
    (["A", "B", "A"], [link("L1", "A", "B")],
     [("DuplicateNodeId: A", "Duplicate node ID: A"),
      ("GraphDisconnected: 2 components", "Graph is disconnected with 2 components")]),
    # Every check of one link, in order; a file without nodes has no components.
    ([], [link("L", "X", "X", dist=0, fid=0, rate=0)],
     [("SelfLoop: L", "Self-loop detected in link 'L'"),
      ("UnknownNodeReference: X[L]", "Unknown node reference 'X' in link 'L'"),
      ("UnknownNodeReference: X[L]", "Unknown node reference 'X' in link 'L'"),
      ("InvalidDistance: 0 km for link 'L'", "Invalid distance 0 km for link 'L' (must be > 0)"),
      ("InvalidFidelity: 0 for link 'L'", "Invalid fidelity 0 for link 'L' (must be 0 < x <= 1)"),
      ("InvalidGenerationRate: 0 Hz for link 'L'", "Invalid generation rate 0 Hz for link 'L' (must be > 0)")]),
]


WARNING_CASES = {
    "negative-lifetime": (dict(nodes=[{"id": "A", "memory_lifetime_ms": -5}, "B"]),
                          [("Memory lifetime -5 ms of node 'A' is not positive", "nodes[0].memory_lifetime_ms")]),
    "zero-lifetime": (dict(nodes=["A", {"id": "B", "memory_lifetime_ms": 0}]),
                      [("Memory lifetime 0 ms of node 'B' is not positive", "nodes[1].memory_lifetime_ms")]),
    "satellite-factors": (dict(links=[link("S", "A", "B", satellite={"visibility": 7.0, "weather_factor": -0.1})]),
                          [("Visibility 7 of link 'S' is outside 0..1", "links[0].satellite.visibility"),
                           ("Weather factor -0.1 of link 'S' is outside 0..1", "links[0].satellite.weather_factor")]),
    "negative-attenuation": (dict(config={"alpha_loss": -0.2}),
                             [("Fiber attenuation -0.2 dB/km is negative", "config.alpha_loss")]),
    "constraints": (dict(constraints={"fidelity_target": 3.0, "max_latency_ms": 0}),
                    [("Fidelity target 3 is outside 0..1", "constraints.fidelity_target"),
                     ("Latency budget 0 ms is not positive", "constraints.max_latency_ms")]),
    # The edges of each range are in it.
    "in-range": (dict(nodes=[{"id": "A", "memory_lifetime_ms": 1e-9}, "B"], config={"alpha_loss": 0},
                      links=[link("S", "A", "B", satellite={"visibility": 0, "weather_factor": 1})],
                      constraints={"fidelity_target": 1.0, "max_latency_ms": 1e-9}), []),
}


@pytest.mark.parametrize("sections, warnings", WARNING_CASES.values(), ids=WARNING_CASES.keys())
def test_values_outside_their_physical_range_are_warnings(put, sections, warnings):
    path = put(document(**sections))
    result = t.validate(path)
    assert result["valid"] and result["errors"] == []
    assert result["warnings"] == [{"message": m, "path": p} for m, p in warnings]
    t.load(path)  # a warning does not stop a file from loading


def test_warnings_follow_the_errors_of_a_failed_load(put):
    path = put(document(nodes=[{"id": "A", "memory_lifetime_ms": -1}], links=[link("L", "A", "Z")]))
    assert load_error(t.load, path) == (
        f"Failed to load {path}: Validation failed:\nValidation failed.\n\nErrors:\n"
        "   - Unknown node reference 'Z' in link 'L'\n\nWarnings:\n"
        "   - Memory lifetime -1 ms of node 'A' is not positive [nodes[0].memory_lifetime_ms]\n")


@pytest.mark.parametrize("nodes, links, errors", VALIDATION_CASES)
def test_validation_findings(put, nodes, links, errors):
    path = put(document(nodes, links))
    expected = [{"type": kind, "message": message} for kind, message in errors]
    result = t.validate(path)
    assert result == {"valid": not errors, "filepath": path, "errors": expected, "warnings": []}
    assert list(result) == ["valid", "filepath", "errors", "warnings"]
    if errors:
        report = "Validation failed.\n\nErrors:\n" + "".join(f"   - {m}\n" for _, m in errors)
        for loader in (t.load_tavo_file, t.from_tavo_file):
            assert load_error(loader, path) == f"Failed to load {path}: Validation failed:\n{report}"
    else:
        assert isinstance(t.load_tavo_file(path), t.TavoFile)


def test_validation_report_literal(put):
    path = put(document(["A", "B"], [link("L1", "A", "Z", fid=2)]))
    assert load_error(t.load, path) == (
        f"Failed to load {path}: Validation failed:\nValidation failed.\n\nErrors:\n"
        "   - Unknown node reference 'Z' in link 'L1'\n"
        "   - Invalid fidelity 2 for link 'L1' (must be 0 < x <= 1)\n"
        "   - Graph is disconnected with 2 components\n")


# ---- saving ----

def test_save_of_a_new_file_and_the_three_spellings(tmp_path):
    expected = ('{\n  "version": "1.0",\n  "metadata": {\n    "name": "net"\n  },\n'
                '  "nodes": [],\n  "links": []\n}')
    f = t.TavoFile("net")
    for i, save in enumerate([f.save, lambda p: t.save(f, p), lambda p: t.save_tavo_file_wrapper(qf=f, filepath=p)]):
        path = tmp_path / f"{i}.tavo"
        assert save(str(path)) is None
        assert path.read_text() == expected


def test_save_writes_python_values_without_checks(tmp_path):
    f = t.TavoFile("n")
    f.version = "7"
    f.add_node("A", None, 0, t.TavoNodeType.Repeater)
    f.add_link("", "A", "Q", -1, 3, 1e16, t.TavoLinkType.Satellite, t.TavoSatelliteExtension(0.5))
    f.config = t.TavoConfig(max_attempts=4294967295)
    f.constraints = t.TavoConstraints()
    f.extensions = {"custom": 1}
    path = tmp_path / "x.tavo"
    f.save(str(path))
    assert json.loads(path.read_text()) == {
        "version": "7", "metadata": {"name": "n"},
        "nodes": [{"id": "A", "memory_capacity": 0, "node_type": "repeater"}],
        "links": [{"id": "", "from": "A", "to": "Q", "distance_km": -1.0, "base_fidelity": 3.0,
                   "generation_rate_hz": 1e16, "link_type": "satellite",
                   "satellite": {"visibility": 0.5, "weather_factor": 1.0}}],
        "config": {"max_attempts": 4294967295}, "constraints": {}, "extensions": {"custom": 1}}


def test_load_then_save_keeps_the_extensions_drops_unknown_keys_and_fills_link_ids(put, tmp_path):
    extensions = {"custom": {"k": [1, 2.5, None, True, "s"], "layout": {"A": [0, 1]}}, "other": {"x": -3}}
    path = put(document(links=[link(None, "A", "B", comment="x")], extensions=extensions,
                        comment="ignored"))
    f = t.load(path)
    # The whole section, keys the format does not know included, as plain data.
    assert f.links[0].id == "" and f.extensions == extensions
    out = tmp_path / "out.tavo"
    t.save(f, str(out))
    assert json.loads(out.read_text()) == json.loads(document(links=[link("", "A", "B")],
                                                              extensions=extensions))
    assert t.load(str(out)).extensions == extensions


@pytest.mark.parametrize("extensions, message", [
    ([1], "extensions: the section of a .tavo file is a dict, not 'list'"),
    ({"custom": {1, 2}}, "extensions['custom']: an object of type 'set' has no JSON form"),
    ({"a": [0, {"b": object()}]}, "extensions['a'][1]['b']: an object of type 'object' has no JSON form"),
    ({"a": {3: 1}}, "extensions['a']: a dict key of type 'int' has no JSON form (keys must be str)"),
    ({"n": 2 ** 64}, "extensions['n']: an int outside -2**63 .. 2**64 - 1 has no JSON form in a .tavo file"),
])
@pytest.mark.parametrize("save", ["method", "function"])
def test_extensions_without_a_json_form_are_refused_and_the_old_file_kept(tmp_path, extensions, message,
                                                                         save):
    out = tmp_path / "kept.tavo"
    out.write_text("previous")
    f = t.TavoFile("n")
    f.extensions = extensions
    with pytest.raises(TypeError) as raised:
        f.save(str(out)) if save == "method" else t.save(f, str(out))
    assert str(raised.value) == (message if save == "method" else "argument 'qf': " + message)
    assert out.read_text() == "previous"


def test_extensions_that_hold_themselves_are_refused_but_do_not_stop_network_definitions(tmp_path):
    f = t.TavoFile("n")
    f.add_node("A", 1.0)
    section = {"list": []}
    section["list"].append(section)
    f.extensions = section
    with pytest.raises(TypeError, match=r"^extensions\['list'\]\[0\]: a container that holds itself"):
        f.save(str(tmp_path / "x.tavo"))
    # Only the topology of a file defines a network: its extensions are not read.
    engine = t.TavoEngine()
    engine.define_network_from_tavo(f)
    assert [node.id for node in engine.nodes] == ["A"]


def test_big_and_signed_integers_and_subclasses_keep_their_values(tmp_path):
    class Text(str):
        def __repr__(self):
            raise AssertionError("no code of the caller's runs")

    f = t.TavoFile("n")
    f.extensions = {Text("k"): [2 ** 64 - 1, -2 ** 63, 1.5, Text("v")], "t": (1, 2)}
    f.save(str(tmp_path / "x.tavo"))
    assert t.load(str(tmp_path / "x.tavo")).extensions == {"k": [2 ** 64 - 1, -2 ** 63, 1.5, "v"],
                                                          "t": [1, 2]}


@pytest.mark.parametrize("save", [lambda f, p: f.save(p), t.save_tavo_file_wrapper])
def test_failed_saves(save, tmp_path):
    f = t.TavoFile("n")
    with pytest.raises(RuntimeError) as info:
        save(f, str(tmp_path / "no" / "x.tavo"))
    assert str(info.value) == "IO error: No such file or directory (os error 2)"
    with pytest.raises(RuntimeError) as info:
        save(f, str(tmp_path / "a\0b"))
    assert str(info.value) == "IO error: file name contained an unexpected NUL byte"


def test_failed_save_keeps_the_previous_file(tmp_path):
    target = tmp_path / "keep.tavo"
    target.write_text("previous")
    os.chmod(target, 0o640)
    t.TavoFile("first").save(str(target))
    assert stat.S_IMODE(target.stat().st_mode) == 0o640 and '"first"' in target.read_text()
    before = target.read_text()
    (tmp_path / "dir.tavo").mkdir()
    with pytest.raises(RuntimeError, match=r"^IO error: Is a directory \(os error 21\)$"):
        t.TavoFile("second").save(str(tmp_path / "dir.tavo"))
    if os.geteuid() != 0:
        os.chmod(tmp_path, 0o555)
        try:
            with pytest.raises(RuntimeError, match=r"^IO error: Permission denied \(os error 13\)$"):
                t.TavoFile("second").save(str(target))
        finally:
            os.chmod(tmp_path, 0o755)
    assert target.read_text() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["dir.tavo", "keep.tavo"]


# ---- engines from files ----

def context(engine, a="A", b="C"):
    # Only the recorded inputs: the ensemble figures also depend on the per-thread loss draws.
    c = engine.simulate(a, b, 0.7, 5000.0, 2, seed=11)._context
    return (c.baseline_purify_factor, c.total_time_cutoff_ms, c.step_resolution_ms), sorted(c.nodes), c.links


CHAIN_NODES = [{"id": "A", "memory_lifetime_ms": 250.0}, "B", {"id": "C", "memory_lifetime_ms": 2000}]
CHAIN_LINKS = [link("ab", "A", "B", 20, 0.97, 900), link(None, "B", "C", 35, 0.93, 700, link_type="satellite",
                                                          satellite={"visibility": 0.5, "weather_factor": 0.5})]


@pytest.mark.parametrize("sections, purify, cutoff", [
    ({}, 0.12, 5000.0),
    ({"config": None}, 0.12, 5000.0),
    ({"config": {}}, 0.22, 5000.0),
    ({"config": {"max_attempts": 10}}, 0.22, 500.0),
    ({"config": {"alpha_loss": 2.0}}, 0.2, 5000.0),
    ({"config": {"alpha_loss": 0.5, "max_attempts": 0, "beta_fidelity_decay": 9, "gamma_swapping": 9},
      "constraints": {"fidelity_target": 0.1}}, 0.05, 0.0),
])
def test_from_tavo_file_configuration_and_network(put, sections, purify, cutoff):
    engine = t.from_tavo_file(put(document(CHAIN_NODES, CHAIN_LINKS, **sections)))
    assert context(engine) == (
        (purify, cutoff, 0.1),
        [("A", 0.25), ("B", 1.0), ("C", 2.0)],
        [("A", "B", 20.0, 0.97, 900.0), ("B", "C", 35.0, 0.93, 700.0)])


def test_define_network_from_tavo_keeps_the_engine_configuration(put):
    engine = t.TavoEngine(t.SimulationConfig(1234.0, 0.5, 3.0))
    engine.define_network([t.NodeDefinition("X", 1.0)], [])
    path = put(document(CHAIN_NODES, CHAIN_LINKS, config={"alpha_loss": 9.0, "max_attempts": 1}))
    f = t.load(path)
    f.extensions = object()
    assert engine.define_network_from_tavo(f) is None
    assert context(engine) == (
        (0.3, 1234.0, 0.5),
        [("A", 0.25), ("B", 1.0), ("C", 2.0)],
        [("A", "B", 20.0, 0.97, 900.0), ("B", "C", 35.0, 0.93, 700.0)])
    # No checks here: a file object that would fail validation still defines a network.
    bad = t.TavoFile("bad")
    bad.add_link("", "P", "P", -1, 7, 0)
    engine.define_network_from_tavo(qf=bad)
    assert engine.simulate("P", "P", 0.5, 10.0, 1, seed=1)._context.links == [("P", "P", -1.0, 7.0, 0.0)]
    with pytest.raises(TypeError) as info:
        engine.define_network_from_tavo({"nodes": []})
    assert str(info.value) == "argument 'qf': 'dict' object cannot be converted to 'TavoFile'"


def test_link_types_reach_the_network(put):
    # The file's "satellite" becomes a satellite link, anything else (and no type) a fiber link; the
    # engine's snapshot shows the network's link types.
    links = [link("ab", "A", "B"), link("bc", "B", "C", link_type="satellite"),
             link("ca", "C", "A", link_type="fiber")]
    path = put(document(["A", "B", "C"], links))
    from_file = t.from_tavo_file(path)
    defined = t.TavoEngine()
    defined.define_network_from_tavo(t.load(path))
    for engine in (from_file, defined):
        types = [repr(l.link_type) for l in engine.snapshot().links]
        assert types == ["LinkType.Fiber", "LinkType.Satellite", "LinkType.Fiber"]


def test_demo_file_loads_and_simulates():
    demo = os.path.join(os.path.dirname(__file__), "..", "examples", "demo.tavo")
    assert t.validate(demo)["valid"]
    stats = t.from_tavo_file(demo).simulate("Alice", "Bob", 0.8, 500.0, 50, seed=3)
    assert stats.total_runs == 50 and stats.empirical_success_rate > 0


# ---- the written/read corpus through the Python path ----

CORPUS = [c for c in read_jsonl(__import__("pathlib").Path(__file__).parent / "data" / "json_cases.jsonl")
          if c["format"] == "tavo"]


def written_form(f):
    """The Python object as the written document would show it (None fields left out)."""
    def keep(pairs):
        return {k: v for k, v in pairs if v is not None}
    def enum(value):
        return None if value is None else repr(value).split(".")[1].lower()
    def section(obj, names):
        return None if obj is None else keep((n, getattr(obj, n)) for n in names)
    m = f.metadata
    return keep([
        ("version", f.version),
        ("metadata", keep([("name", m.name), ("description", m.description), ("author", m.author),
                           ("created_at", m.created_at)])),
        ("nodes", [keep([("id", n.id), ("memory_lifetime_ms", n.memory_lifetime_ms),
                         ("memory_capacity", n.memory_capacity), ("node_type", enum(n.node_type))])
                   for n in f.nodes]),
        ("links", [keep([("id", k.id), ("from", k.src), ("to", k.to), ("distance_km", k.distance_km),
                         ("base_fidelity", k.base_fidelity), ("generation_rate_hz", k.generation_rate_hz),
                         ("link_type", enum(k.link_type)),
                         ("satellite", section(k.satellite, ["visibility", "weather_factor"]))])
                   for k in f.links]),
        ("config", section(f.config, ["alpha_loss", "beta_fidelity_decay", "gamma_swapping", "max_attempts"])),
        ("constraints", section(f.constraints, ["fidelity_target", "max_latency_ms"])),
    ])


@pytest.mark.parametrize("case", [c for c in CORPUS if c["ok"]], ids=lambda c: c["id"])
def test_accepted_corpus_documents(put, tmp_path, case):
    path = put(case["doc"])
    written = json.loads(case["written"])
    if written["version"] != "1.0":
        assert load_error(t.load, path) == f"Failed to load {path}: Unsupported tavo version: {written['version']}"
        return
    findings = t.validate(path)
    if not findings["valid"]:
        lines = "".join(f"   - {e['message']}\n" for e in findings["errors"])
        warnings = "".join(f"   - {w['message']} [{w['path']}]\n" for w in findings["warnings"])
        assert load_error(t.load, path) == \
            f"Failed to load {path}: Validation failed:\nValidation failed.\n\nErrors:\n{lines}" + \
            (f"\nWarnings:\n{warnings}" if warnings else "")
        return
    f = t.load(path)
    written.pop("extensions", None)
    for entry in written["links"]:
        entry.setdefault("id", "")
    # The extensions section as written, every key kept; its array form holds `custom` alone. The
    # numbers of `custom` read as the written form shows them (integers beyond 64 bits as floats).
    try:
        document = json.loads(case["doc"])
    except RecursionError:  # deeper than Python's reader goes: the written form has what is read
        document = json.loads(case["written"])
    section = document.get("extensions") if isinstance(document, dict) else \
        (document[6] if len(document) > 6 else None)
    if isinstance(section, list):
        section = {} if section[0] is None else {"custom": section[0]}
    if section is not None and "custom" in json.loads(case["written"]).get("extensions", {}):
        section["custom"] = json.loads(case["written"])["extensions"]["custom"]
    assert f.extensions == section
    assert json.dumps(written_form(f)) == json.dumps(written)
    out = tmp_path / "again.tavo"
    f.save(str(out))
    if section is None and all("id" in k for k in json.loads(case["written"])["links"]):
        assert out.read_text() == case["written"]
    else:
        assert json.loads(out.read_text()) == (written if section is None else dict(written, extensions=section))


@pytest.mark.parametrize("case", [c for c in CORPUS if not c["ok"]], ids=lambda c: c["id"])
def test_refused_corpus_documents(put, case):
    path = put(case["doc"])
    assert load_error(t.load, path) == f"Failed to load {path}: JSON parse error: {case['error']}"

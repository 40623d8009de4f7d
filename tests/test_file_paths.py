"""Paths and file errors: every path argument takes str, bytes and os.PathLike (so a file whose name
is not UTF-8 can be read and written), and a failed file operation is both the RuntimeError with
its documented message and the OSError of the system's error."""

import errno
import json
import os
import pathlib

import pytest

import tavo_core as tc

VALID = {
    "version": "1.0", "metadata": {"name": "net"},
    "nodes": [{"id": "A"}, {"id": "B"}],
    "links": [{"id": "L", "from": "A", "to": "B", "distance_km": 10.0, "base_fidelity": 0.9,
               "generation_rate_hz": 100.0}],
}


class BytesPathLike:
    def __init__(self, path):
        self.path = os.fsencode(path)

    def __fspath__(self):
        return self.path


PATH_KINDS = {
    "str": str,
    "bytes": os.fsencode,
    "pathlib": pathlib.Path,
    "pathlike-bytes": BytesPathLike,
}


def defined_engine():
    engine = tc.TavoEngine()
    engine.define_network([tc.NodeDefinition("A", 1.0)], [])
    return engine


@pytest.mark.parametrize("kind", PATH_KINDS)
def test_every_path_argument_takes_every_kind(tmp_path, kind):
    as_path = PATH_KINDS[kind]
    written = tmp_path / "written.tavo"
    (tmp_path / "valid.tavo").write_text(json.dumps(VALID))
    valid = as_path(tmp_path / "valid.tavo")

    topology = tc.load_tavo_file(valid)
    assert [n.id for n in topology.nodes] == ["A", "B"]
    assert tc.load(valid).metadata.name == "net"
    report = tc.validate(valid)
    assert report["valid"] and report["filepath"] == os.fspath(valid)
    assert tc.from_tavo_file(valid).simulate("A", "B", 0.5, 50.0, 3, seed=1).total_runs == 3
    topology.save(as_path(written))
    tc.save(topology, as_path(written))
    tc.save_tavo_file_wrapper(topology, as_path(written))
    assert tc.diff(valid, as_path(written))["nodes_added"] == []

    engine = tc.from_tavo_file(valid)
    snapshot = as_path(tmp_path / "snapshot.json")
    tc.save_topology(engine, snapshot)
    again = tc.TavoEngine()
    tc.load_topology(again, snapshot)
    assert [n.id for n in again.snapshot().nodes] == ["A", "B"]


def test_file_names_that_are_not_utf8(tmp_path):
    raw = os.fsencode(tmp_path) + b"/net-\xff\xfe.tavo"
    decoded = os.fsdecode(raw)  # the same name with surrogate escapes
    tc.TavoFile("odd").save(raw)
    assert os.path.exists(raw)
    assert tc.load(decoded).metadata.name == "odd"
    assert tc.validate(raw)["filepath"] == raw
    assert tc.validate(decoded)["filepath"] == decoded
    assert tc.diff(raw, decoded)["summary"].startswith(f"Diff between '{decoded}' and '{decoded}'")
    missing = os.fsencode(tmp_path) + b"/gone-\xff.tavo"
    with pytest.raises(FileNotFoundError) as raised:
        tc.load(missing)
    message = f"Failed to load {os.fsdecode(missing)}: IO error: No such file or directory (os error 2)"
    assert str(raised.value) == message and raised.value.filename == os.fsdecode(missing)
    assert tc.diff(missing, raw) == {"error": message}


def test_a_lone_surrogate_that_no_file_name_has_is_refused_like_open(tmp_path):
    name = str(tmp_path / "bad-\ud800.tavo")
    with pytest.raises(UnicodeEncodeError):
        open(name, "w")
    with pytest.raises(UnicodeEncodeError):
        tc.TavoFile("x").save(name)
    with pytest.raises(UnicodeEncodeError):
        tc.load(name)


def missing_file_calls(tmp_path):
    missing = str(tmp_path / "missing.tavo")
    nowhere = str(tmp_path / "no-such-dir" / "out.tavo")
    return [
        ("load", lambda: tc.load(missing), missing,
         f"Failed to load {missing}: IO error: No such file or directory (os error 2)"),
        ("validate", lambda: tc.validate(missing), missing,
         f"Failed to load {missing}: IO error: No such file or directory (os error 2)"),
        ("from_tavo_file", lambda: tc.from_tavo_file(missing), missing,
         f"Failed to load {missing}: IO error: No such file or directory (os error 2)"),
        ("save", lambda: tc.TavoFile("x").save(nowhere), nowhere,
         "IO error: No such file or directory (os error 2)"),
        ("load_topology", lambda: tc.load_topology(tc.TavoEngine(), missing), missing,
         "Failed to read topology file: No such file or directory (os error 2)"),
        ("save_topology", lambda: tc.save_topology(defined_engine(), nowhere), nowhere,
         "Failed to write topology file: No such file or directory (os error 2)"),
    ]


@pytest.mark.parametrize("index", range(6))
def test_missing_files_are_also_file_not_found_errors(tmp_path, index):
    name, call, path, message = missing_file_calls(tmp_path)[index]
    with pytest.raises(RuntimeError) as raised:
        call()
    error = raised.value
    assert isinstance(error, FileNotFoundError) and isinstance(error, OSError)
    assert (str(error), error.args) == (message, (message,))
    assert (error.errno, error.filename, error.strerror) == (errno.ENOENT, path, os.strerror(errno.ENOENT))
    assert type(error).__name__ == "TavoFileNotFoundError" and not hasattr(tc, type(error).__name__)


def test_other_file_errors_are_os_errors(tmp_path):
    with pytest.raises(RuntimeError) as raised:
        tc.load(str(tmp_path))
    error = raised.value
    assert isinstance(error, OSError) and not isinstance(error, (FileNotFoundError, PermissionError))
    assert error.errno == errno.EISDIR and error.filename == str(tmp_path)
    assert str(error) == f"Failed to load {tmp_path}: IO error: Is a directory (os error 21)"


def test_errors_that_are_not_the_systems_stay_plain_runtime_errors(tmp_path):
    (tmp_path / "latin.tavo").write_bytes(b"\xff\xfe")
    (tmp_path / "broken.tavo").write_text("{")
    for path, text in [
        (tmp_path / "latin.tavo", "IO error: stream did not contain valid UTF-8"),
        (tmp_path / "broken.tavo", "JSON parse error: EOF while parsing an object at line 1 column 1"),
        ("a\0b.tavo", "IO error: file name contained an unexpected NUL byte"),
    ]:
        with pytest.raises(RuntimeError) as raised:
            tc.load(path)
        assert type(raised.value) is RuntimeError
        assert str(raised.value) == f"Failed to load {os.fspath(path)}: {text}"

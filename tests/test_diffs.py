"""The two diffs: topology files through `diff` (the dict and its summary text) and snapshots through
`diff_topologies` (the TopologyDiff record)."""

import copy
import json
import math
import pathlib

import pytest

from tavo_core import LinkDefinition, LinkType, NodeDefinition, SatelliteConditions, TavoEngine, diff, diff_topologies

LISTS = ["nodes_added", "nodes_removed", "nodes_modified", "links_added", "links_removed", "links_modified"]


def link(src, to, distance=10.0, **extra):
    return dict({"from": src, "to": to, "distance_km": distance, "base_fidelity": 0.9,
                 "generation_rate_hz": 100.0}, **extra)


# A valid file: the chain A - B - C.
BASE = {
    "version": "1.0",
    "metadata": {"name": "net", "description": "d", "author": "lab"},
    "nodes": [{"id": "A", "memory_lifetime_ms": 100.0, "memory_capacity": 4}, {"id": "B"}, {"id": "C"}],
    "links": [link("A", "B", id="L1", link_type="fiber"),
              link("B", "C", 20.0, link_type="satellite", satellite={"visibility": 0.5, "weather_factor": 0.9})],
}


def edited(path=(), value=None, **sections):
    """BASE with top-level sections replaced (None removes one) and the member at `path` set."""
    document = copy.deepcopy(BASE)
    for key, section in sections.items():
        document[key] = section
    document = {k: v for k, v in document.items() if v is not None}
    if path:
        target = document
        for key in path[:-1]:
            target = target[key]
        target[path[-1]] = value
    return document


@pytest.fixture
def diff_of(tmp_path):
    """diff() of two documents (dicts or texts) written to files, and the summary's first line."""
    def run(first, second):
        paths = [str(tmp_path / "first.tavo"), str(tmp_path / "second.tavo")]
        for path, document in zip(paths, (first, second)):
            text = document if isinstance(document, str) else json.dumps(document)
            pathlib.Path(path).write_text(text)
        return diff(*paths), "Diff between '%s' and '%s':\n" % tuple(paths)
    return run


# (first, second, summary lines after the first, non-empty lists)
FILE_CASES = {
    "same": (BASE, BASE, "", {}),
    "name": (BASE, edited(["metadata", "name"], "n2"), "  Metadata changes:\n     - name: 'net' -> 'n2'\n", {}),
    "description-only": (BASE, edited(["metadata", "description"], "x"), "  Metadata changes:\n", {}),
    "created-at-added": (BASE, edited(["metadata", "created_at"], "x"), "  Metadata changes:\n", {}),
    "capacity-only": (BASE, edited(["nodes", 0, "memory_capacity"], 5), "  Nodes modified: 1 (A)\n",
                      {"nodes_modified": ["A"]}),
    "link-id-only": (BASE, edited(["links", 0, "id"], "L9"), "  Links modified: 1 (A->B)\n",
                     {"links_modified": ["A->B"]}),
    "weather-only": (BASE, edited(["links", 1, "satellite", "weather_factor"], 0.95),
                     "  Links modified: 1 (B->C)\n", {"links_modified": ["B->C"]}),
    "config-added-no-alpha": (BASE, edited(config={"max_attempts": 3}),
                              "  Config changes:\n     - alpha_loss: None -> None\n", {}),
    "config-removed": (edited(config={"alpha_loss": 0.2}), BASE,
                       "  Config changes:\n     - alpha_loss: Some(0.2) -> None\n", {}),
    "alpha-int": (edited(config={"alpha_loss": 0.2}), edited(config={"alpha_loss": 1}),
                  "  Config changes:\n     - alpha_loss: Some(0.2) -> Some(1.0)\n", {}),
    "alpha-forms": (edited(config={"alpha_loss": 0.0001}), edited(config={"alpha_loss": -1e-05}),
                    "  Config changes:\n     - alpha_loss: Some(0.0001) -> Some(-1e-5)\n", {}),
    "alpha-large": (edited(config={"alpha_loss": 1e15}), edited(config={"alpha_loss": 1.5e16}),
                    "  Config changes:\n     - alpha_loss: Some(1000000000000000.0) -> Some(1.5e16)\n", {}),
    "gamma-only": (edited(config={"gamma_swapping": 1}), edited(config={"gamma_swapping": 2}), "  Config changes:\n", {}),
    "config-equal": (edited(config={"alpha_loss": 1, "max_attempts": 3}),
                     edited(config={"max_attempts": 3, "alpha_loss": 1.0}), "", {}),
    "constraints-added": (BASE, edited(constraints={}),
                          "  Constraints changes:\n     - fidelity_target: None -> None\n", {}),
    "fidelity-target": (edited(constraints={"fidelity_target": 0.8}), edited(constraints={"fidelity_target": 0.9}),
                        "  Constraints changes:\n     - fidelity_target: Some(0.8) -> Some(0.9)\n", {}),
    "max-latency-only": (edited(constraints={"max_latency_ms": 5}), edited(constraints={"max_latency_ms": 6}),
                         "  Constraints changes:\n", {}),
    "extensions-added": (BASE, edited(extensions={}), "  Extensions changed\n", {}),
    "custom-null-vs-none": (edited(extensions={"custom": None}), edited(extensions={}), "", {}),
    "custom-member-order": (edited(extensions={"custom": {"a": 1, "b": [True, None]}}),
                            edited(extensions={"custom": {"b": [True, None], "a": 1}}), "", {}),
    "custom-1-vs-1.0": (edited(extensions={"custom": {"a": 1}}), edited(extensions={"custom": {"a": 1.0}}),
                        "  Extensions changed\n", {}),
    "custom-array-order": (edited(extensions={"custom": [1, 2]}), edited(extensions={"custom": [2, 1]}),
                           "  Extensions changed\n", {}),
    "custom-repeated-key": (edited(extensions={"custom": {"a": 1}}),
                            json.dumps(edited(extensions={})).replace('"extensions": {}',
                                                                      '"extensions": {"custom": {"a": 2, "a": 1}}'),
                            "", {}),
    # Keys beside `custom` are the section's too: the diff sees them, in any order.
    "other-extension-keys": (edited(extensions={"layout": {"A": [0, 1]}}), edited(extensions={"layout": {"A": [0, 2]}}),
                             "  Extensions changed\n", {}),
    "other-extension-key-added": (edited(extensions={"custom": 1}), edited(extensions={"custom": 1, "x": None}),
                                  "  Extensions changed\n", {}),
    "other-extension-keys-reordered": (edited(extensions={"x": 1, "y": {"b": 2, "a": 1}}),
                                       edited(extensions={"y": {"a": 1, "b": 2}, "x": 1}), "", {}),
}


@pytest.mark.parametrize("case", FILE_CASES.values(), ids=FILE_CASES.keys())
def test_file_diff(diff_of, case):
    first, second, lines, lists = case
    result, first_line = diff_of(first, second)
    assert list(result) == ["summary"] + LISTS
    assert result["summary"] == first_line + lines
    assert {key: result[key] for key in LISTS if result[key]} == lists


def test_every_line_in_order(diff_of):
    first = edited(config={"alpha_loss": 0.2}, constraints={"fidelity_target": 0.8}, extensions={"custom": 1})
    second = edited(["metadata", "name"], "other", config={"alpha_loss": 0.3},
                    constraints={"fidelity_target": 0.85}, extensions={"custom": 1.0},
                    nodes=[{"id": "B", "memory_lifetime_ms": 60.0}, {"id": "C"}, {"id": "E"}, {"id": "D"}],
                    links=[link("C", "B"), link("B", "C", 20.0), link("C", "D"), link("D", "E")])
    result, first_line = diff_of(first, second)
    assert result["summary"] == first_line + (
        "  Metadata changes:\n     - name: 'net' -> 'other'\n"
        "  Nodes added: 2 (E, D)\n  Nodes removed: 1 (A)\n  Nodes modified: 1 (B)\n"
        "  Links added: 3 (C->B, C->D, D->E)\n  Links removed: 1 (A->B)\n  Links modified: 1 (B->C)\n"
        "  Config changes:\n     - alpha_loss: Some(0.2) -> Some(0.3)\n"
        "  Constraints changes:\n     - fidelity_target: Some(0.8) -> Some(0.85)\n"
        "  Extensions changed\n")


def test_file_lists_follow_the_files_orders(diff_of):
    # Removed and modified entries in the first file's order, added ones in the second's; a repeated
    # link key keeps its first place and is compared by its last entry.
    first = edited(nodes=[{"id": i, "memory_lifetime_ms": 1.0} for i in ["n9", "n1", "n5", "n2"]],
                   links=[link("n9", "n5"), link("n5", "n2", 5.0), link("n2", "n9"), link("n1", "n5"),
                          link("n5", "n2", 1.0), link("n9", "n5", 3.0)])
    second = edited(nodes=[{"id": i, "memory_lifetime_ms": 1.0 if i == "n5" else 2.0} for i in ["n2", "n8", "n5", "n9"]],
                    links=[link("n2", "n9", 10.5), link("n5", "n2", 1.0), link("n9", "n5", 4.0), link("n2", "n8"),
                           link("n8", "n9"), link("n5", "n8")])
    result, _ = diff_of(first, second)
    assert [result[key] for key in LISTS] == [
        ["n8"], ["n1"], ["n9", "n2"], ["n2->n8", "n8->n9", "n5->n8"], ["n1->n5"], ["n9->n5", "n2->n9"]]


@pytest.mark.parametrize("first, second, failing", [
    ("missing", "missing2", 0), ("good", "missing2", 1), ("disconnected", "missing2", 0), ("good", "version", 1)])
def test_load_failures_come_back_as_error(tmp_path, first, second, failing):
    documents = {"good": BASE, "version": edited(version="2.0"), "disconnected": edited(links=[])}
    for name, document in documents.items():
        (tmp_path / name).write_text(json.dumps(document))
    messages = {"missing": "IO error: No such file or directory (os error 2)",
                "missing2": "IO error: No such file or directory (os error 2)",
                "version": "Unsupported tavo version: 2.0",
                "disconnected": "Validation failed:\nValidation failed.\n\nErrors:\n"
                                "   - Graph is disconnected with 3 components\n"}
    paths = [str(tmp_path / first), str(tmp_path / second)]
    name = (first, second)[failing]
    assert diff(*paths) == {"error": "Failed to load %s: %s" % (paths[failing], messages[name])}


# ---------------------------------------------------------------------------------------------
# Snapshot diff


def snapshot(name, nodes=(), links=()):
    engine = TavoEngine()
    engine.define_network([NodeDefinition(*n) for n in nodes], list(links))
    result = engine.snapshot()
    metadata = result.metadata
    metadata.name = name
    result.metadata = metadata
    result.nodes = [NodeDefinition(*n) for n in nodes]  # the network would merge repeated ids
    return result


def fiber(src="A", to="B", **changes):
    values = dict(distance_km=10.0, base_fidelity=0.9, generation_rate_hz=100.0)
    values.update(changes)
    return LinkDefinition(src, to, **values)


def changes(result):
    return {key: getattr(result, key) for key in LISTS if getattr(result, key)}


def test_equal_snapshots_and_what_takes_no_part():
    first, second = snapshot("A", [("X", 1.0)], [fiber("X", "Y")]), snapshot("B", [("X", 1.0)], [fiber("X", "Y")])
    config, metadata = second.config, second.metadata
    config.alpha_loss, metadata.version = 7.0, "2.0"
    second.config, second.metadata = config, metadata
    result = diff_topologies(first, second)
    assert (result.name, changes(result)) == ("A vs B", {})
    assert result.summary == ("Diff for 'A vs B': 0 nodes added, 0 nodes removed, 0 nodes modified. "
                              "0 links added, 0 links removed, 0 links modified.")


@pytest.mark.parametrize("old, new, modified", [
    (1.0, 1.001, False), (1.0, 1.002, True), (1.0, 0.998, True), (math.nan, 1.0, False),
    (math.nan, math.nan, False), (math.inf, math.inf, False), (1.0, math.inf, True)])
def test_lifetime_tolerance(old, new, modified):
    result = diff_topologies(snapshot("a", [("N", old)]), snapshot("b", [("N", new)]))
    assert changes(result) == ({"nodes_modified": ["N"]} if modified else {})


@pytest.mark.parametrize("old, new, modified", [
    (fiber(), fiber(generation_rate_hz=100.5), True),
    (fiber(), fiber(distance_km=10.000000000000002), True),
    (fiber(distance_km=math.nan), fiber(distance_km=math.nan), True),
    (fiber(), fiber(link_type=LinkType.Satellite), True),
    (fiber(), fiber(satellite_conditions=SatelliteConditions()), True),
    (fiber(satellite_conditions=SatelliteConditions()), fiber(), True),
    (fiber(satellite_conditions=SatelliteConditions(0.5, 0.5)), fiber(satellite_conditions=SatelliteConditions(0.5, 0.5)), False),
    (fiber(satellite_conditions=SatelliteConditions(0.5, 0.5)), fiber(satellite_conditions=SatelliteConditions(0.5, 0.6)), True),
    (fiber("A->B", "C"), fiber("A", "B->C"), True),  # the same key from different endpoints
])
def test_link_comparison(old, new, modified):
    first, second = snapshot("a"), snapshot("b")
    first.links, second.links = [old], [new]
    key = old.from_node + "->" + old.to
    assert changes(diff_topologies(first, second)) == ({"links_modified": [key]} if modified else {})


def test_snapshot_lists_follow_the_snapshots_orders():
    # A repeated id or key keeps its first place.
    first = snapshot("one", [("n9", 1.0), ("n2", 1.0), ("n1", 1.0), ("n5", 1.0), ("n9", 1.5)],
                     [fiber("x", "y"), fiber("k", "l"), fiber("q", "r"), fiber("A", "B"), fiber("x", "y", distance_km=3.0)])
    second = snapshot("two", [("n2", 2.0), ("n8", 1.0), ("n5", 1.0), ("n4", 1.0), ("n9", 1.0)],
                      [fiber("m", "n"), fiber("k", "l", distance_km=4.0), fiber("x", "y"), fiber("B", "A")])
    result = diff_topologies(first, second)
    assert changes(result) == {
        "nodes_removed": ["n1"], "nodes_modified": ["n9", "n2"], "nodes_added": ["n8", "n4"],
        "links_removed": ["q->r", "A->B"], "links_modified": ["x->y", "k->l"], "links_added": ["m->n", "B->A"]}
    assert result.summary == ("Diff for 'one vs two': 2 nodes added, 1 nodes removed, 2 nodes modified. "
                              "2 links added, 2 links removed, 2 links modified.")
    # The last of repeated entries is the one compared.
    assert changes(diff_topologies(snapshot("a", [("N", 1.0), ("N", 5.0)], [fiber(distance_km=1.0), fiber()]),
                                   snapshot("b", [("N", 5.0)], [fiber()]))) == {}


@pytest.mark.parametrize("position", [0, 1])
def test_snapshot_arguments_must_be_snapshots(position):
    args = [snapshot("a"), snapshot("b")]
    args[position] = NodeDefinition("N", 1.0)
    with pytest.raises(TypeError) as error:
        diff_topologies(*args)
    assert str(error.value) == ("argument 'snapshot%d': 'NodeDefinition' object cannot be converted to "
                                "'TopologySnapshot'" % (position + 1))

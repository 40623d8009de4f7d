"""tavo_tools reads the engine through its public surface only: no pickling internals, no private
attributes, no representations compared as text, and no private helpers imported from the public
modules."""

import ast
import pathlib

import pytest

import tavo_core
from tavo_tools import parallel

TOOLS = pathlib.Path(__file__).resolve().parent.parent / "python" / "tavo_tools"
MODULES = sorted(TOOLS.glob("*.py"))
PRIVATE_PROTOCOLS = {"__reduce__", "__reduce_ex__", "__getstate__", "__setstate__"}


def tree(path):
    return ast.parse(path.read_text(encoding="utf-8"), str(path))


def calls_repr(node):
    return any(
        isinstance(inner, ast.Call) and isinstance(inner.func, ast.Name) and inner.func.id == "repr"
        for inner in ast.walk(node)
    )


def private_attribute(node):
    """An object's private attribute read from outside its class (tavo_core's own private names
    are judged on their own below)."""
    name = node.attr
    if not name.startswith("_") or (name.startswith("__") and name.endswith("__")):
        return False
    return not (isinstance(node.value, ast.Name) and node.value.id in ("self", "cls", "tavo_core"))


@pytest.mark.parametrize("path", MODULES, ids=lambda path: path.name)
def test_only_the_public_surface(path):
    found = []
    for node in ast.walk(tree(path)):
        where = f"{path.name}:{getattr(node, 'lineno', '?')}"
        if isinstance(node, ast.Attribute):
            if node.attr in PRIVATE_PROTOCOLS:
                found.append(f"{where} uses {node.attr}")
            if private_attribute(node):
                found.append(f"{where} uses {ast.unparse(node)}")
            if isinstance(node.value, ast.Name) and node.value.id == "tavo_core":
                # The one private name meant for tavo_tools: a pool's cancellation of its threads'
                # running calls (signals reach the main thread only).
                if node.attr.startswith("_") and node.attr not in ("__version__", "_Cancellation"):
                    found.append(f"{where} uses tavo_core.{node.attr}")
                elif not hasattr(tavo_core, node.attr):
                    found.append(f"{where} uses tavo_core.{node.attr}, which does not exist")
        if isinstance(node, ast.Compare) and calls_repr(node):
            found.append(f"{where} compares representations")
        if isinstance(node, ast.ImportFrom) and node.module == "parallel" and node.level == 1:
            for alias in node.names:
                if alias.name not in parallel.__all__:
                    found.append(f"{where} imports {alias.name} from parallel")
    assert found == []


@pytest.mark.parametrize(
    "source, finding",
    [
        ("_, state = engine.__reduce__()", "uses __reduce__"),
        ("same = repr(a.link_type) == repr(tavo_core.LinkType.Fiber)", "compares representations"),
        ("f = tavo_core._reconstruct", "uses tavo_core._reconstruct"),
        ("context = stats._context", "uses stats._context"),
        ("from .parallel import run_tasks", "imports run_tasks from parallel"),
    ],
)
def test_the_check_finds_what_it_looks_for(tmp_path, source, finding):
    path = tmp_path / "bad.py"
    path.write_text(source + "\n")
    with pytest.raises(AssertionError, match=finding):
        test_only_the_public_surface(path)

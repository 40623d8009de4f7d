"""The shape of the code base: the layers include only downwards, the core stays free of Python, and
reference counting stays in the owning handle."""

import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).resolve().parent.parent / "src"

# The layer order, lowest first. A file may include files of its own layer and of earlier layers,
# never of later ones. "tavo" is the core's root folder (error kinds, enumeration names).
LAYERS = [
    "text",
    "json",
    "tavo",
    "tavo/network",
    "tavo/random",
    "tavo/io",
    "tavo/routing",
    "tavo/simulation",
    "tavo/scheduler",
    "tavo/physics",
    "tavo/montecarlo",
    "tavo/engine",
    "tavo/protocols",
    "tavo/files",
    "tavo/snapshot",
    "tavo/diff",
    "tavo/topology",
    "bindings/py",
    "bindings",
]
CORE = ("text", "json", "tavo")
SUFFIXES = {".hpp", ".cpp", ".h", ".inc", ".def"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def sources(*folders):
    for folder in folders:
        yield from sorted(p for p in (SRC / folder).rglob("*") if p.suffix in SUFFIXES)


def layer_of(path):
    folder = path.relative_to(SRC).parent.as_posix()
    assert folder in LAYERS, f"{path.relative_to(SRC)} lies in no layer; add its folder to LAYERS"
    return LAYERS.index(folder)


def resolve(including, name):
    # The include path of the build: the including file's folder, src/, and src/bindings/.
    for base in (including.parent, SRC, SRC / "bindings"):
        if (base / name).is_file():
            return (base / name).resolve()
    raise AssertionError(f'#include "{name}" in {including.relative_to(SRC)} names no file')


@pytest.mark.parametrize("path", list(sources("")), ids=lambda p: str(p.relative_to(SRC)))
def test_includes_go_only_downwards(path):
    own = layer_of(path)
    for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
        target = resolve(path, name)
        assert layer_of(target) <= own, (
            f"{path.relative_to(SRC)} ({LAYERS[own]}) includes {target.relative_to(SRC.resolve())} "
            f"({LAYERS[layer_of(target)]}), a later layer"
        )


def test_every_source_folder_has_a_layer():
    folders = {p.relative_to(SRC).parent.as_posix() for p in sources("")}
    assert folders <= set(LAYERS), sorted(folders - set(LAYERS))


@pytest.mark.parametrize("path", list(sources(*CORE)), ids=lambda p: str(p.relative_to(SRC)))
def test_core_does_not_include_the_interpreter(path):
    text = path.read_text(encoding="utf-8")
    assert not re.search(r'#\s*include\s*[<"]Python\.h[>"]', text)
    assert not re.search(r"\bPy[A-Z_]\w*\(", text), "interpreter API used in the core"


REFCOUNT = re.compile(r"\bPy_(X?INCREF|X?DECREF|CLEAR|SETREF|X?NewRef)\b")


@pytest.mark.parametrize("path", list(sources("bindings")), ids=lambda p: str(p.relative_to(SRC)))
def test_reference_counts_are_handled_only_by_the_owning_handle(path):
    if path.relative_to(SRC).as_posix() == "bindings/py/ref.hpp":
        return
    assert not REFCOUNT.search(path.read_text(encoding="utf-8"))

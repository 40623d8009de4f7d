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
# Every include directive, whatever follows it: quoted and angled names are checked against the
# layers, and anything else (a name made by a macro) is refused, so that no include escapes the check.
DIRECTIVE = re.compile(r"^\s*#\s*include\b\s*(.*?)\s*(?://.*)?$", re.M)
NAMED = re.compile(r'^(?:"([^"]+)"|<([^>]+)>)$')


def includes(path):
    """The (name, angled) pairs of the file's include directives; fails on one that names no file
    literally."""
    found = []
    for directive in DIRECTIVE.findall(path.read_text(encoding="utf-8")):
        named = NAMED.match(directive)
        assert named, f"{path.relative_to(SRC)}: #include {directive} does not name a file literally"
        found.append((named.group(1) or named.group(2), named.group(2) is not None))
    return found


def sources(*folders):
    for folder in folders:
        yield from sorted(p for p in (SRC / folder).rglob("*") if p.suffix in SUFFIXES)


def layer_of(path):
    folder = path.relative_to(SRC).parent.as_posix()
    assert folder in LAYERS, f"{path.relative_to(SRC)} lies in no layer; add its folder to LAYERS"
    return LAYERS.index(folder)


def resolve(including, name, angled):
    """The file of ours an include names, or None for one of the system's (an angled name found in
    none of our folders). The include path of the build: the including file's folder (quoted names
    only), src/ and src/bindings/."""
    bases = ([] if angled else [including.parent]) + [SRC, SRC / "bindings"]
    for base in bases:
        if (base / name).is_file():
            return (base / name).resolve()
    assert angled, f'#include "{name}" in {including.relative_to(SRC)} names no file'
    return None


@pytest.mark.parametrize("path", list(sources("")), ids=lambda p: str(p.relative_to(SRC)))
def test_includes_go_only_downwards(path):
    own = layer_of(path)
    for name, angled in includes(path):
        target = resolve(path, name, angled)
        if target is None:
            continue
        assert layer_of(target) <= own, (
            f"{path.relative_to(SRC)} ({LAYERS[own]}) includes {target.relative_to(SRC.resolve())} "
            f"({LAYERS[layer_of(target)]}), a later layer"
        )


@pytest.mark.parametrize("text, complaint", [
    ('#include <json/value.hpp>\n', "includes json/value.hpp (json), a later layer"),
    ('#  include   "json/value.hpp"  // why\n', "includes json/value.hpp (json), a later layer"),
    ('#define HEADER "json/value.hpp"\n#include HEADER\n', "does not name a file literally"),
])
def test_the_check_sees_every_kind_of_include(tmp_path, monkeypatch, text, complaint):
    # A file of the lowest layer that includes a later one, in each way a directive can be written.
    probe = SRC / "text" / "layering_probe.hpp"
    monkeypatch.setattr(pathlib.Path, "read_text",
                        lambda self, *a, **k: text if self == probe else ORIGINAL_READ(self, *a, **k))
    with pytest.raises(AssertionError, match=re.escape(complaint)):
        test_includes_go_only_downwards(probe)


ORIGINAL_READ = pathlib.Path.read_text


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

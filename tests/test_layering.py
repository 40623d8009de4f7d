"""The shape of the code base: the core stays free of Python, and reference counting stays in the
owning handle."""

import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).resolve().parent.parent / "src"


def sources(*folders):
    for folder in folders:
        yield from sorted(p for p in (SRC / folder).rglob("*") if p.suffix in {".hpp", ".cpp", ".h"})


@pytest.mark.parametrize("path", list(sources("tavo", "json")), ids=lambda p: str(p.relative_to(SRC)))
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

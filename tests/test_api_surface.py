"""The Python surface of the module against its checked-in description (tests/golden/api_surface.txt)."""

import difflib
import os
import pathlib
import subprocess
import sys

import pytest

import tavo_core

ROOT = pathlib.Path(__file__).resolve().parent.parent
TOOL = ROOT / "tools" / "api_surface.py"
GOLDEN = ROOT / "tests" / "golden" / "api_surface.txt"


def test_api_surface_matches_golden_file():
    # A fresh interpreter, so that nothing this test session did to the module shows in the description.
    env = dict(os.environ)
    module_dir = str(pathlib.Path(tavo_core.__file__).resolve().parent)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    described = subprocess.run(
        [sys.executable, str(TOOL)], env=env, capture_output=True, text=True, check=True
    ).stdout
    golden = GOLDEN.read_text()
    if described != golden:
        diff = "".join(
            difflib.unified_diff(
                golden.splitlines(True), described.splitlines(True), "tests/golden/api_surface.txt", "built module"
            )
        )
        pytest.fail(
            "The module's Python surface differs from tests/golden/api_surface.txt.\n"
            "If the change is intended, review the diff below, then run\n"
            "    python tools/api_surface.py --write\n"
            "(with the built module on PYTHONPATH) and commit the updated golden file.\n\n" + diff,
            pytrace=False,
        )

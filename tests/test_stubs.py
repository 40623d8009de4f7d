"""The type stubs of tavo_core: they describe the module as it is (stubtest), they are exactly what
the generator writes from the binding declarations and the documentation table, and the tools
package and the examples type-check strictly against them."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import tavo_core
from conftest import ROOT, child_environment

STUBS = ROOT / "python" / "tavo_core-stubs" / "__init__.pyi"
STUBGEN_BUILD = ROOT / "build" / "stubgen"


@pytest.fixture(scope="module")
def stub_env(tmp_path_factory):
    """The environment in which mypy finds the stubs of the tavo_core this session imports.

    An installed module has its stub package beside it in site-packages, where mypy looks by
    itself. A module from the build tree has none: a copy of the checked-in stubs named
    tavo_core.pyi goes on MYPYPATH."""
    env = child_environment()
    installed = pathlib.Path(tavo_core.__file__).resolve().parent / "tavo_core-stubs"
    if not (installed / "__init__.pyi").is_file():
        folder = tmp_path_factory.mktemp("stubs")
        shutil.copyfile(STUBS, folder / "tavo_core.pyi")
        env["MYPYPATH"] = str(folder)
    return env


def run(command, env, cwd, timeout=600):
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=timeout)


def test_stubs_describe_the_module(stub_env, tmp_path):
    # Its cache goes to the working directory: a scratch one keeps the checkout clean.
    result = run([sys.executable, "-m", "mypy.stubtest", "tavo_core", "--allowlist",
                  str(ROOT / "tools" / "stubtest_allowlist.txt")], stub_env, tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_every_allowlist_entry_is_explained():
    explained = False
    for line in (ROOT / "tools" / "stubtest_allowlist.txt").read_text().splitlines():
        if line.startswith("#"):
            explained = explained or bool(line.strip("# "))
        elif line.strip():
            assert explained, f"allowlist entry without a comment above it: {line}"
        else:
            explained = False


@pytest.fixture(scope="module")
def stubgen():
    """Build (incrementally, under build/stubgen) the program that prints the binding kit's
    declarations. It embeds the interpreter: without the library for that there is nothing to
    check against, and the test skips."""
    configure = subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(STUBGEN_BUILD), "-DCMAKE_BUILD_TYPE=Release",
         "-DTAVO_BUILD_STUBGEN=ON", f"-DPython3_EXECUTABLE={sys.executable}",
         "-DTAVO_WERROR=" + os.environ.get("TAVO_WERROR", "OFF")],
        capture_output=True, text=True)
    if configure.returncode != 0:
        if "Development.Embed" in configure.stdout + configure.stderr:
            pytest.skip(f"{sys.executable} cannot be embedded (CMake finds no Python3 "
                        "Development.Embed: no shared libpython), so the stub generator cannot "
                        "be built")
        pytest.fail("configuring the stub generator failed:\n" + configure.stderr)
    subprocess.run(
        ["cmake", "--build", str(STUBGEN_BUILD), "-j", str(os.cpu_count() or 2), "--target",
         "tavo_stubgen", "tavo_core"],
        check=True, stdout=subprocess.DEVNULL)
    return STUBGEN_BUILD / "tavo_stubgen"


def test_checked_in_stubs_are_what_the_generator_writes(stubgen, tmp_path):
    # --check also fails on undocumented names, documentation of undeclared ones and lines
    # longer than 100 columns.
    result = run([sys.executable, str(ROOT / "tools" / "generate_stubs.py"), "--check",
                  "--stubgen", str(stubgen)], child_environment(), tmp_path)
    assert result.returncode == 0, (
        "the stubs differ from what tools/generate_stubs.py writes (run it):\n"
        + result.stdout + result.stderr)


def test_tools_and_examples_type_check_strictly(stub_env):
    # One run over everything: most of its time goes into loading the libraries they import.
    result = run([sys.executable, "-m", "mypy", "--strict", "--cache-dir",
                  str(ROOT / "build" / "mypy-cache"), "python/tavo_tools", "examples"],
                 stub_env, ROOT)
    assert result.returncode == 0, result.stdout + result.stderr

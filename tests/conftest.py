"""Shared fixtures: the core probe binary and the reference data directory."""

import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "tests" / "data"


@pytest.fixture(scope="session")
def data_dir():
    return DATA


@pytest.fixture(scope="session")
def probe():
    """Build (once per session, incrementally) and return the path of the core probe program.

    TAVO_PROBE may name an already built probe; otherwise it is built with CMake under build/probe.
    """
    given = os.environ.get("TAVO_PROBE")
    if given:
        return pathlib.Path(given)
    build = ROOT / "build" / "probe"
    configure = [
        "cmake", "-S", str(ROOT), "-B", str(build),
        "-DTAVO_PYTHON=OFF", "-DTAVO_BUILD_PROBE=ON", "-DCMAKE_BUILD_TYPE=Release",
        "-DTAVO_WERROR=" + os.environ.get("TAVO_WERROR", "OFF"),
    ]
    if not (build / "CMakeCache.txt").exists():
        subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(
        ["cmake", "--build", str(build), "--target", "tavo_probe", "-j", str(os.cpu_count() or 2)],
        check=True, stdout=subprocess.DEVNULL,
    )
    return build / "tavo_probe"

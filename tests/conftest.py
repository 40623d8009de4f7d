"""Shared fixtures: engines built from link tuples, the core probe binary and the reference data
directory."""

import os
import pathlib
import signal
import subprocess
import sys

import pytest

import tavo_core

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


def build_engine(links, nodes=None, *, config=None, purify_factor=None, cutoff=None, speed=None):
    """An engine whose network has the given links, tuples (from, to, distance_km, base_fidelity,
    generation_rate_hz[, link_type]), and nodes (by default every link endpoint, each with a memory
    lifetime of 1 s).

    The configuration is `config`, or, when any of purify_factor, cutoff (total_time_cutoff_ms) and
    speed (km/ms) is given, the engine default with those values changed; otherwise the engine
    default."""
    if nodes is None:
        nodes = sorted({end for link in links for end in link[:2]})
    if purify_factor is not None or cutoff is not None or speed is not None:
        assert config is None, "give either a configuration or values to change"
        config = tavo_core.SimulationConfig(total_time_cutoff_ms=cutoff)
        physical = config.physical
        physical.baseline_purify_factor = 0.12 if purify_factor is None else purify_factor
        if speed is not None:
            physical.speed_of_light_in_fiber_km_ms = speed
        config.physical = physical
    engine = tavo_core.TavoEngine(config)
    engine.define_network([tavo_core.NodeDefinition(n, 1.0) for n in nodes],
                          [tavo_core.LinkDefinition(*link) for link in links])
    return engine


@pytest.fixture(scope="session")
def make_engine():
    """build_engine, as a fixture."""
    return build_engine


def child_environment():
    """The environment for a child Python that must import what this process imports, whatever its
    working directory: the search path with every entry made absolute."""
    search = [os.path.abspath(entry) for entry in sys.path if entry]
    return {**os.environ, "PYTHONPATH": os.pathsep.join(search), "PYTHONDONTWRITEBYTECODE": "1"}


def default_sigint():
    """For subprocess's preexec_fn: a child whose SIGINT is the default action, so that Python
    raises KeyboardInterrupt for it even when this run was started with SIGINT ignored (as shells
    start background jobs)."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


@pytest.fixture
def sigint_raises():
    """SIGINT raises KeyboardInterrupt in this process for the test's duration, however the run was
    started."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)

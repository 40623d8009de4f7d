"""The block kernel of the random source: one is chosen at import, the widest the CPU runs or the one
TAVO_KERNEL names; its name is tavo_core._kernel, and every kernel gives the same figures."""

import json
import subprocess
import sys

import pytest

import tavo_core
from conftest import child_environment

KERNELS = ("portable", "avx2", "avx512")

# An ensemble whose figures depend on every draw of its generators: two hops, so that losses are
# drawn as well as attempts.
SCRIPT = """
import json, tavo_core as t
e = t.TavoEngine()
e.define_network([t.NodeDefinition(n, 1.0) for n in "ABC"],
                 [t.LinkDefinition("A", "B", 80.0, 0.97, 1e3), t.LinkDefinition("B", "C", 120.0, 0.95, 1e3)])
s = e.simulate("A", "C", 0.9, 200.0, 3000, seed=11)
print(json.dumps([t._kernel, s.empirical_success_rate, s.mean_latency_ms, s.mean_fidelity,
                  s.aggregate_congestion_drops, s.link_utilization_heatmap]))
"""


def run_child(kernel):
    environment = child_environment()
    environment.pop("TAVO_KERNEL", None)
    if kernel is not None:
        environment["TAVO_KERNEL"] = kernel
    return subprocess.run([sys.executable, "-c", SCRIPT], env=environment, capture_output=True,
                          text=True, timeout=120)


def runnable_kernels():
    return [kernel for kernel in KERNELS if run_child(kernel).returncode == 0]


def test_the_chosen_kernel_is_named():
    assert tavo_core._kernel in KERNELS
    assert "_kernel" not in tavo_core.__all__


def test_every_kernel_gives_the_same_figures():
    default = run_child(None)
    assert default.returncode == 0, default.stderr
    widest, *figures = json.loads(default.stdout)
    kernels = runnable_kernels()
    # The portable kernel runs everywhere, and without TAVO_KERNEL the widest one is chosen.
    assert "portable" in kernels and widest == kernels[-1]
    for kernel in kernels:
        name, *forced = json.loads(run_child(kernel).stdout)
        assert (name, forced) == (kernel, figures)


@pytest.mark.parametrize("value, message", [
    ("sse9", "TAVO_KERNEL=sse9: unknown kernel 'sse9' (kernels: portable, avx2, avx512; this CPU runs: "),
    ("AVX2", "TAVO_KERNEL=AVX2: unknown kernel 'AVX2'"),
])
def test_an_unknown_kernel_is_refused_at_import(value, message):
    result = run_child(value)
    assert result.returncode != 0
    assert f"ImportError: {message}" in result.stderr


def test_a_kernel_the_cpu_cannot_run_is_refused_at_import():
    kernels = runnable_kernels()
    missing = [kernel for kernel in KERNELS if kernel not in kernels]
    if not missing:
        pytest.skip("this CPU runs every kernel")
    result = run_child(missing[0])
    assert (f"ImportError: TAVO_KERNEL={missing[0]}: the {missing[0]} kernel cannot run on this CPU "
            f"or is not in this build (it runs: {', '.join(kernels)})") in result.stderr

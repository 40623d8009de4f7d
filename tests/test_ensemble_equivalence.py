"""The ensemble's fast trial loop against the plain timeline run once per trial, on thousands of
random networks and requests (the core probe's ensemble-equivalence command). Both sides see the
same losses (a pure function of the event, or each trial's own loss stream), so every figure must
agree to the bit. Every trial is also played as a single request, by the library and by the plain
timeline observing the result alone, with the same result. With each trial's own loss stream the
probe also checks the trials played in groups against the reference trial loop, and ensembles
split into consecutive chunks against the whole, trial by trial. Every block function the CPU runs
is tried: each changes how many trials share a group and which blocks are computed together."""

import re
import subprocess

import pytest

CASES = 3000
SUMMARY = re.compile(
    r"^cases (\d+) mismatches (\d+) with_cycles (\d+) with_success (\d+) multi_hop_success (\d+)"
    r" single_requests (\d+) cut_short (\d+)$")
KERNELS = ["portable", "avx2", "avx512"]


def supported(probe):
    out = subprocess.run([str(probe), "rng-kernels"], capture_output=True, text=True, check=True)
    return {name for name, state in (line.split() for line in out.stdout.splitlines())
            if state == "supported"}


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("losses", ["event", "stream"])
@pytest.mark.parametrize("seed", [1, 2, 2**64 - 1])
def test_fast_ensemble_matches_plain_timeline(probe, seed, losses, kernel):
    if kernel not in supported(probe):
        pytest.skip(f"this CPU cannot run the {kernel} block function")
    command = [str(probe), "ensemble-equivalence", str(CASES), str(seed), losses, kernel]
    out = subprocess.run(command, capture_output=True, text=True, timeout=120)
    lines = out.stdout.strip().splitlines()
    mismatches = [line for line in lines if line.startswith("mismatch")]
    assert mismatches == []
    match = SUMMARY.match(lines[-1])
    assert match, out.stdout
    (cases, mismatch_count, with_cycles, with_success, multi_hop, single_requests,
     cut_short) = map(int, match.groups())
    assert (cases, mismatch_count) == (CASES, 0)
    assert out.returncode == 0
    # The random cases must reach the interesting parts: cycles run, trials succeed, and successes
    # on routes with an intermediate node, where losses and swapping come into play.
    assert with_cycles >= CASES // 20
    assert with_success >= CASES // 20
    assert multi_hop >= CASES // 100
    # Single requests that fail after a failed attempt are where the library's single request
    # stops drawing early: the comparison must reach them.
    assert single_requests >= CASES * 10
    assert cut_short >= CASES // 3


def test_unsupported_kernel_is_refused(probe):
    for kernel in set(KERNELS) - supported(probe):
        out = subprocess.run([str(probe), "ensemble-equivalence", "5", "1", "stream", kernel],
                             capture_output=True, text=True, timeout=60)
        assert out.returncode == 3 and "not supported" in out.stderr
    out = subprocess.run([str(probe), "ensemble-equivalence", "5", "1", "stream", "sse9"],
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 2

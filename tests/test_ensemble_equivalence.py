"""The ensemble's fast trial loop against the plain timeline run once per trial, on thousands of
random networks and requests (the core probe's ensemble-equivalence command). Both sides see the
same losses (a pure function of the event, or each trial's own loss stream), so every figure must
agree to the bit."""

import re
import subprocess

import pytest

CASES = 3000
SUMMARY = re.compile(
    r"^cases (\d+) mismatches (\d+) with_cycles (\d+) with_success (\d+) multi_hop_success (\d+)$")


@pytest.mark.parametrize("losses", ["event", "stream"])
@pytest.mark.parametrize("seed", [1, 2, 2**64 - 1])
def test_fast_ensemble_matches_plain_timeline(probe, seed, losses):
    out = subprocess.run([str(probe), "ensemble-equivalence", str(CASES), str(seed), losses],
                         capture_output=True, text=True, timeout=120)
    lines = out.stdout.strip().splitlines()
    mismatches = [line for line in lines if line.startswith("mismatch")]
    assert mismatches == []
    match = SUMMARY.match(lines[-1])
    assert match, out.stdout
    cases, mismatch_count, with_cycles, with_success, multi_hop = map(int, match.groups())
    assert (cases, mismatch_count) == (CASES, 0)
    assert out.returncode == 0
    # The random cases must reach the interesting parts: cycles run, trials succeed, and successes
    # on routes with an intermediate node, where losses and swapping come into play.
    assert with_cycles >= CASES // 20
    assert with_success >= CASES // 20
    assert multi_hop >= CASES // 100

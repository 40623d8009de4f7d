#!/usr/bin/env python3
"""How far do repeaters carry a key?

On the physical model, a chain of equal fiber hops joins Alice and Bob over a total distance of 50
to 1,000 km, with 0, 1 or 3 repeaters between them and memories of T2 = 1 s everywhere. For each
distance an ensemble of requests (any delivered pair counts) gives the delivered pairs per second
of simulated time and the asymptotic BB84 key rate those pairs carry (tavo_tools.key_rate).
Both are drawn against the repeaterless bound: -log2(1 - eta) secret bits per use of a direct
fiber of the whole length, times the rate at which such a fiber can be used (one attempt per
round trip of the herald, at most the source rate).

Without repeaters the rate falls with the transmission, 10 dB every 50 km; with them it falls
with the transmission of one hop, until the pairs wait so long in their memories that they no
longer carry a key. A 1,000 km hop takes about 1e20 attempts; the physical model draws them as
one number, so every point costs the same.

Usage: python examples/rate_vs_distance.py [FIGURE.png or DIRECTORY]
"""

from __future__ import annotations

import pathlib
import sys
from typing import Dict, List, Optional, Tuple

import matplotlib.pyplot as plt

import tavo_core as tavo
import tavo_tools

DISTANCES_KM = [50.0, 100.0, 150.0, 200.0, 300.0, 400.0, 500.0, 600.0, 800.0, 1000.0]
REPEATERS = [0, 1, 3]
T2_S = 1.0
BASE_FIDELITY = 0.99
SOURCE_RATE_HZ = 1e6
FIBER_LOSS_DB_KM = 0.2
SPEED_KM_MS = 200.0
RUNS = 400
# No budget binds: a trial ends when it delivers a pair, however long that takes.
LIMIT_MS = 1e30


def output_path(argv: List[str], name: str) -> pathlib.Path:
    """Where the figure goes: the argument (a file, or a directory to put `name` in), else `name`
    in the working directory."""
    if not argv:
        return pathlib.Path.cwd() / name
    path = pathlib.Path(argv[0])
    return path / name if path.is_dir() else path


def chain(distance_km: float, repeaters: int) -> tavo.TavoEngine:
    names = ["Alice"] + [f"R{i}" for i in range(1, repeaters + 1)] + ["Bob"]
    hop = distance_km / (repeaters + 1)
    config = tavo.SimulationConfig(
        total_time_cutoff_ms=LIMIT_MS,
        physics=tavo.PhysicalModel(fiber_loss_db_km=FIBER_LOSS_DB_KM),
    )
    engine = tavo.TavoEngine(config)
    engine.define_network(
        [tavo.NodeDefinition(name, T2_S) for name in names],
        [tavo.LinkDefinition(a, b, hop, BASE_FIDELITY, SOURCE_RATE_HZ)
         for a, b in zip(names, names[1:])],
    )
    return engine


def rates(distance_km: float, repeaters: int) -> Tuple[float, float, float]:
    """Delivered pairs per second, key bits per second and mean fidelity."""
    stats = chain(distance_km, repeaters).simulate("Alice", "Bob", 0.25, LIMIT_MS, RUNS, seed=11)
    pairs = 1000.0 * stats.empirical_success_rate / stats.mean_latency_ms
    return pairs, tavo_tools.key_rate(stats), float(stats.mean_fidelity)


def bound(distance_km: float) -> float:
    """The repeaterless bound in bits per second: bits per channel use times the uses per second
    of a direct fiber of the whole length."""
    return tavo_tools.repeaterless_key_rate(distance_km, SOURCE_RATE_HZ, FIBER_LOSS_DB_KM, SPEED_KM_MS)


def main(argv: Optional[List[str]] = None) -> pathlib.Path:
    args = sys.argv[1:] if argv is None else argv
    results: Dict[int, List[Tuple[float, float, float]]] = {}
    print(f"{'distance (km)':>14} {'repeaters':>10} {'pairs/s':>12} {'key bits/s':>12} "
          f"{'fidelity':>9} {'bound bits/s':>13}")
    for repeaters in REPEATERS:
        results[repeaters] = []
        for distance in DISTANCES_KM:
            pairs, key, fidelity = rates(distance, repeaters)
            results[repeaters].append((pairs, key, fidelity))
            print(f"{distance:>14.0f} {repeaters:>10} {pairs:>12.4g} {key:>12.4g} "
                  f"{fidelity:>9.4f} {bound(distance):>13.4g}")

    fig, ax = plt.subplots(figsize=(7.5, 5))
    colours = {0: "tab:blue", 1: "tab:orange", 3: "tab:green"}
    for repeaters, points in results.items():
        label = f"{repeaters} repeater{'s' if repeaters != 1 else ''}"
        ax.plot(DISTANCES_KM, [p[0] for p in points], linestyle="--", marker=".",
                color=colours[repeaters], label=f"{label}: pairs/s")
        # A key rate of 0 has no place on a logarithmic axis: those points are left out.
        keyed = [(d, p[1]) for d, p in zip(DISTANCES_KM, points) if p[1] > 0]
        ax.plot([d for d, _ in keyed], [k for _, k in keyed], linestyle="-", marker="o",
                color=colours[repeaters], label=f"{label}: BB84 key bits/s")
    ax.plot(DISTANCES_KM, [bound(d) for d in DISTANCES_KM], color="black", linewidth=2,
            label="repeaterless bound (bits/s)")
    ax.set_yscale("log")
    ax.set_xlabel("total distance Alice - Bob (km)")
    ax.set_ylabel("rate per second of simulated time (pairs/s, bits/s)")
    ax.set_title(f"Physical model: {FIBER_LOSS_DB_KM} dB/km fiber, T2 = {T2_S:g} s, "
                 f"F0 = {BASE_FIDELITY}")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize="small")
    path = output_path(args, "rate_vs_distance.png")
    fig.savefig(path, dpi=120, bbox_inches="tight")
    plt.close(fig)
    print(f"figure saved to {path}")
    return path


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""What does an edit of a topology file change?

Writes an edited copy of the demo topology to a temporary directory (a second satellite ground
station: a direct link from Bob to the satellite), shows the file diff, runs the same ensemble on
both versions and draws them side by side with their attempts.

Usage: python examples/compare_topology_versions.py [FIGURE.png or DIRECTORY]
"""

from __future__ import annotations

import pathlib
import sys
import tempfile
from typing import List, Optional

import matplotlib.pyplot as plt

import tavo_core as tavo
import tavo_tools

DEMO = pathlib.Path(__file__).resolve().parent / "demo.tavo"
REQUEST = ("Bob", "Sat-1", 0.8, 500.0)
RUNS = 10_000


def output_path(argv: List[str], name: str) -> pathlib.Path:
    """Where the figure goes: the argument (a file, or a directory to put `name` in), else `name`
    in the working directory."""
    if not argv:
        return pathlib.Path.cwd() / name
    path = pathlib.Path(argv[0])
    return path / name if path.is_dir() else path


def edited_copy(directory: pathlib.Path) -> pathlib.Path:
    topology = tavo.load_tavo_file(str(DEMO))
    topology.add_link(
        "bob-sat",
        "Bob",
        "Sat-1",
        600.0,
        0.92,
        400.0,
        tavo.TavoLinkType.Satellite,
        tavo.TavoSatelliteExtension(0.9, 0.95),
    )
    path = directory / "demo-with-bob-uplink.tavo"
    topology.save(str(path))
    return path


def main(argv: Optional[List[str]] = None) -> pathlib.Path:
    args = sys.argv[1:] if argv is None else argv
    with tempfile.TemporaryDirectory() as directory:
        edited = edited_copy(pathlib.Path(directory))
        print(tavo.diff(str(DEMO), str(edited))["summary"], end="")
        fig, axes = plt.subplots(1, 2, figsize=(12, 5))
        for ax, path, name in zip(axes, (DEMO, edited), ("original", "edited")):
            stats = tavo_tools.simulate(tavo.from_tavo_file(str(path)), *REQUEST, RUNS, seed=5)
            low, high = tavo_tools.success_interval(stats)
            print(
                f"{name:>8}: success {stats.empirical_success_rate:.3f} ({low:.3f} to {high:.3f}), "
                f"mean latency {stats.mean_latency_ms:.1f} ms"
            )
            tavo_tools.plot_network(tavo.load_tavo_file(str(path)), stats, ax=ax)
            ax.set_title(
                f"{name}: success {stats.empirical_success_rate:.1%} [{low:.1%}, {high:.1%}]"
            )
    fig.suptitle("Bob -> Sat-1 before and after adding a direct uplink")
    path = output_path(args, "compare_topology_versions.png")
    fig.savefig(path, dpi=120, bbox_inches="tight")
    plt.close(fig)
    print(f"figure saved to {path}")
    return path


if __name__ == "__main__":
    main()

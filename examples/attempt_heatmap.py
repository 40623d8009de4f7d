#!/usr/bin/env python3
"""Where do the generation attempts go?

Runs a parallel ensemble from the relay-side ground station Bob to the satellite of the demo
topology and draws the network with every link's width and colour set by its attempts.

Usage: python examples/attempt_heatmap.py [FIGURE.png or DIRECTORY]
"""

from __future__ import annotations

import pathlib
import sys
from typing import List, Optional

import matplotlib.pyplot as plt

import tavo_core as tavo
import tavo_tools

DEMO = pathlib.Path(__file__).resolve().parent / "demo.tavo"


def output_path(argv: List[str], name: str) -> pathlib.Path:
    """Where the figure goes: the argument (a file, or a directory to put `name` in), else `name`
    in the working directory."""
    if not argv:
        return pathlib.Path.cwd() / name
    path = pathlib.Path(argv[0])
    return path / name if path.is_dir() else path


def main(argv: Optional[List[str]] = None) -> pathlib.Path:
    args = sys.argv[1:] if argv is None else argv
    engine = tavo.from_tavo_file(str(DEMO))
    stats = tavo_tools.simulate(engine, "Bob", "Sat-1", 0.8, 500.0, 20_000, seed=11)
    low, high = tavo_tools.success_interval(stats)
    print(
        f"success rate {stats.empirical_success_rate:.3f} (95 % interval {low:.3f} to {high:.3f})"
    )
    for link, attempts in sorted(stats.link_utilization_heatmap.items(), key=lambda item: -item[1]):
        print(f"  {link:<20} {attempts / stats.total_runs:8.1f} attempts per trial")

    fig, ax = plt.subplots()
    tavo_tools.plot_network(tavo.load_tavo_file(str(DEMO)), stats, ax=ax)
    ax.set_title("Bob -> Sat-1: generation attempts per link")
    path = output_path(args, "attempt_heatmap.png")
    fig.savefig(path, dpi=120, bbox_inches="tight")
    plt.close(fig)
    print(f"figure saved to {path}")
    return path


if __name__ == "__main__":
    main()

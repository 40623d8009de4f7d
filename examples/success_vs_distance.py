#!/usr/bin/env python3
"""How does the success rate fall as a link gets longer?

Sweeps the length of a single fiber link for three base fidelities of its pairs, 2,000 trials per
point with common random numbers, and plots the success rate with its 95 % interval against the
length. A base fidelity below the request's target makes every attempt less likely to succeed.

Usage: python examples/success_vs_distance.py [FIGURE.png or DIRECTORY]
"""

from __future__ import annotations

import pathlib
import sys
from typing import List, Optional

import matplotlib.pyplot as plt

import tavo_core as tavo
import tavo_tools

DISTANCES_KM = [10.0, 50.0, 100.0, 200.0, 300.0, 400.0, 600.0, 800.0]
BASE_FIDELITIES = [0.7, 0.8, 0.95]


def output_path(argv: List[str], name: str) -> pathlib.Path:
    """Where the figure goes: the argument (a file, or a directory to put `name` in), else `name`
    in the working directory."""
    if not argv:
        return pathlib.Path.cwd() / name
    path = pathlib.Path(argv[0])
    return path / name if path.is_dir() else path


def main(argv: Optional[List[str]] = None) -> pathlib.Path:
    args = sys.argv[1:] if argv is None else argv
    engine = tavo.TavoEngine()
    engine.define_network(
        [tavo.NodeDefinition("Alice", 1.0), tavo.NodeDefinition("Bob", 1.0)],
        [tavo.LinkDefinition("Alice", "Bob", 100.0, 0.95, 1000.0)],
    )
    frame = tavo_tools.sweep(
        engine,
        "Alice",
        "Bob",
        0.9,
        250.0,
        2000,
        {"base_fidelity:Alice->Bob": BASE_FIDELITIES, "distance_km:Alice->Bob": DISTANCES_KM},
        seed=1,
    )
    columns = [
        "base_fidelity:Alice->Bob",
        "distance_km:Alice->Bob",
        "success_rate",
        "success_ci_low",
        "success_ci_high",
    ]
    print(frame[columns].to_string(index=False))

    fig, ax = plt.subplots()
    tavo_tools.plot_sweep(frame, "distance_km:Alice->Bob", hue="base_fidelity:Alice->Bob", ax=ax)
    ax.set_xlabel("link length (km)")
    ax.set_ylabel("success rate")
    ax.set_title("Alice -> Bob, fidelity >= 0.9 within 250 ms")
    path = output_path(args, "success_vs_distance.png")
    fig.savefig(path, dpi=120, bbox_inches="tight")
    plt.close(fig)
    print(f"figure saved to {path}")
    return path


if __name__ == "__main__":
    main()

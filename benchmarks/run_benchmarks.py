#!/usr/bin/env python3
"""Build the benchmark programs in Release mode and run them.

Usage: python benchmarks/run_benchmarks.py [--build-dir DIR] [--full]

--full also times the exhaustive route search where it takes over a minute (the 7x7 grid and a
second complete graph); without it the whole run stays within about two minutes.
"""

import argparse
import os
import pathlib
import subprocess

ROOT = pathlib.Path(__file__).resolve().parent.parent


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "bench"))
    parser.add_argument("--full", action="store_true",
                        help="also run the exhaustive searches that take over a minute")
    args = parser.parse_args()
    build = pathlib.Path(args.build_dir)
    subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
         "-DTAVO_PYTHON=OFF", "-DTAVO_BUILD_BENCHMARKS=ON"],
        check=True, stdout=subprocess.DEVNULL,
    )
    subprocess.run(
        ["cmake", "--build", str(build), "--target", "tavo_bench", "-j", str(os.cpu_count() or 2)],
        check=True, stdout=subprocess.DEVNULL,
    )
    subprocess.run([str(build / "tavo_bench")] + (["--full"] if args.full else []), check=True)


if __name__ == "__main__":
    main()

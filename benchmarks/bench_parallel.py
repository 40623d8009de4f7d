#!/usr/bin/env python3
"""Speed-up of tavo_tools.simulate over one core, on a thread pool and on a local Dask cluster.

Every ensemble is the same request on the telecom backbone reference network; each figure is the
best of --repeat timings, and the ratios are taken against the single-call baseline measured in the
same run. The cluster is timed after a warm-up ensemble, so its start-up is not counted.

Usage: python benchmarks/bench_parallel.py [--runs N] [--workers K] [--repeat R]
"""

from __future__ import annotations

import argparse
import time
from typing import Any, Callable, List, Optional

import tavo_core as tavo
import tavo_tools
from tavo_tools.parallel import default_workers

REQUEST = ("A", "E", 0.7, 5000.0)


def best_of(repeat: int, run: Callable[[int], Any]) -> float:
    """The shortest of `repeat` timings of `run(seed)`, each with a seed of its own (a Dask
    cluster would otherwise hand back the results of identical earlier tasks)."""
    times = []
    for seed in range(1, repeat + 1):
        start = time.perf_counter()
        run(seed)
        times.append(time.perf_counter() - start)
    return min(times)


def main(argv: Optional[List[str]] = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=100_000, help="trials per ensemble")
    parser.add_argument("--workers", type=int, default=default_workers(),
                        help="threads or worker processes (default: the usable cores)")
    parser.add_argument("--repeat", type=int, default=3, help="timings per figure (best is kept)")
    args = parser.parse_args(argv)

    payload = tavo.generate_topology("telecom_backbone")
    engine = tavo.TavoEngine()
    engine.define_network(payload.nodes, payload.links)

    def serial(seed: int) -> Any:
        return engine.simulate(*REQUEST, args.runs, None, seed)

    def threads(seed: int) -> Any:
        return tavo_tools.simulate(engine, *REQUEST, args.runs, None, seed, workers=args.workers)

    print(f"{args.runs} trials of {REQUEST[0]} -> {REQUEST[1]} on the telecom backbone, "
          f"{args.workers} workers, best of {args.repeat}")
    baseline = best_of(args.repeat, serial)
    print(f"  {'one core (engine.simulate)':<34} {baseline:8.3f} s   1.00x")
    elapsed = best_of(args.repeat, threads)
    print(f"  {'thread pool':<34} {elapsed:8.3f} s   {baseline / elapsed:.2f}x")

    try:
        import distributed
    except ImportError:
        print("  local Dask cluster: not measured (pip install 'tavo_core[dask]')")
        return
    with distributed.LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            executor = client.get_executor()

            def cluster_run(seed: int) -> Any:
                return tavo_tools.simulate(engine, *REQUEST, args.runs, None, seed,
                                           executor=executor, workers=args.workers)

            try:
                cluster_run(0)  # warm-up: the workers import the modules
            except Exception as exc:  # noqa: BLE001 - reported, not hidden
                print(f"  local Dask cluster: failed: {type(exc).__name__}: {exc}")
                return
            elapsed = best_of(args.repeat, cluster_run)
            print(f"  {'local Dask cluster (processes)':<34} {elapsed:8.3f} s   "
                  f"{baseline / elapsed:.2f}x")


if __name__ == "__main__":
    main()

"""The `tavo` command line: validate, diff, simulate, rank parameters and compare topologies.

Exit status: 0 on success, 1 when the answer is "no" (an invalid file, differing files) or a file
cannot be loaded, 2 on usage errors, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any, Callable, Dict, List, Optional, Sequence, TextIO

import tavo_core

from . import frames
from .parallel import MAX_WORKERS, U64_MAX, resolve_seed
from .parallel import simulate as parallel_simulate

OK, NO, USAGE, INTERRUPTED = 0, 1, 2, 130

STRATEGIES = {
    "lowest-latency": "LowestLatency",
    "highest-fidelity": "HighestFidelity",
    "highest-success": "HighestSuccess",
}

# The reference topologies and the request of the main example.
REFERENCE_ENDPOINTS = (
    ("telecom_backbone", "A", "E"),
    ("repeater_chain", "N0", "N3"),
    ("hybrid_satellite_fiber", "Toronto", "London"),
)


class _Version(argparse.Action):
    def __init__(
        self, option_strings: Sequence[str], dest: str, help: Optional[str] = None
    ) -> None:
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, help=help)

    def __call__(
        self,
        parser: argparse.ArgumentParser,
        namespace: argparse.Namespace,
        values: Any,
        option_string: Optional[str] = None,
    ) -> None:
        print(f"{parser.prog} {tavo_core.__version__}")
        parser.exit()


class UsageError(Exception):
    """Arguments that parse but make no sense for the files given."""


def _seed(text: str) -> int:
    value = int(text)
    if not 0 <= value <= U64_MAX:
        raise argparse.ArgumentTypeError(f"must lie between 0 and {U64_MAX}")
    return value


def _count(text: str) -> int:
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must not be negative")
    return value


def _positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def _endpoint(text: str) -> tavo_core.TopologyEndpoints:
    parts = text.split(":")
    if len(parts) != 3 or not all(parts):
        raise argparse.ArgumentTypeError("expected TOPOLOGY:FROM:TO")
    return tavo_core.TopologyEndpoints(*parts)


def _progress_wanted(stream: TextIO) -> bool:
    """A progress bar only for a person watching a terminal, and only when tqdm is there."""
    if not stream.isatty():
        return False
    try:
        import tqdm  # noqa: F401
    except ImportError:
        return False
    return True


def _emit_json(value: Any) -> None:
    print(json.dumps(value, indent=2))


def _fail(message: str) -> int:
    print(f"tavo: {message}", file=sys.stderr)
    return NO


def _one_line(error: BaseException) -> str:
    return " ".join(str(error).split())


# validate -----------------------------------------------------------------------------------------


def run_validate(args: argparse.Namespace) -> int:
    reports: List[Dict[str, Any]] = []
    status = OK
    for path in args.files:
        try:
            report: Dict[str, Any] = dict(tavo_core.validate(path))
        except RuntimeError as exc:
            print(f"tavo: {_one_line(exc)}", file=sys.stderr)
            reports.append({"filepath": path, "error": str(exc)})
            status = NO
            continue
        reports.append(report)
        if not report["valid"]:
            status = NO
        if not args.json:
            print(f"{path}: {'valid' if report['valid'] else 'invalid'}")
            for error in report["errors"]:
                print(f"  error: {error['message']}")
            for warning in report["warnings"]:
                print(f"  warning: {warning['message']}")
    if args.json:
        _emit_json(reports)
    return status


# diff ---------------------------------------------------------------------------------------------

DIFF_LISTS = (
    "nodes_added",
    "nodes_removed",
    "nodes_modified",
    "links_added",
    "links_removed",
    "links_modified",
)


def run_diff(args: argparse.Namespace) -> int:
    result: Dict[str, Any] = dict(tavo_core.diff(args.old, args.new))
    if "error" in result:
        return _fail(_one_line(RuntimeError(result["error"])))
    # Version, metadata, config, constraints and extension changes show only in the summary, whose
    # first line is always there.
    header = f"Diff between '{args.old}' and '{args.new}':\n"
    identical = result["summary"] == header and not any(result[key] for key in DIFF_LISTS)
    if args.json:
        result = {
            key: (sorted(value) if key in DIFF_LISTS else value) for key, value in result.items()
        }
        result["identical"] = identical
        _emit_json(result)
    else:
        print(result["summary"], end="")
        if identical:
            print("  no differences")
    return OK if identical else NO


# simulate and sensitivity -------------------------------------------------------------------------


def _load_engine(args: argparse.Namespace) -> tavo_core.TavoEngine:
    loaded = tavo_core.load_tavo_file(args.file)
    ids = [str(node.id) for node in loaded.nodes]
    for role, node in (("FROM", args.from_node), ("TO", args.to)):
        if node not in ids:
            raise UsageError(
                f"{role} node {node!r} is not in {args.file} (nodes: {', '.join(ids)})"
            )
    return tavo_core.from_tavo_file(args.file)


def _ensemble(args: argparse.Namespace) -> Any:
    engine = _load_engine(args)
    strategy = (
        None
        if args.strategy is None
        else getattr(tavo_core.StrategyType, STRATEGIES[args.strategy])
    )
    seed = resolve_seed(args.seed)  # chosen here so that the output can name it
    if not args.json:
        print(
            f"{args.file}: {args.runs} trials {args.from_node} -> {args.to}, fidelity >= "
            f"{args.fidelity}, budget {args.budget} ms, seed {seed}",
            flush=True,
        )
    stats = parallel_simulate(
        engine,
        args.from_node,
        args.to,
        args.fidelity,
        args.budget,
        args.runs,
        strategy,
        seed,
        workers=args.workers,
        progress=_progress_wanted(sys.stderr),
    )
    return stats, seed


def _busiest(stats: Any, count: int) -> List[Dict[str, Any]]:
    heatmap = {str(k): int(v) for k, v in stats.link_utilization_heatmap.items()}
    ranked = sorted(heatmap.items(), key=lambda item: -item[1])[:count]
    return [{"link": link, "attempts": attempts} for link, attempts in ranked]


def _print_stats(stats: Any) -> None:
    row = frames.records(stats)[0]
    print(
        f"  success rate     {row['success_rate']:.4f}  (95 % interval "
        f"{row['success_ci_low']:.4f} to {row['success_ci_high']:.4f})"
    )
    print(f"  mean latency     {row['mean_latency_ms']:.3f} ms")
    print(f"  mean fidelity    {row['mean_fidelity']:.4f}")
    print(f"  congestion drops {row['congestion_drops']}")


def run_simulate(args: argparse.Namespace) -> int:
    stats, seed = _ensemble(args)
    busiest = _busiest(stats, args.top)
    if args.json:
        row = {
            key: value
            for key, value in frames.records(stats)[0].items()
            if not key.startswith(frames.ATTEMPTS_PREFIX)
        }
        _emit_json({"seed": seed, **row, "busiest_links": busiest})
        return OK
    _print_stats(stats)
    if busiest:
        print("  busiest links")
        for entry in busiest:
            print(f"    {entry['link']:<30} {entry['attempts']} attempts")
    return OK


def run_sensitivity(args: argparse.Namespace) -> int:
    stats, seed = _ensemble(args)
    if not args.json:
        _print_stats(stats)
        print("  ranking the parameters (each lowered and raised by 10 %) ...", flush=True)
    ranking = stats.sensitivity_analysis(seed)
    rows = frames.records(dict(ranking))[: args.top]
    if args.json:
        base = frames.records(stats)[0]
        _emit_json({"seed": seed, "success_rate": base["success_rate"], "ranking": rows})
        return OK
    for row in rows:
        print(f"    {row['parameter']:<40} {row['impact']:.4f}")
    return OK


# compare ------------------------------------------------------------------------------------------


def run_compare(args: argparse.Namespace) -> int:
    endpoints = args.endpoint or [tavo_core.TopologyEndpoints(*e) for e in REFERENCE_ENDPOINTS]
    strategy = (
        None
        if args.strategy is None
        else getattr(tavo_core.StrategyType, STRATEGIES[args.strategy])
    )
    try:
        report = tavo_core.compare_topologies(
            endpoints, args.fidelity, args.budget, args.runs, strategy
        )
    except ValueError as exc:  # an unknown topology or node
        raise UsageError(str(exc)) from exc
    rows = frames.records(report)
    if args.json:
        plain = [
            {k: v for k, v in row.items() if not k.startswith(frames.ATTEMPTS_PREFIX)}
            for row in rows
        ]
        _emit_json(
            {
                "recommended": str(report.recommended_topology),
                "summary": str(report.summary),
                "topologies": plain,
            }
        )
        return OK
    print(
        f"  {'topology':<24} {'route':<18} {'success':>8} {'95 % interval':>17} "
        f"{'latency':>12} {'fidelity':>9}"
    )
    for endpoint, row in zip(endpoints, rows):
        route = f"{endpoint.from_node} -> {endpoint.to_node}"
        interval = f"{row['success_ci_low']:.3f}-{row['success_ci_high']:.3f}"
        print(
            f"  {row['topology']:<24} {route:<18} {row['success_rate']:>8.1%} {interval:>17} "
            f"{row['mean_latency_ms']:>9.1f} ms {row['mean_fidelity']:>9.4f}"
        )
    print(f"  recommended: {report.recommended_topology}")
    return OK


# parser -------------------------------------------------------------------------------------------


def _add_request(parser: argparse.ArgumentParser, with_workers: bool = True) -> None:
    parser.add_argument(
        "--fidelity",
        type=float,
        required=True,
        metavar="F",
        help="fidelity target, a fraction (1.0 is perfect)",
    )
    parser.add_argument(
        "--budget",
        type=float,
        required=True,
        metavar="MS",
        help="latency budget of one request, in ms",
    )
    parser.add_argument("--runs", type=_count, required=True, metavar="N", help="number of trials")
    parser.add_argument(
        "--strategy", choices=sorted(STRATEGIES), help="routing strategy (default: the engine's)"
    )
    parser.add_argument("--json", action="store_true", help="print machine-readable JSON")
    if with_workers:
        parser.add_argument(
            "--seed",
            type=_seed,
            metavar="S",
            help="seed of trial 0 (default: the clock; the seed used is printed)",
        )
        parser.add_argument(
            "--workers",
            type=_positive,
            metavar="K",
            help=f"threads running the trials (default: the usable cores; larger counts than "
            f"{MAX_WORKERS} are taken as {MAX_WORKERS})",
        )


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tavo",
        description="Quantum-network topology files and simulations from the command line.",
        epilog="Exit status: 0 success, 1 the answer is no (invalid file, differing files) or a "
        "file cannot be loaded, 2 usage error, 130 interrupted.",
    )
    parser.add_argument("--version", action=_Version, help="show the tavo_core version and exit")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    validate = commands.add_parser(
        "validate",
        help="check topology files",
        description="Check .tavo files and report every finding.",
    )
    validate.add_argument("files", nargs="+", metavar="FILE")
    validate.add_argument("--json", action="store_true", help="print machine-readable JSON")
    validate.set_defaults(run=run_validate)

    diff = commands.add_parser(
        "diff",
        help="compare two topology files",
        description="Show what changed from OLD to NEW; exit 1 when they differ.",
    )
    diff.add_argument("old", metavar="OLD")
    diff.add_argument("new", metavar="NEW")
    diff.add_argument("--json", action="store_true", help="print machine-readable JSON")
    diff.set_defaults(run=run_diff)

    for name, run, text in (
        ("simulate", run_simulate, "run a Monte Carlo ensemble on a file's network"),
        ("sensitivity", run_sensitivity, "rank the network's parameters by their influence"),
    ):
        command = commands.add_parser(name, help=text, description=text[0].upper() + text[1:] + ".")
        command.add_argument("file", metavar="FILE", help="a .tavo topology file")
        command.add_argument("from_node", metavar="FROM", help="source node id")
        command.add_argument("to", metavar="TO", help="target node id")
        _add_request(command)
        command.add_argument(
            "--top",
            type=_positive,
            default=5 if name == "simulate" else 10,
            metavar="K",
            help="how many links or parameters to list",
        )
        command.set_defaults(run=run)

    compare = commands.add_parser(
        "compare",
        help="compare the reference topologies on one request",
        description="Simulate one request on reference topologies and recommend one.",
    )
    compare.add_argument(
        "--endpoint",
        type=_endpoint,
        action="append",
        metavar="TOPOLOGY:FROM:TO",
        help="a topology and its request endpoints; repeat for several (default: "
        + ", ".join(":".join(e) for e in REFERENCE_ENDPOINTS)
        + ")",
    )
    compare.add_argument(
        "--fidelity", type=float, default=0.7, metavar="F", help="fidelity target (default 0.7)"
    )
    compare.add_argument(
        "--budget",
        type=float,
        default=5000.0,
        metavar="MS",
        help="latency budget in ms (default 5000)",
    )
    compare.add_argument(
        "--runs", type=_count, default=2000, metavar="N", help="trials per topology (default 2000)"
    )
    compare.add_argument("--strategy", choices=sorted(STRATEGIES), help="routing strategy")
    compare.add_argument("--json", action="store_true", help="print machine-readable JSON")
    compare.set_defaults(run=run_compare)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command line with `argv` (default: the process arguments); return the exit status."""
    parser = build_parser()
    try:
        try:
            args = parser.parse_args(argv)
        except SystemExit as exc:  # --help, --version and usage errors
            return exc.code if isinstance(exc.code, int) else USAGE
        run: Callable[[argparse.Namespace], int] = args.run
        try:
            return run(args)
        except UsageError as exc:
            print(f"tavo {args.command}: error: {exc}", file=sys.stderr)
            return USAGE
        except RuntimeError as exc:  # a file that cannot be loaded
            return _fail(_one_line(exc))
    except KeyboardInterrupt:
        print("tavo: interrupted", file=sys.stderr)
        return INTERRUPTED

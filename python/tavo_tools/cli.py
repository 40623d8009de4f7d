"""The `tavo` command line: validate, diff, simulate, rank parameters and compare networks.

Exit status: 0 on success, 1 when the answer is "no" (an invalid file, differing files) or a file
cannot be loaded, 2 on usage errors, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import sys
from typing import Any, Callable, Dict, List, NoReturn, Optional, Sequence, TextIO, Tuple

import tavo_core

from . import frames
from ._network import Scenario, engine_of
from .networks import compare
from ._shared import MAX_WORKERS, SCHEME_NAMES, U64_MAX, member_name, resolve_seed
from .parallel import simulate as parallel_simulate
from .rank import rank
from .report import report
from .sweep import lookup, vocabulary

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
# Names the engine's own comparison accepts besides those of generate_topology.
TOPOLOGY_ALIASES = {"fiber_only": "telecom_backbone", "hybrid": "hybrid_satellite_fiber"}
COMPARE_FIDELITY, COMPARE_BUDGET_MS = 0.7, 5000.0


class _Parser(argparse.ArgumentParser):
    """Usage errors in one line on stderr, exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(USAGE, f"{self.prog}: error: {message} (see {self.prog} --help)\n")


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


def _whole(text: str) -> int:
    """A whole number written as digits ("1000000", "1_000_000") or in exponent form ("1e6")."""
    try:
        return int(text)
    except ValueError:
        pass
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
    if not math.isfinite(value) or value != int(value):
        raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}")
    return int(value)


def _seed(text: str) -> int:
    value = _whole(text)
    if not 0 <= value <= U64_MAX:
        raise argparse.ArgumentTypeError(f"must lie between 0 and {U64_MAX}, got {text!r}")
    return value


def _positive(text: str) -> int:
    value = _whole(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {text!r}")
    return value


def _real(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"must be a finite number, got {text!r}")
    return value


def _above_zero(text: str) -> float:
    return _budget_value(_real(text))


def _budget_value(value: float) -> float:
    if not (math.isfinite(value) and value > 0.0):
        raise argparse.ArgumentTypeError(f"must be a finite number above 0, got {value!r}")
    return value


def _fraction(text: str) -> float:
    return _fraction_value(_real(text))


def _fraction_value(value: float) -> float:
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"must lie between 0 and 1, got {value!r}")
    return value


def _precision(text: str) -> float:
    value = _real(text)
    if not 0.0 < value < 0.5:
        raise argparse.ArgumentTypeError(f"must lie strictly between 0 and 0.5, got {text!r}")
    return value


def _step(text: str) -> float:
    value = _real(text)
    if not 0.0 < value < 1.0:
        raise argparse.ArgumentTypeError(f"must lie strictly between 0 and 1, got {text!r}")
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
    """The error's message on one line, each part said once: the loader wraps a validation
    error's own "Validation failed." in "Validation failed: ...", which reads twice."""
    parts = " ".join(str(error).split()).split(": ")
    kept: List[str] = []
    for part in parts:
        if kept and (part == kept[-1] or part.startswith(kept[-1] + ".")):
            kept.pop()
        kept.append(part)
    return ": ".join(kept)


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


# simulate, sensitivity and report ---------------------------------------------------------------


def _strategy(args: argparse.Namespace) -> Optional[tavo_core.StrategyType]:
    if args.strategy is None:
        return None
    member: tavo_core.StrategyType = getattr(tavo_core.StrategyType, STRATEGIES[args.strategy])
    return member


def _model_fields(model: Any) -> Dict[str, Any]:
    """A PhysicalModel's fields as plain values, the scheme by its member name."""
    return {
        "scheme": member_name(tavo_core.HeraldingScheme, SCHEME_NAMES, model.scheme),
        "detector_efficiency": float(model.detector_efficiency),
        "swap_success": float(model.swap_success),
        "fiber_loss_db_km": float(model.fiber_loss_db_km),
        "satellite_loss_db": float(model.satellite_loss_db),
        "link_cutoff_ms": None if model.link_cutoff_ms is None else float(model.link_cutoff_ms),
    }


def _model(engine: tavo_core.TavoEngine) -> Dict[str, Any]:
    """Which model an engine plays requests on, for the JSON output: {"model": "cycle"}, or
    {"model": "physical", "physics": the model's fields}."""
    physics = engine.config.physics
    if physics is None:
        return {"model": "cycle"}
    return {"model": "physical", "physics": _model_fields(physics)}


def _model_line(engine: tavo_core.TavoEngine) -> str:
    physics = engine.config.physics
    if physics is None:
        return "cycle model"
    fields = ", ".join(f"{key} {value}" for key, value in _model_fields(physics).items())
    return f"physical model ({fields})"


def _physical(args: argparse.Namespace, engine: tavo_core.TavoEngine) -> tavo_core.TavoEngine:
    """The engine, or with --physical and no model of its own, a copy on the physical model with
    its defaults (a file's own model is always used)."""
    if not args.physical or engine.config.physics is not None:
        return engine
    config = engine.config
    config.physics = tavo_core.PhysicalModel()
    copy = tavo_core.TavoEngine(config)
    copy.define_network(engine.nodes, engine.links)
    return copy


def _load(args: argparse.Namespace) -> Tuple[tavo_core.TavoFile, tavo_core.TavoEngine]:
    """The file of a request and its engine; the request's endpoints are checked against it and
    a missing fidelity target or budget is taken from the file's constraints."""
    loaded = tavo_core.load_tavo_file(args.file)
    ids = [str(node.id) for node in loaded.nodes]
    for role, node in (("FROM", args.from_node), ("TO", args.to)):
        if node not in ids:
            raise UsageError(
                f"{role} node {node!r} is not in {args.file} (nodes: {', '.join(ids)})"
            )
    constraints = loaded.constraints
    for option, name, check in (
        ("fidelity", "fidelity_target", _fraction_value),
        ("budget", "max_latency_ms", _budget_value),
    ):
        if getattr(args, option) is not None:
            continue
        value = None if constraints is None else getattr(constraints, name)
        if value is None:
            raise UsageError(f"give --{option}: {args.file} has no constraints.{name}")
        try:
            setattr(args, option, check(float(value)))
        except argparse.ArgumentTypeError as exc:
            raise UsageError(f"constraints.{name} of {args.file} {exc}; give --{option}") from None
    return loaded, _physical(args, tavo_core.from_tavo_file(args.file))


def _header(args: argparse.Namespace, seed: int, what: str, engine: tavo_core.TavoEngine) -> None:
    if not args.json:
        print(
            f"{args.file}: {args.from_node} -> {args.to}, fidelity >= {args.fidelity:g}, "
            f"budget {args.budget:g} ms, {what}, seed {seed}, {_model_line(engine)}",
            flush=True,
        )


def _ensemble(args: argparse.Namespace, engine: tavo_core.TavoEngine, seed: int) -> Any:
    return parallel_simulate(
        engine,
        args.from_node,
        args.to,
        args.fidelity,
        args.budget,
        args.runs,
        _strategy(args),
        seed,
        workers=args.workers,
        progress=_progress_wanted(sys.stderr),
        precision=args.precision,
        max_runs=args.max_runs,
    )


def _trials(args: argparse.Namespace) -> str:
    if args.runs is not None:
        return f"{args.runs} trials"
    return f"trials until the success rate is known to \u00b1{args.precision:g}"


REPORT_RUNS = 10_000


def _precision_check(args: argparse.Namespace) -> None:
    if args.max_runs is not None and args.precision is None:
        raise UsageError("--max-runs goes with --precision")


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
    _precision_check(args)
    _, engine = _load(args)
    seed = resolve_seed(args.seed)  # chosen here so that the output can name it
    _header(args, seed, _trials(args), engine)
    stats = _ensemble(args, engine, seed)
    busiest = _busiest(stats, args.top)
    if args.json:
        row = {
            key: value
            for key, value in frames.records(stats)[0].items()
            if not key.startswith(frames.ATTEMPTS_PREFIX)
        }
        _emit_json({"seed": seed, **_model(engine), **row, "busiest_links": busiest})
        return OK
    if args.precision is not None:
        print(f"  trials run       {stats.total_runs}")
    _print_stats(stats)
    if busiest:
        print("  busiest links")
        for entry in busiest:
            print(f"    {entry['link']:<30} {entry['attempts']} attempts")
    return OK


def _ranking(args: argparse.Namespace, engine: tavo_core.TavoEngine, seed: int) -> Any:
    scenario = Scenario.of(engine, args.fidelity, args.budget)
    table = vocabulary(scenario)
    for key in args.param or ():
        try:
            lookup(table, key, scenario)
        except ValueError as exc:
            raise UsageError(f"argument --param: {exc}") from exc
    return rank(
        engine,
        args.from_node,
        args.to,
        args.fidelity,
        args.budget,
        args.runs,
        args.param,
        args.step,
        seed,
        strategy=_strategy(args),
        workers=args.workers,
        progress=_progress_wanted(sys.stderr),
    )


def run_sensitivity(args: argparse.Namespace) -> int:
    _, engine = _load(args)
    seed = resolve_seed(args.seed)
    _header(args, seed, f"{args.runs} trials per variant", engine)
    ranking = _ranking(args, engine, seed)
    top = ranking.head(args.top)
    if args.json:
        rows = [
            {"parameter": str(key), **{k: _plain(v) for k, v in row.items()}}
            for key, row in top.iterrows()
        ]
        _emit_json({"seed": seed, **_model(engine), "step": args.step, "ranking": rows})
        return OK
    base = float(ranking["success_base"].iloc[0]) if len(ranking) else math.nan
    print(f"  success rate {base:.4f}; each parameter lowered and raised by {args.step:.0%}")
    print(
        f"  {'parameter':<40} {'low':>10} {'high':>10} {'effect':>8} {'95 % interval':>19}"
    )
    for key, row in top.iterrows():
        note = "  route changes" if row["route_changed"] else ""
        note += "  (clamped)" if row["clamped"] else ""
        print(
            f"  {str(key):<40} {row['low']:>10.4g} {row['high']:>10.4g} {row['effect']:>+8.4f} "
            f"{row['effect_ci_low']:>+9.4f} {row['effect_ci_high']:>+9.4f}{note}"
        )
    return OK


def run_report(args: argparse.Namespace) -> int:
    _precision_check(args)
    if args.runs is None and args.precision is None:
        args.runs = REPORT_RUNS
    _, engine = _load(args)  # checks the endpoints, fills in the limits
    seed = resolve_seed(args.seed)
    _header(args, seed, f"report of {_trials(args)}", engine)
    page = report(
        args.file,
        args.from_node,
        args.to,
        args.fidelity,
        args.budget,
        args.runs,
        precision=args.precision,
        max_runs=args.max_runs,
        rank_runs=args.rank_runs,
        step=args.step,
        seed=seed,
        strategy=_strategy(args),
        path=args.output,
        engine=engine,
        workers=args.workers,
        progress=_progress_wanted(sys.stderr),
    )
    row = frames.records(page.stats)[0]
    if args.json:
        _emit_json(
            {"seed": seed, **_model(engine), "path": args.output,
             "success_rate": row["success_rate"]}
        )
    else:
        print(f"  success rate {row['success_rate']:.4f}; report written to {args.output}")
    return OK


def _plain(value: Any) -> Any:
    """A numpy scalar of a DataFrame as the Python value json writes."""
    return value.item() if hasattr(value, "item") else value


# compare ------------------------------------------------------------------------------------------


def _compare_items(args: argparse.Namespace) -> List[Tuple[str, Any, str, str]]:
    """(name, file path or generated topology, from, to) of every network to compare."""
    if (args.from_node is None) != (args.to is None):
        raise UsageError("give both --from and --to, or neither")
    references = {name: (a, b) for name, a, b in REFERENCE_ENDPOINTS}
    items: List[Tuple[str, Any, str, str]] = []
    for item in args.networks:
        is_file = os.path.exists(item) or item.endswith(".tavo")
        source: Any = item
        if not is_file:
            try:
                source = _generate(item)
            except ValueError as exc:
                message = f"{item!r} is neither a file nor a built-in topology: {exc}"
                raise UsageError(message) from None
        ends = references.get(TOPOLOGY_ALIASES.get(item, item))
        if args.from_node is not None:
            ends = (args.from_node, args.to)
        elif is_file or ends is None:
            raise UsageError(f"give --from and --to for {item}")
        items.append((item, source, ends[0], ends[1]))
    for endpoint in args.endpoint or []:
        try:
            payload = _generate(endpoint.topology_name)
        except ValueError as exc:
            raise UsageError(str(exc)) from None
        items.append((endpoint.topology_name, payload, endpoint.from_node, endpoint.to_node))
    if not items:
        for name, a, b in REFERENCE_ENDPOINTS:
            items.append((name, _generate(name), a, b))
    names = [item[0] for item in items]
    if len(set(names)) != len(names):
        raise UsageError("a network is named twice")
    return items


def _generate(name: str) -> tavo_core.NetworkTopologyPayload:
    return tavo_core.generate_topology(TOPOLOGY_ALIASES.get(name, name))


def _compare_request(args: argparse.Namespace, items: List[Tuple[str, Any, str, str]]) -> None:
    """Fill in a missing fidelity target or budget: the files' common constraints, else the
    reference request's."""
    files = [tavo_core.load_tavo_file(item[1]) for item in items if isinstance(item[1], str)]
    for option, name, default in (
        ("fidelity", "fidelity_target", COMPARE_FIDELITY),
        ("budget", "max_latency_ms", COMPARE_BUDGET_MS),
    ):
        if getattr(args, option) is not None:
            continue
        values = {
            getattr(f.constraints, name) for f in files if f.constraints is not None
        } - {None}
        if len(values) > 1:
            raise UsageError(f"the files' constraints.{name} differ; give --{option}")
        setattr(args, option, float(values.pop()) if values else default)


def _engine(source: Any) -> tavo_core.TavoEngine:
    if isinstance(source, tavo_core.NetworkTopologyPayload):
        engine = tavo_core.TavoEngine()
        engine.define_network(source.nodes, source.links)
        return engine
    return engine_of(source)


def run_compare(args: argparse.Namespace) -> int:
    items = _compare_items(args)
    _compare_request(args, items)
    seed = resolve_seed(args.seed)
    if not args.json:
        print(
            f"{args.runs} trials per network, fidelity >= {args.fidelity:g}, budget "
            f"{args.budget:g} ms, seed {seed}",
            flush=True,
        )
    engines = {}
    for name, source, from_node, to in items:
        engine = engines[name] = _physical(args, _engine(source))
        ids = {str(node.id) for node in engine.nodes}
        for role, node in (("from", from_node), ("to", to)):
            if node not in ids:
                raise UsageError(f"{role} node {node!r} is not in {name}")
    rows = []
    for name, source, from_node, to in items:
        frame = compare(
            {name: engines[name]},
            from_node,
            to,
            args.fidelity,
            args.budget,
            args.runs,
            seed,
            strategy=_strategy(args),
            workers=args.workers,
            progress=_progress_wanted(sys.stderr),
        )
        row = {"network": name, "from": from_node, "to": to, **_model(engines[name])}
        row.update({k: _plain(v) for k, v in frame.iloc[0].items()})
        rows.append(row)
    best, rivals = _best(rows)
    if args.json:
        _emit_json(
            {"seed": seed, "networks": rows, "recommended": best, "indistinguishable": rivals}
        )
        return OK
    print(
        f"  {'network':<24} {'request':<18} {'success':>8} {'95 % interval':>15} "
        f"{'latency':>12} {'fidelity':>9}"
    )
    for row in rows:
        request = f"{row['from']} -> {row['to']}"
        interval = f"{row['success_ci_low']:.3f}-{row['success_ci_high']:.3f}"
        print(
            f"  {row['network']:<24} {request:<18} {row['success_rate']:>8.1%} {interval:>15} "
            f"{row['mean_latency_ms']:>9.1f} ms {row['mean_fidelity']:>9.4f}"
        )
    line = f"  recommended: {best}"
    if rivals:
        line += f" (its interval overlaps {', '.join(rivals)}'s: more runs would tell)"
    print(line)
    return OK


def _best(rows: List[Dict[str, Any]]) -> Tuple[str, List[str]]:
    """The network with the highest success rate (then the lowest latency) and the others whose
    95 % interval overlaps its."""
    best = max(rows, key=lambda row: (row["success_rate"], -row["mean_latency_ms"]))
    rivals = [
        row["network"]
        for row in rows
        if row is not best and row["success_ci_high"] >= best["success_ci_low"]
    ]
    return best["network"], rivals


# parser -------------------------------------------------------------------------------------------


def _add_runs(parser: argparse.ArgumentParser, default: Optional[int] = None) -> None:
    """--runs N or --precision P (with --max-runs); one of them is required unless the command
    has a default run count."""
    runs = parser.add_mutually_exclusive_group(required=default is None)
    runs.add_argument(
        "--runs",
        type=_positive,
        metavar="N",
        help="number of trials" + ("" if default is None else f" (default {default})"),
    )
    runs.add_argument(
        "--precision",
        type=_precision,
        metavar="P",
        help="run until the 95 %% interval of the success rate is within +-P of it",
    )
    parser.add_argument(
        "--max-runs",
        type=_positive,
        metavar="N",
        help="most trials --precision may run (default 10000000)",
    )


def _add_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--strategy", choices=sorted(STRATEGIES), help="routing strategy (default: the engine's)"
    )
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
    parser.add_argument("--json", action="store_true", help="print machine-readable JSON")
    parser.add_argument(
        "--physical",
        action="store_true",
        help="play requests on the physical model, with its defaults, on a network that has no "
        "model of its own (a file's own model is always used)",
    )


def _add_request(parser: argparse.ArgumentParser) -> None:
    """FILE FROM TO and the request's limits, which default to the file's constraints."""
    parser.add_argument("file", metavar="FILE", help="a .tavo topology file")
    parser.add_argument("from_node", metavar="FROM", help="source node id")
    parser.add_argument("to", metavar="TO", help="target node id")
    parser.add_argument(
        "--fidelity",
        type=_fraction,
        metavar="F",
        help="fidelity target, a fraction (1.0 is perfect; default: the file's constraints)",
    )
    parser.add_argument(
        "--budget",
        type=_above_zero,
        metavar="MS",
        help="latency budget of one request, in ms (default: the file's constraints)",
    )


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="tavo",
        description="Quantum-network topology files and simulations from the command line.",
        epilog="Exit status: 0 success, 1 the answer is no (invalid file, differing files) or a "
        "file cannot be loaded, 2 usage error, 130 interrupted. Counts accept 1e6 and "
        "1_000_000.",
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

    simulate = commands.add_parser(
        "simulate",
        help="run a Monte Carlo ensemble on a file's network",
        description="Run a Monte Carlo ensemble on a file's network.",
    )
    _add_request(simulate)
    _add_runs(simulate)
    _add_options(simulate)
    simulate.add_argument(
        "--top", type=_positive, default=5, metavar="K", help="how many busy links to list"
    )
    simulate.set_defaults(run=run_simulate)

    sensitivity = commands.add_parser(
        "sensitivity",
        help="rank the network's parameters by their effect on the success rate",
        description="Lower and raise every parameter by a step on common seeds and rank them by "
        "the change of the success rate, with its 95 % interval.",
    )
    _add_request(sensitivity)
    sensitivity.add_argument(
        "--runs", type=_positive, required=True, metavar="N", help="trials per variant"
    )
    sensitivity.add_argument(
        "--step",
        type=_step,
        default=0.1,
        metavar="S",
        help="relative change of each parameter (default 0.1: -10 %% and +10 %%)",
    )
    sensitivity.add_argument(
        "--param",
        action="append",
        metavar="KEY",
        help="a parameter to rank, such as distance_km:A->B; repeat for several (default: all "
        "node, link and network parameters)",
    )
    _add_options(sensitivity)
    sensitivity.add_argument(
        "--top", type=_positive, default=10, metavar="K", help="how many parameters to list"
    )
    sensitivity.set_defaults(run=run_sensitivity)

    report_command = commands.add_parser(
        "report",
        help="write an HTML report on one request",
        description="Simulate one request, rank the parameters and write one self-contained "
        "HTML page: the network with its attempt heatmap, the success rate with its interval, "
        "latency, fidelity and the ranking.",
    )
    _add_request(report_command)
    _add_runs(report_command, default=REPORT_RUNS)
    report_command.add_argument(
        "--rank-runs",
        type=_positive,
        metavar="N",
        help="trials per variant of the ranking (default: as many as the ensemble)",
    )
    report_command.add_argument(
        "--step",
        type=_step,
        default=0.1,
        metavar="S",
        help="relative change of each ranked parameter (default 0.1)",
    )
    report_command.add_argument(
        "-o", "--output", required=True, metavar="PATH", help="where to write the page"
    )
    _add_options(report_command)
    report_command.set_defaults(run=run_report)

    compare_command = commands.add_parser(
        "compare",
        help="compare networks on one request",
        description="Simulate one request on several networks with the same seed: .tavo files "
        "or built-in topologies (default: "
        + ", ".join(":".join(e) for e in REFERENCE_ENDPOINTS)
        + ").",
    )
    compare_command.add_argument(
        "networks",
        nargs="*",
        metavar="NETWORK",
        help="a .tavo file or the name of a built-in topology",
    )
    compare_command.add_argument("--from", dest="from_node", metavar="FROM", help="source node")
    compare_command.add_argument("--to", metavar="TO", help="target node")
    compare_command.add_argument(
        "--endpoint",
        type=_endpoint,
        action="append",
        metavar="TOPOLOGY:FROM:TO",
        help="a built-in topology and its request endpoints; repeat for several",
    )
    compare_command.add_argument(
        "--fidelity",
        type=_fraction,
        metavar="F",
        help=f"fidelity target (default: the files' constraints, else {COMPARE_FIDELITY})",
    )
    compare_command.add_argument(
        "--budget",
        type=_above_zero,
        metavar="MS",
        help="latency budget in ms (default: the files' constraints, else "
        f"{COMPARE_BUDGET_MS:g})",
    )
    compare_command.add_argument(
        "--runs",
        type=_positive,
        default=2000,
        metavar="N",
        help="trials per network (default 2000)",
    )
    _add_options(compare_command)
    compare_command.set_defaults(run=run_compare)
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
            print(f"tavo {args.command}: error: {_one_line(exc)}", file=sys.stderr)
            return USAGE
        except RuntimeError as exc:  # a file that cannot be loaded
            return _fail(_one_line(exc))
        except ValueError as exc:  # a value the physical model cannot use
            return _fail(_one_line(exc))
    except KeyboardInterrupt:
        print("tavo: interrupted", file=sys.stderr)
        return INTERRUPTED

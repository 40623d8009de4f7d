"""A report for the team: one self-contained HTML page on one request.

The page holds the network drawn with its attempt heatmap, the success rate with its interval,
latency and fidelity, the ranking of the parameters, and, on the physical model, the key rate
against the repeaterless bound. Figures are PNG images inside the page; it loads nothing else and
runs no script, so it can be mailed or opened offline.
"""

from __future__ import annotations

import base64
import concurrent.futures as cf
import datetime
import html
import io
import math
import os
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Callable, List, Optional, Sequence, Tuple

import tavo_core

from . import frames
from ._network import NetworkSource, engine_of, route_links
from ._optional import missing
from ._shared import resolve_seed, strategy_name
from .parallel import simulate as parallel_simulate
from .plot import plot_network, plot_sensitivity
from .rank import rank
from .rates import key_rate, repeaterless_key_rate
from .sweep import describe

if TYPE_CHECKING:
    import pandas
    from matplotlib.figure import Figure

__all__ = ["report", "Report"]

# Rows of the ranking the page lists (the figure shows the first ten).
RANKING_ROWS = 15


@dataclass
class Section:
    """One part of the page: a heading and its HTML body."""

    heading: str
    body: str


@dataclass
class Report:
    """A report page and what it was made from. `html` is the whole page; `save` writes it;
    notebooks show it inline."""

    title: str
    html: str
    stats: tavo_core.MonteCarloStats
    ranking: pandas.DataFrame
    seed: int
    sections: List[Section] = field(default_factory=list)

    def save(self, path: "str | os.PathLike[str]") -> None:
        """Write the page to `path` (UTF-8)."""
        with open(os.fspath(path), "w", encoding="utf-8") as handle:
            handle.write(self.html)

    def _repr_html_(self) -> str:
        # A frame of its own keeps the page's styles out of the notebook's.
        return (
            f'<iframe srcdoc="{html.escape(self.html, quote=True)}" '
            'style="width: 100%; height: 720px; border: 1px solid #ccc"></iframe>'
        )


def _png(figure: Figure) -> str:
    """An <img> of the figure, its PNG inline."""
    import matplotlib.pyplot as plt

    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", dpi=110, bbox_inches="tight")
    plt.close(figure)
    data = base64.b64encode(buffer.getvalue()).decode("ascii")
    return f'<img alt="" src="data:image/png;base64,{data}">'


def _figure(draw: Callable[[Any], Any], size: Tuple[float, float] = (7.0, 4.8)) -> str:
    try:
        import matplotlib.pyplot as plt
    except ImportError as exc:
        raise missing("matplotlib", "plot", "report") from exc
    figure, ax = plt.subplots(figsize=size, layout="constrained")
    draw(ax)
    return _png(figure)


def _table(header: Sequence[str], rows: Sequence[Sequence[str]], classes: str = "") -> str:
    head = "".join(f"<th>{html.escape(cell)}</th>" for cell in header)
    body = "".join(
        "<tr>" + "".join(f"<td>{html.escape(cell)}</td>" for cell in row) + "</tr>" for row in rows
    )
    return f'<table class="{classes}"><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>'


def _summary(stats: tavo_core.MonteCarloStats, route: Sequence[str]) -> Section:
    row = frames.records(stats)[0]
    figures = [
        ("Success rate", f"{row['success_rate']:.2%}"),
        (
            "95 % interval",
            f"{row['success_ci_low']:.2%} to {row['success_ci_high']:.2%}",
        ),
        ("Mean latency", f"{row['mean_latency_ms']:.2f} ms"),
        ("Mean fidelity of successes", f"{row['mean_fidelity']:.4f}"),
        ("Trials", f"{row['runs']:,}"),
        ("Congestion drops", f"{row['congestion_drops']:,}"),
        ("Route", " \u2192 ".join(route) if route else "none"),
    ]
    body = _table(["", ""], [list(pair) for pair in figures], "figures")
    return Section("Result", body)


def _ranking_section(ranking: pandas.DataFrame, rank_runs: int, step: float) -> Section:
    rows = []
    for key, row in ranking.head(RANKING_ROWS).iterrows():
        notes = []
        if row["route_changed"]:
            notes.append("route changes")
        if row["clamped"]:
            notes.append("clamped to its range")
        rows.append(
            [
                describe(str(key)),
                f"{row['base']:.4g}",
                f"{row['low']:.4g} / {row['high']:.4g}",
                f"{row['effect']:+.4f}",
                f"{row['effect_ci_low']:+.4f} to {row['effect_ci_high']:+.4f}",
                f"{row['latency_effect']:+.2f}",
                ", ".join(notes),
            ]
        )
    text = (
        f"<p>Each parameter lowered and raised by {step:.0%} (within its physical range), "
        f"{rank_runs:,} trials per variant on the same seeds. The effect is the success rate "
        "with the parameter raised minus with it lowered: positive means raising it helps.</p>"
    )
    figure = _figure(lambda ax: plot_sensitivity(ranking, top=10, ax=ax), (8.0, 4.8))
    table = _table(
        ["Parameter", "Value", "Lowered / raised", "Effect", "95 % interval", "Latency (ms)", ""],
        rows,
        "ranking",
    )
    return Section("What to improve first", text + figure + table)


def _physics_of(engine: tavo_core.TavoEngine) -> Any:
    """The engine's physical model, or None on the abstract model (and on builds without one)."""
    return getattr(engine.config, "physics", None)


def _key_rate_section(
    engine: tavo_core.TavoEngine, stats: tavo_core.MonteCarloStats, route: Sequence[str]
) -> Section:
    heading = "Key rate against the repeaterless bound"
    physics = _physics_of(engine)
    loss = float(physics.fiber_loss_db_km)
    speed = float(engine.config.physical.speed_of_light_in_fiber_km_ms)
    # A direct fiber of the route's length is credited with the fastest source among its hops.
    hops = route_links(engine, route)
    distance = math.fsum(float(link.distance_km) for link in hops)
    source = max((float(link.generation_rate_hz) for link in hops), default=0.0)
    if not (distance > 0.0 and source > 0.0):
        return Section(heading, "<p>The route has no length: there is no bound to compare with.</p>")
    rate = key_rate(stats)
    limit = repeaterless_key_rate(distance, source, loss, speed)

    def draw(ax: Any) -> None:
        top = max(distance * 2.0, 1.0)
        xs = [top * i / 200.0 for i in range(1, 201)]
        ax.plot(xs, [repeaterless_key_rate(x, source, loss, speed) for x in xs],
                label=f"repeaterless bound ({source:g} Hz source)")
        if rate > 0.0:
            ax.plot([distance], [rate], "o", color="tab:red", label="this network")
        ax.set_yscale("log")
        ax.set_xlabel("Route length (km)")
        ax.set_ylabel("Secret key rate (bits/s)")
        ax.set_title(f"Key rate at {distance:g} km, fiber loss {loss:g} dB/km")
        ax.legend()

    table = _table(
        ["", ""],
        [
            ["Key rate of this network (bits/s)", f"{rate:.4g}"],
            [f"Repeaterless bound at {distance:g} km (bits/s)", f"{limit:.4g}"],
            ["Ratio", f"{rate / limit:.3g}" if limit > 0 else "n/a"],
        ],
        "figures",
    )
    return Section(heading, _figure(draw) + table)


STYLE = """
body { font-family: system-ui, -apple-system, "Segoe UI", sans-serif; margin: 2em auto;
       max-width: 60em; color: #222; line-height: 1.4; padding: 0 1em; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; }
h2 { font-size: 1.2em; border-bottom: 1px solid #ddd; padding-bottom: 0.2em; margin-top: 1.6em; }
p.request { color: #555; margin-top: 0; }
img { max-width: 100%; height: auto; display: block; margin: 0.8em 0; }
table { border-collapse: collapse; margin: 0.6em 0; }
td, th { padding: 0.25em 0.8em; text-align: left; border-bottom: 1px solid #eee; }
table.figures td:first-child { color: #555; }
table.ranking td:nth-child(n+2):nth-child(-n+6) { font-variant-numeric: tabular-nums;
                                                   white-space: nowrap; }
footer { color: #777; font-size: 0.85em; margin-top: 2em; }
"""


def _page(title: str, request: str, sections: Sequence[Section], footer: str) -> str:
    parts = [
        "<!DOCTYPE html>",
        '<html lang="en"><head><meta charset="utf-8">',
        '<meta name="viewport" content="width=device-width, initial-scale=1">',
        f"<title>{html.escape(title)}</title><style>{STYLE}</style></head><body>",
        f"<h1>{html.escape(title)}</h1>",
        f'<p class="request">{html.escape(request)}</p>',
    ]
    for section in sections:
        parts.append(f"<section><h2>{html.escape(section.heading)}</h2>{section.body}</section>")
    parts.append(f"<footer>{html.escape(footer)}</footer></body></html>")
    return "\n".join(parts) + "\n"


def report(
    network: NetworkSource,
    from_node: str,
    to: str,
    fidelity_target: Optional[float] = None,
    max_latency_ms: Optional[float] = None,
    runs: Optional[int] = 10_000,
    *,
    precision: Optional[float] = None,
    max_runs: Optional[int] = None,
    rank_runs: Optional[int] = None,
    step: float = 0.1,
    seed: Optional[int] = 0,
    strategy: Optional[tavo_core.StrategyType] = None,
    path: "str | os.PathLike[str] | None" = None,
    engine: Optional[tavo_core.TavoEngine] = None,
    executor: Optional[cf.Executor] = None,
    workers: Optional[int] = None,
    progress: bool = False,
) -> Report:
    """Simulate one request, rank the parameters and write the findings as one HTML page.

    network: an engine, a loaded topology file or the path of one. The fidelity target and the
        latency budget default to a file's constraints (an engine needs them given).
    runs: trials of the ensemble, or precision (with max_runs): as many as it takes for the
        success rate to be known to within +-precision (see `tavo_tools.simulate`; pass
        runs=None with it); rank_runs: trials per variant of the ranking (default: as many as
        the ensemble ran);
        step: the ranking's relative change of each parameter; seed: the seed of both (None reads
        the clock once); strategy: the routing strategy (default: the engine's).
    path: where to write the page (default: nowhere; `Report.save` writes it later).
    engine: the engine to simulate on, when it is not the network's own (a file's network with
        another configuration); the file still gives the title, the limits and the layout.
    executor, workers, progress: as for `tavo_tools.simulate`.

    The page: the network drawn with the ensemble's attempt heatmap, the success rate with its
    95 % interval, latency and fidelity, the parameters ranked as `tavo_tools.rank` ranks them
    (table and figure), and, when the engine runs the physical model, the key rate against the
    repeaterless bound.
    """
    engine = engine_of(network) if engine is None else engine
    title, fidelity_target, max_latency_ms = _request_of(network, fidelity_target, max_latency_ms)
    base_seed = resolve_seed(seed)
    options: Any = {"executor": executor, "workers": workers, "progress": progress}
    stats = parallel_simulate(
        engine,
        from_node,
        to,
        fidelity_target,
        max_latency_ms,
        runs if precision is None else None,
        strategy,
        base_seed,
        precision=precision,
        max_runs=max_runs,
        **options,
    )
    variant_runs = int(stats.total_runs) if rank_runs is None else rank_runs
    ranking = rank(
        engine,
        from_node,
        to,
        fidelity_target,
        max_latency_ms,
        variant_runs,
        None,
        step,
        base_seed,
        strategy=strategy,
        **options,
    )
    route = [
        str(node)
        for node in engine.request_entanglement(
            from_node, to, fidelity_target, max_latency_ms, strategy
        ).execution_path
    ]

    drawn = network if isinstance(network, (str, os.PathLike, tavo_core.TavoFile)) else engine
    drawing = _figure(lambda ax: plot_network(drawn, stats, ax=ax), (7.0, 5.5))
    sections = [
        _summary(stats, route),
        Section("Network and generation attempts", drawing),
        _ranking_section(ranking, variant_runs, step),
    ]
    if _physics_of(engine) is not None:
        sections.append(_key_rate_section(engine, stats, route))
    request = (
        f"{from_node} \u2192 {to}: fidelity at least {fidelity_target:g} within "
        f"{max_latency_ms:g} ms"
        + ("" if strategy is None else f", strategy {strategy_name(strategy)}")
    )
    footer = (
        f"tavo_core {tavo_core.__version__}, seed {base_seed}, written "
        f"{datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}"
    )
    page = Report(
        title, _page(title, request, sections, footer), stats, ranking, base_seed, sections
    )
    if path is not None:
        page.save(path)
    return page


def _request_of(
    network: Any, fidelity_target: Optional[float], max_latency_ms: Optional[float]
) -> Tuple[str, float, float]:
    """The page's title and the request's limits, missing ones from a file's constraints."""
    title = "Network report"
    constraints = None
    if isinstance(network, tavo_core.TavoFile):
        loaded: Optional[tavo_core.TavoFile] = network
    elif isinstance(network, (str, os.PathLike)):
        loaded = tavo_core.load_tavo_file(os.fspath(network))
    else:
        loaded = None
    if loaded is not None:
        title = str(loaded.metadata.name) or title
        constraints = loaded.constraints
    limits = []
    for value, name in ((fidelity_target, "fidelity_target"), (max_latency_ms, "max_latency_ms")):
        if value is None:
            value = None if constraints is None else getattr(constraints, name)
        if value is None:
            raise ValueError(f"give {name}: the network has no constraints to take it from")
        limits.append(float(value))
    return title, limits[0], limits[1]

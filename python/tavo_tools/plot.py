"""Plots of networks, sensitivity rankings and sweeps (matplotlib; networkx for layouts)."""

from __future__ import annotations

import math
import numbers
import os
from typing import TYPE_CHECKING, Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import tavo_core

from ._network import NetworkSource, is_satellite
from ._optional import missing
from .sweep import describe

if TYPE_CHECKING:
    import pandas
    from matplotlib.axes import Axes

__all__ = ["plot_network", "plot_sensitivity", "plot_sweep", "file_layout"]

# Spring layouts start from random positions: a fixed seed draws the same network the same way.
LAYOUT_SEED = 7

Position = Tuple[float, float]


def _axes(ax: Optional[Axes], labels: Sequence[str] = ()) -> Axes:
    """`ax`, or the axes of a new figure wide enough for the axes to keep their width next to
    tick labels as long as `labels`."""
    try:
        import matplotlib.pyplot as plt
    except ImportError as exc:
        raise missing("matplotlib", "plot", "plotting") from exc
    if ax is None:
        longest = max((len(label) for label in labels), default=0)
        width = max(6.4, 4.5 + 0.08 * longest)  # about 0.08 in per character at 10 pt
        # A constrained layout makes room for tick labels, colour bars and legends.
        _, ax = plt.subplots(figsize=(width, 4.8), layout="constrained")
    return ax


def file_layout(extensions: Any) -> Dict[str, Position]:
    """Node coordinates from a topology file's extensions section.

    The file format leaves `extensions.custom` free; tavo tools read coordinates from
    `{"custom": {"layout": {"node id": [x, y], ...}}}` there. Entries that are not two finite
    numbers are ignored.
    """
    if not isinstance(extensions, Mapping):
        return {}
    custom = extensions.get("custom")
    layout = custom.get("layout") if isinstance(custom, Mapping) else None
    if not isinstance(layout, Mapping):
        return {}
    positions: Dict[str, Position] = {}
    for node, point in layout.items():
        if (
            isinstance(point, (list, tuple))
            and len(point) == 2
            and all(
                isinstance(v, numbers.Real) and not isinstance(v, bool) and math.isfinite(v)
                for v in point
            )
        ):
            positions[str(node)] = (float(point[0]), float(point[1]))
    return positions


def _network_of(
    source: Any,
) -> Tuple[str, List[str], List[Tuple[str, str, bool]], Dict[str, Position]]:
    """Title, node ids, links (from, to, satellite) and file coordinates of what is to be drawn."""
    if isinstance(source, (str, os.PathLike)):
        # Checks the file (RuntimeError when it cannot be loaded); its extensions come with it.
        return _network_of(tavo_core.load_tavo_file(os.fspath(source)))
    if isinstance(source, tavo_core.TavoFile):
        nodes = [str(node.id) for node in source.nodes]
        links = [
            (str(link.src), str(link.to), link.link_type == tavo_core.TavoLinkType.Satellite)
            for link in source.links
        ]
        return str(source.metadata.name), nodes, links, file_layout(source.extensions)
    if isinstance(source, tavo_core.TavoEngine):
        nodes = [str(node.id) for node in source.nodes]
        links = [(str(link.from_node), str(link.to), is_satellite(link)) for link in source.links]
        return "", nodes, links, {}
    raise TypeError(
        f"expected a TavoEngine, a TavoFile or a path to a .tavo file, not {type(source).__name__}"
    )


def _link_attempts(links: List[Tuple[str, str, bool]], heatmap: Mapping[str, int]) -> List[int]:
    # The engine routes over the first link joining two nodes, in either direction, so a hop's
    # attempts belong to that link; later parallel links got none.
    attempts = []
    seen = set()
    for source, target, _ in links:
        pair = frozenset((source, target))
        if pair in seen:
            attempts.append(0)
            continue
        seen.add(pair)
        count = heatmap.get(f"{source}->{target}", 0)
        if source != target:
            count += heatmap.get(f"{target}->{source}", 0)
        attempts.append(int(count))
    return attempts


def plot_network(
    engine_or_file: NetworkSource,
    stats: Optional[tavo_core.MonteCarloStats] = None,
    ax: Optional[Axes] = None,
) -> Axes:
    """Draw the nodes and links of an engine's network or of a topology file.

    Accepts a TavoEngine, a TavoFile, or the path of a .tavo file. Nodes are placed by the file's
    coordinates when it has some for every node (`extensions.custom.layout`, see `file_layout`),
    else by a networkx spring layout with a fixed seed. Satellite links are dashed. With `stats`,
    link widths and colours show the generation attempts of the ensemble's heatmap.

    Artists: one line per link (`ax.lines`, in link order), one scatter of the nodes and one text
    per node label.
    """
    title, nodes, links, coordinates = _network_of(engine_or_file)
    ax = _axes(ax)
    for source, target, _ in links:  # endpoints that are no defined node are still drawn
        for node in (source, target):
            if node not in nodes:
                nodes.append(node)
    if nodes and all(node in coordinates for node in nodes):
        positions = {node: coordinates[node] for node in nodes}
    else:
        try:
            import networkx as nx
        except ImportError as exc:
            raise missing("networkx", "plot", "plot_network") from exc
        graph = nx.Graph()
        graph.add_nodes_from(nodes)
        graph.add_edges_from((source, target) for source, target, _ in links)
        layout = nx.spring_layout(graph, seed=LAYOUT_SEED) if nodes else {}
        positions = {node: (float(layout[node][0]), float(layout[node][1])) for node in nodes}

    import matplotlib as mpl
    from matplotlib.lines import Line2D

    attempts = _link_attempts(links, stats.link_utilization_heatmap) if stats is not None else None
    busiest = max(attempts, default=0) if attempts is not None else 0
    colormap = mpl.colormaps["viridis"]
    for i, (source, target, satellite) in enumerate(links):
        (x0, y0), (x1, y1) = positions[source], positions[target]
        if attempts is not None and busiest > 0:
            share = attempts[i] / busiest
            width, colour = 1.0 + 5.0 * share, colormap(share) if attempts[i] else "lightgrey"
        else:
            width, colour = 2.0, "grey"
        ax.plot(
            [x0, x1],
            [y0, y1],
            linestyle="--" if satellite else "-",
            linewidth=width,
            color=colour,
            zorder=1,
            solid_capstyle="round",
        )
    xs = [positions[node][0] for node in nodes]
    ys = [positions[node][1] for node in nodes]
    ax.scatter(xs, ys, s=80, color="white", edgecolors="black", linewidths=1.5, zorder=2)
    for node, x, y in zip(nodes, xs, ys):
        ax.annotate(
            node,
            (x, y),
            xytext=(0, 9),
            textcoords="offset points",
            ha="center",
            va="bottom",
            fontsize=9,
            zorder=3,
        )

    if attempts is not None and busiest > 0:
        scale = mpl.cm.ScalarMappable(norm=mpl.colors.Normalize(0, busiest), cmap=colormap)
        ax.figure.colorbar(scale, ax=ax, label="Generation attempts per link")
    if any(satellite for _, _, satellite in links):
        ax.legend(
            handles=[
                Line2D([], [], color="grey", linestyle="-", label="fiber"),
                Line2D([], [], color="grey", linestyle="--", label="satellite"),
            ],
            loc="best",
            fontsize=8,
        )
    ax.set_title(title or "Network")
    ax.set_aspect("equal", adjustable="datalim")
    ax.margins(0.15)
    ax.set_axis_off()
    return ax


def plot_sensitivity(
    ranking: Union[pandas.DataFrame, Mapping[str, float]], top: int = 10, ax: Optional[Axes] = None
) -> Axes:
    """Horizontal bars of the `top` largest effects of a ranking, largest at the top.

    A DataFrame from `tavo_tools.rank` gives signed bars (raising the parameter helps: to the
    right; harms: to the left) with their 95 % intervals as whiskers; parameters whose variants
    change the route are marked "(route changes)". The dict of the engine's own
    `MonteCarloStats.sensitivity_analysis` gives bars of its unsigned impacts.
    """
    if isinstance(top, bool) or not isinstance(top, int) or top < 1:
        raise ValueError(f"top must be a positive int, got {top!r}")
    if isinstance(ranking, Mapping):
        return _plot_impacts(ranking, top, ax)
    missing_columns = {"effect", "effect_ci_low", "effect_ci_high"} - set(ranking.columns)
    if missing_columns:
        raise ValueError(
            "expected a ranking of tavo_tools.rank; the frame has no "
            + ", ".join(sorted(missing_columns))
        )
    rows = list(ranking.head(top).itertuples())[::-1]  # largest at the top
    effects = [float(row.effect) for row in rows]
    low = [_whisker(row.effect - row.effect_ci_low) for row in rows]
    high = [_whisker(row.effect_ci_high - row.effect) for row in rows]
    colours = ["tab:blue" if effect >= 0 else "tab:red" for effect in effects]
    changed = [bool(getattr(row, "route_changed", False)) for row in rows]
    labels = [
        describe(str(row.Index)) + (" (route changes)" if moved else "")
        for row, moved in zip(rows, changed)
    ]
    ax = _axes(ax, labels)
    ax.barh(
        range(len(rows)),
        effects,
        xerr=[low, high],
        tick_label=labels,
        color=colours,
        error_kw={"ecolor": "black", "capsize": 3, "linewidth": 1},
    )
    ax.axvline(0.0, color="black", linewidth=0.8)
    step = ranking.attrs.get("step")
    if isinstance(step, float):
        change = f"+{step:.0%} minus \u2212{step:.0%}"
    else:
        change = "raised minus lowered"
    ax.set_xlabel("Change in success rate (95 % interval)")
    ax.set_title(f"Success rate, each parameter {change}")
    return ax


def _whisker(length: float) -> float:
    return 0.0 if math.isnan(length) else max(0.0, float(length))


def _plot_impacts(ranking: Mapping[str, float], top: int, ax: Optional[Axes]) -> Axes:
    entries = sorted(ranking.items(), key=lambda item: -float(item[1]))[:top]
    labels = [describe(str(name)) for name, _ in reversed(entries)]
    impacts = [float(impact) for _, impact in reversed(entries)]
    ax = _axes(ax, labels)
    ax.barh(range(len(entries)), impacts, tick_label=labels, color="tab:blue")
    ax.set_xlabel("Relative change of the success rate")
    ax.set_title(f"Largest {len(entries)} impacts of \u00b110 % changes")
    return ax


def plot_sweep(
    frame: pandas.DataFrame,
    x: str,
    y: str = "success_rate",
    hue: Optional[str] = None,
    ax: Optional[Axes] = None,
) -> Axes:
    """A line of `y` against `x` per value of the column `hue` (one line without hue), from a
    sweep's DataFrame. For the success rate the 95 % Wilson interval is drawn as a band. Axes,
    legend and title name the columns in words with their units ("distance_km:A->B" reads
    "Length A–B (km)")."""
    for column in (x, y) + ((hue,) if hue is not None else ()):
        if column not in frame.columns:
            raise ValueError(
                f"no column {column!r}; the frame has {', '.join(map(str, frame.columns))}"
            )
    band = y == "success_rate" and {"success_ci_low", "success_ci_high"} <= set(frame.columns)
    ax = _axes(ax)
    groups = [(None, frame)] if hue is None else list(frame.groupby(hue, sort=False))
    for value, group in groups:
        group = group.sort_values(x, kind="stable")
        if group[x].duplicated().any():
            raise ValueError(
                f"several rows share a value of {x!r}"
                + ("" if hue is None else f" within one {hue!r}")
                + ": the frame varies another column; pass it as hue or select its rows"
            )
        label = None if hue is None else f"{value:g}" if isinstance(value, float) else str(value)
        (line,) = ax.plot(group[x], group[y], marker="o", label=label)
        if band:
            ax.fill_between(
                group[x],
                group["success_ci_low"],
                group["success_ci_high"],
                color=line.get_color(),
                alpha=0.2,
                linewidth=0,
            )
    ax.set_xlabel(describe(x))
    ax.set_ylabel(describe(y))
    ax.set_title(f"{describe(y)} against {describe(x)}")
    if hue is not None:
        ax.legend(title=describe(hue), fontsize=8, title_fontsize=8)
    return ax

"""Own networks: from and to networkx graphs, and comparisons of several networks on one request."""

from __future__ import annotations

import concurrent.futures as cf
import math
import os
from typing import TYPE_CHECKING, Any, Dict, List, Mapping, Optional, Tuple

import tavo_core

from ._network import NetworkSource, engine_of
from ._optional import missing
from .frames import STAT_COLUMNS, records
from ._shared import real, resolve_seed
from .parallel import simulate as parallel_simulate
from .plot import file_layout

if TYPE_CHECKING:
    import pandas

__all__ = ["from_networkx", "to_networkx", "compare", "COMPARE_COLUMNS"]

NODE_FIELDS = ("memory_lifetime_t2",)
LINK_FIELDS = ("distance_km", "base_fidelity", "generation_rate_hz")
COMPARE_COLUMNS = ("route",) + STAT_COLUMNS


def _networkx() -> Any:
    try:
        import networkx as nx
    except ImportError as exc:
        raise missing("networkx", "plot", "networkx graphs") from exc
    return nx


def _number(value: Any, where: str, name: str) -> float:
    return real(value, f"{where}: {name!r}")


def _value(
    attributes: Mapping[str, Any], defaults: Mapping[str, Any], name: str, where: str, what: str
) -> Any:
    if name in attributes:
        return attributes[name]
    if name in defaults:
        return defaults[name]
    raise ValueError(
        f"{where} has no attribute {name!r}; give it to every {what} or a default in "
        f"{what}_defaults"
    )


def _link_type(value: Any, where: str) -> tavo_core.LinkType:
    if value is None:
        return tavo_core.LinkType.Fiber
    if isinstance(value, tavo_core.LinkType):
        return value
    if isinstance(value, str) and value.lower() in ("fiber", "satellite"):
        member: tavo_core.LinkType = getattr(tavo_core.LinkType, value.capitalize())
        return member
    raise ValueError(
        f"{where}: 'link_type' must be a LinkType, 'fiber' or 'satellite', not {value!r}"
    )


def _conditions(value: Any, where: str) -> Optional[tavo_core.SatelliteConditions]:
    if value is None or isinstance(value, tavo_core.SatelliteConditions):
        return value
    if isinstance(value, Mapping):
        unknown = set(value) - {"visibility", "weather_factor"}
        if unknown:
            raise ValueError(f"{where}: unknown satellite condition {sorted(unknown)[0]!r}")
        return tavo_core.SatelliteConditions(
            *(
                None if value.get(name) is None else _number(value[name], where, name)
                for name in ("visibility", "weather_factor")
            )
        )
    raise TypeError(
        f"{where}: 'satellite_conditions' must be a SatelliteConditions, a dict or None, "
        f"not {value!r}"
    )


def from_networkx(
    graph: Any,
    config: Optional[tavo_core.SimulationConfig] = None,
    *,
    node_defaults: Optional[Mapping[str, Any]] = None,
    link_defaults: Optional[Mapping[str, Any]] = None,
) -> tavo_core.TavoEngine:
    """A new engine whose network is a networkx graph, with `config` (default: the graph's
    "config" attribute, which `to_networkx` writes, else the engine's default configuration).

    Node and edge attributes are named like the fields of `NodeDefinition` and `LinkDefinition`:
    every node needs "memory_lifetime_t2" (s) and every edge "distance_km", "base_fidelity" and
    "generation_rate_hz", each from the graph or from `node_defaults` / `link_defaults`; a value
    missing from both raises ValueError naming the node or edge. "link_type" (a LinkType, or
    "fiber" / "satellite") defaults to fiber and "satellite_conditions" (SatelliteConditions, a
    dict of "visibility" and "weather_factor", or None) to None. Other attributes are ignored.

    Node ids become `str(node)`. Any graph works (directed or not, with parallel edges); an edge
    runs from its "from_node" to its "to" attribute when it has them (as `to_networkx` writes
    them), else in the graph's edge order, and edges with a "link_index" attribute come first, in
    its order (the engine routes over the first of parallel links).
    """
    node_defaults = dict(node_defaults or {})
    link_defaults = dict(link_defaults or {})
    ids: Dict[str, Any] = {}
    nodes = []
    for node, attributes in graph.nodes(data=True):
        name = str(node)
        if name in ids:
            raise ValueError(f"nodes {ids[name]!r} and {node!r} have the same id {name!r}")
        ids[name] = node
        where = f"node {name!r}"
        lifetime = _value(attributes, node_defaults, "memory_lifetime_t2", where, "node")
        nodes.append(
            tavo_core.NodeDefinition(name, _number(lifetime, where, "memory_lifetime_t2"))
        )

    edges: List[Tuple[float, int, tavo_core.LinkDefinition]] = []
    for position, (u, v, attributes) in enumerate(graph.edges(data=True)):
        source, target = str(u), str(v)
        where = f"edge ({source!r}, {target!r})"
        given = (attributes.get("from_node"), attributes.get("to"))
        if given != (None, None):
            if {str(given[0]), str(given[1])} != {source, target}:
                raise ValueError(f"{where}: 'from_node' and 'to' name other nodes: {given!r}")
            source, target = str(given[0]), str(given[1])
        values = [
            _number(_value(attributes, link_defaults, name, where, "link"), where, name)
            for name in LINK_FIELDS
        ]
        link_type = _link_type(attributes.get("link_type", link_defaults.get("link_type")), where)
        conditions = _conditions(
            attributes.get("satellite_conditions", link_defaults.get("satellite_conditions")),
            where,
        )
        index = attributes.get("link_index")
        order = math.inf if index is None else _number(index, where, "link_index")
        distance, fidelity, rate = values
        link = tavo_core.LinkDefinition(
            source, target, distance, fidelity, rate, link_type, conditions
        )
        edges.append((order, position, link))
    edges.sort(key=lambda edge: (edge[0], edge[1]))
    if config is None:
        config = graph.graph.get("config")
    engine = tavo_core.TavoEngine(config)
    engine.define_network(nodes, [link for _, _, link in edges])
    return engine


def to_networkx(source: NetworkSource, *, multigraph: bool = False) -> Any:
    """The network of an engine, a loaded topology file or a path to one as a networkx graph.

    Nodes carry "memory_lifetime_t2"; edges carry every field of their `LinkDefinition`
    ("from_node", "to", "distance_km", "base_fidelity", "generation_rate_hz", "link_type",
    "satellite_conditions") and "link_index", the link's place in the network, so that
    `from_networkx` gives the same network back; the graph carries the engine's "config" (a
    SimulationConfig). From a file, nodes also carry "pos" when the file's extensions place them
    (see `plot.file_layout`) and the graph its "name".

    Links are undirected, so the result is an `nx.Graph`; a network with several links between two
    nodes needs `multigraph=True` (an `nx.MultiGraph`), else ValueError.
    """
    nx = _networkx()
    engine = engine_of(source)
    graph = nx.MultiGraph() if multigraph else nx.Graph()
    graph.graph["config"] = engine.config
    for node in engine.nodes:
        graph.add_node(str(node.id), memory_lifetime_t2=float(node.memory_lifetime_t2))
    for index, link in enumerate(engine.links):
        ends = (str(link.from_node), str(link.to))
        if not multigraph and graph.has_edge(*ends):
            raise ValueError(
                f"the network has several links between {ends[0]!r} and {ends[1]!r}; "
                "pass multigraph=True"
            )
        graph.add_edge(
            *ends,
            from_node=ends[0],
            to=ends[1],
            distance_km=float(link.distance_km),
            base_fidelity=float(link.base_fidelity),
            generation_rate_hz=float(link.generation_rate_hz),
            link_type=link.link_type,
            satellite_conditions=link.satellite_conditions,
            link_index=index,
        )
    if not isinstance(source, tavo_core.TavoEngine):
        loaded = source if isinstance(source, tavo_core.TavoFile) else tavo_core.load(
            os.fspath(source))
        graph.graph["name"] = str(loaded.metadata.name)
        for node_id, position in file_layout(loaded.extensions).items():
            if node_id in graph:
                graph.nodes[node_id]["pos"] = position
    return graph


def _route(
    engine: tavo_core.TavoEngine,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    strategy: Optional[tavo_core.StrategyType],
) -> str:
    path = engine.request_entanglement(from_node, to, fidelity_target, max_latency_ms, strategy)
    return " -> ".join(str(node) for node in path.execution_path)


def compare(
    networks: Mapping[str, NetworkSource],
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    seed: Optional[int] = 0,
    *,
    strategy: Optional[tavo_core.StrategyType] = None,
    executor: Optional[cf.Executor] = None,
    workers: Optional[int] = None,
    progress: bool = False,
) -> pandas.DataFrame:
    """One ensemble of the same request on each network, as a DataFrame indexed by name.

    `networks` maps names to engines, loaded topology files or paths of .tavo files (a file runs
    on the engine `tavo_core.from_tavo_file` builds). Every network runs `runs` trials with the
    same seed (None reads the clock once) through `tavo_tools.simulate`. Columns: "route" (the
    route the request takes, empty when none), "runs", "success_rate", "success_ci_low",
    "success_ci_high" (95 % Wilson interval), "mean_latency_ms", "mean_fidelity",
    "congestion_drops".

    strategy: the routing strategy (default: the engine's); executor, workers, progress: as for
    `tavo_tools.simulate`.
    """
    try:
        import pandas as pd
    except ImportError as exc:
        raise missing("pandas", "frames", "compare") from exc
    if not isinstance(networks, Mapping):
        raise TypeError("networks must be a dict of names to engines, files or paths")
    engines = {str(name): engine_of(source) for name, source in networks.items()}
    base_seed = resolve_seed(seed)
    rows = []
    for name, engine in engines.items():
        stats = parallel_simulate(
            engine,
            from_node,
            to,
            fidelity_target,
            max_latency_ms,
            runs,
            strategy,
            base_seed,
            executor=executor,
            workers=workers,
            progress=progress,
        )
        row = records(stats)[0]
        route = _route(engine, from_node, to, fidelity_target, max_latency_ms, strategy)
        rows.append([route] + [row[column] for column in STAT_COLUMNS])
    frame = pd.DataFrame(rows, columns=list(COMPARE_COLUMNS))
    frame.index = pd.Index(list(engines), name="network")
    return frame

"""An engine's configuration and network as plain definitions, with a request's target and budget.

A `Scenario` is what a variant of an ensemble changes: sweeps and rankings copy one, write the
values of a point into the copy and build an engine from it, on whichever worker runs the point.
It holds tavo_core records only, which pickle, so it crosses process boundaries as it is.
"""

from __future__ import annotations

import copy
import os
import tempfile
from dataclasses import dataclass
from typing import Any, List, Optional, Sequence, Union

import tavo_core

NetworkSource = Union["tavo_core.TavoEngine", "tavo_core.TavoFile", str, "os.PathLike[str]"]


@dataclass
class Scenario:
    config: tavo_core.SimulationConfig
    nodes: List[tavo_core.NodeDefinition]
    links: List[tavo_core.LinkDefinition]
    fidelity_target: float
    max_latency_ms: float

    @classmethod
    def of(
        cls, engine: tavo_core.TavoEngine, fidelity_target: float, max_latency_ms: float
    ) -> Scenario:
        """The engine's configuration and network (copies) with the request's limits."""
        return cls(
            engine.config, engine.nodes, engine.links, float(fidelity_target), float(max_latency_ms)
        )

    def copy(self) -> Scenario:
        """An independent copy: changing its records leaves this one as it is."""
        return copy.deepcopy(self)

    def engine(self) -> tavo_core.TavoEngine:
        """A new engine with this configuration and network."""
        engine = tavo_core.TavoEngine(self.config)
        engine.define_network(self.nodes, self.links)
        return engine

    def simulate(
        self,
        from_node: str,
        to: str,
        runs: int,
        strategy: Optional[tavo_core.StrategyType],
        seed: int,
        engine: Optional[tavo_core.TavoEngine] = None,
    ) -> tavo_core.MonteCarloStats:
        """The ensemble of this scenario's request (on `engine` when it was built already)."""
        engine = self.engine() if engine is None else engine
        return engine.simulate(
            from_node, to, self.fidelity_target, self.max_latency_ms, runs, strategy, seed
        )


def is_satellite(link: tavo_core.LinkDefinition) -> bool:
    return link.link_type == tavo_core.LinkType.Satellite


def route_links(
    engine: tavo_core.TavoEngine, route: Sequence[str]
) -> List[tavo_core.LinkDefinition]:
    """The links a route's hops use: for each pair of consecutive nodes, the first link of the
    network joining them in either direction, as routing takes it."""
    links = engine.links
    used = []
    for a, b in zip(route, route[1:]):
        used.extend(next(([link] for link in links if {link.from_node, link.to} == {a, b}), []))
    return used


def engine_of(source: Any) -> tavo_core.TavoEngine:
    """The engine of an engine (itself), of a loaded topology file or of a path to one; a file
    gives the engine `tavo_core.from_tavo_file` builds, configuration included."""
    if isinstance(source, tavo_core.TavoEngine):
        return source
    if isinstance(source, (str, os.PathLike)):
        return tavo_core.from_tavo_file(os.fspath(source))
    if isinstance(source, tavo_core.TavoFile):
        # The file's configuration section becomes the engine's only through from_tavo_file.
        with tempfile.TemporaryDirectory(prefix="tavo-") as folder:
            path = os.path.join(folder, "network.tavo")
            source.save(path)
            return tavo_core.from_tavo_file(path)
    raise TypeError(
        f"expected a TavoEngine, a TavoFile or a path to a .tavo file, not {type(source).__name__}"
    )

"""An engine's configuration and network as plain definitions, with a request's target and budget.

A `Scenario` is what a variant of an ensemble changes: sweeps and rankings copy one, write the
values of a point into the copy and build an engine from it, on whichever worker runs the point.
It holds tavo_core records only, which pickle, so it crosses process boundaries as it is.
"""

from __future__ import annotations

import copy
from dataclasses import dataclass
from typing import List, Optional

import tavo_core


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

"""Reading an engine's configuration and network through its pickle reduction.

The engine exposes no attributes for its network; its reduction is the one public way to see
what it holds, and this is the only place that knows the reduction's shape.
"""

from __future__ import annotations

from typing import Any, List, Optional, Tuple

import tavo_core

Network = Tuple[List[Any], List[Any]]  # NodeDefinition list, LinkDefinition list


def engine_state(engine: tavo_core.TavoEngine) -> Tuple[Any, Optional[Network]]:
    """Return `(config, network)` of `engine`: its SimulationConfig and, when a network is defined,
    `(nodes, links)` as NodeDefinition and LinkDefinition lists in the network's order (else
    None)."""
    _, (class_name, (config, network)) = engine.__reduce__()
    if class_name != "TavoEngine":
        raise TypeError(f"expected a TavoEngine, got a reduction of {class_name!r}")
    if network is None:
        return config, None
    nodes, links = network
    return config, (list(nodes), list(links))


def is_satellite(link_type: Any) -> bool:
    """Whether a LinkType value read from a link is the satellite kind."""
    # A link's `link_type` attribute is a fresh object that never equals the class members, so its
    # representation is what tells the kind.
    return repr(link_type) == repr(tavo_core.LinkType.Satellite)

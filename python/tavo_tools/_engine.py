"""Reading an engine's configuration and network through its pickle reduction.

The engine exposes no attributes for its network; its reduction is the one public way to see
what it holds, and this is the only place that knows the reduction's shape.
"""

from __future__ import annotations

from typing import Any, Dict, List, Optional, Tuple

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


def model_name(config: Any) -> str:
    """"physical" for a configuration holding a PhysicalModel, "cycle" otherwise."""
    return "cycle" if config.physics is None else "physical"


def model_fields(model: Any) -> Dict[str, Any]:
    """A PhysicalModel's fields as plain values: the scheme by its member name."""
    return {
        "scheme": repr(model.scheme).rpartition(".")[2],
        "detector_efficiency": float(model.detector_efficiency),
        "swap_success": float(model.swap_success),
        "fiber_loss_db_km": float(model.fiber_loss_db_km),
        "satellite_loss_db": float(model.satellite_loss_db),
        "link_cutoff_ms": None if model.link_cutoff_ms is None else float(model.link_cutoff_ms),
    }


def model_from_fields(fields: Dict[str, Any]) -> Any:
    """The PhysicalModel of model_fields' values."""
    values = dict(fields)
    values["scheme"] = getattr(tavo_core.HeraldingScheme, values["scheme"])
    return tavo_core.PhysicalModel(**values)


def with_model(engine: tavo_core.TavoEngine, model: Any) -> tavo_core.TavoEngine:
    """A new engine with `engine`'s configuration and network, playing requests on `model`
    (a PhysicalModel, or None for the cycle model)."""
    config, network = engine_state(engine)
    config.physics = model
    copy = tavo_core.TavoEngine(config)
    if network is not None:
        copy.define_network(*network)
    return copy

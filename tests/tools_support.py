"""Networks and comparisons shared by the tavo_tools tests."""

import math

import tavo_core as tavo

# A chain A - B - C - D whose last hop is a satellite link, and the requests the tests play on it.
# A one-hop route has no entanglement swapping, so its trials depend on their seed alone; routes of
# several hops also draw link losses.
NODES = [("A", 1.0), ("B", 2.0), ("C", 1.5), ("D", 0.5)]
LINKS = [
    ("A", "B", 20.0, 0.97, 1500.0, False),
    ("B", "C", 40.0, 0.95, 1000.0, False),
    ("C", "D", 500.0, 0.93, 400.0, True),
]
ROUTES = {
    "one-hop": ("A", "B", 0.9, 200.0),
    "one-hop-satellite": ("C", "D", 0.9, 400.0),
    "two-hop": ("A", "C", 0.85, 300.0),
    "three-hop": ("A", "D", 0.75, 600.0),
}
ONE_HOP = ["one-hop", "one-hop-satellite"]


def node_definitions(nodes=NODES):
    return [tavo.NodeDefinition(name, t2) for name, t2 in nodes]


def link_definitions(links=LINKS):
    return [
        tavo.LinkDefinition(
            a,
            b,
            d,
            f,
            r,
            tavo.LinkType.Satellite if sat else tavo.LinkType.Fiber,
            tavo.SatelliteConditions(0.9, 0.95) if sat else None,
        )
        for a, b, d, f, r, sat in links
    ]


def chain_engine(nodes=NODES, links=LINKS, config=None):
    engine = tavo.TavoEngine(config)
    engine.define_network(node_definitions(nodes), link_definitions(links))
    return engine


def figures(stats):
    return (
        stats.total_runs,
        stats.empirical_success_rate,
        stats.mean_latency_ms,
        stats.mean_fidelity,
        stats.aggregate_congestion_drops,
        list(stats.link_utilization_heatmap.items()),
    )


def context_fields(context):
    return (
        context.seed,
        context.nodes,
        context.links,
        context.from_node,
        context.to_node,
        context.fidelity_target,
        context.max_latency_ms,
        context.total_time_cutoff_ms,
        context.step_resolution_ms,
        context.baseline_purify_factor,
        repr(context.strategy),
    )


def same_float(a, b):
    return (math.isnan(a) and math.isnan(b)) or math.isclose(a, b, rel_tol=1e-12, abs_tol=0.0)


def assert_same_ensemble(stats, reference):
    """Counts and heatmap (with its key order) exactly, means to 1e-12 relative, same context."""
    runs, rate, latency, fidelity, drops, heatmap = figures(stats)
    ref_runs, ref_rate, ref_latency, ref_fidelity, ref_drops, ref_heatmap = figures(reference)
    assert (runs, drops, heatmap) == (ref_runs, ref_drops, ref_heatmap)
    assert rate == ref_rate or (math.isnan(rate) and math.isnan(ref_rate))
    assert same_float(latency, ref_latency), (latency, ref_latency)
    assert same_float(fidelity, ref_fidelity), (fidelity, ref_fidelity)
    assert context_fields(stats._context) == context_fields(reference._context)


def subprocess_env(**extra):
    """The environment for a child Python that imports the same tavo_core and tavo_tools as this
    process, wherever the child runs."""
    import os

    import tavo_tools

    paths = [os.path.dirname(tavo.__file__), os.path.dirname(os.path.dirname(tavo_tools.__file__))]
    inherited = [
        os.path.abspath(p) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p
    ]
    return dict(os.environ, PYTHONPATH=os.pathsep.join(paths + inherited), **extra)

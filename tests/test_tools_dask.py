"""tavo_tools.simulate and tavo_tools.sweep on a local Dask cluster of two worker processes give the
serial results."""

import pandas as pd
import pytest

import tavo_core as tavo
import tavo_tools
from tools_support import ROUTES, assert_same_ensemble, chain_engine

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def executor():
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
    ) as cluster:
        with distributed.Client(cluster) as client:
            yield client.get_executor()


@pytest.fixture(scope="module")
def engine():
    return chain_engine()


@pytest.fixture(scope="module")
def physical_engine():
    model = tavo.PhysicalModel(swap_success=0.9, link_cutoff_ms=30.0)
    return chain_engine(config=tavo.SimulationConfig(total_time_cutoff_ms=9000.0, physics=model))


@pytest.mark.parametrize("route", ["one-hop", "two-hop"])
@pytest.mark.parametrize("model", ["cycle", "physical"])
def test_simulate_on_the_cluster(executor, engine, physical_engine, route, model):
    chosen = engine if model == "cycle" else physical_engine
    source, target, fidelity, budget = ROUTES[route]
    stats = tavo_tools.simulate(
        chosen, source, target, fidelity, budget, 5000, None, 21, executor=executor, chunk_runs=700
    )
    assert_same_ensemble(stats, chosen.simulate(source, target, fidelity, budget, 5000, None, 21))


@pytest.mark.parametrize("route", ["one-hop-satellite", "three-hop"])
def test_sweep_on_the_cluster(executor, engine, route):
    source, target, fidelity, budget = ROUTES[route]
    vary = {"distance_km:C->D": [100.0, 600.0], "memory_lifetime_t2:A": [0.5, 5.0]}
    serial = tavo_tools.sweep(
        engine, source, target, fidelity, budget, 400, vary, seed=8, workers=1
    )
    distributed_frame = tavo_tools.sweep(
        engine, source, target, fidelity, budget, 400, vary, seed=8, executor=executor
    )
    pd.testing.assert_frame_equal(distributed_frame, serial)

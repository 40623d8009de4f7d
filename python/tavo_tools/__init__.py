"""Tools on top of the tavo_core engine: parallel and distributed ensembles, parameter sweeps,
results as data frames, plots and the `tavo` command line.

pandas, matplotlib with networkx, tqdm and Dask are optional; each is imported only by the
functions that need it (extras "frames", "plot", "progress", "dask").
"""

from __future__ import annotations

from .frames import records, success_interval, to_frame
from .networks import compare, from_networkx, to_networkx
from .parallel import simulate
from .plot import plot_network, plot_sensitivity, plot_sweep
from .rank import rank
from .rates import key_rate, repeaterless_bound, repeaterless_key_rate
from .report import Report, report
from .sweep import parameter_keys, sweep

__all__ = [
    "key_rate",
    "compare",
    "from_networkx",
    "to_networkx",
    "plot_network",
    "plot_sensitivity",
    "plot_sweep",
    "parameter_keys",
    "rank",
    "report",
    "Report",
    "records",
    "repeaterless_bound",
    "repeaterless_key_rate",
    "simulate",
    "success_interval",
    "sweep",
    "to_frame",
]

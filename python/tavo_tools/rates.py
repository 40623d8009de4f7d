"""Key rates: what an ensemble's delivered pairs are worth to BB84, and the bound no chain without
repeaters can beat."""

from __future__ import annotations

import math
from typing import Any

from ._shared import real

__all__ = ["binary_entropy", "key_rate", "repeaterless_bound", "repeaterless_key_rate"]


def binary_entropy(p: float) -> float:
    """h(p) = -p log2 p - (1 - p) log2 (1 - p), with h(0) = h(1) = 0."""
    if p <= 0.0 or p >= 1.0:
        return 0.0
    return -p * math.log2(p) - (1.0 - p) * math.log2(1.0 - p)


def key_rate(stats: Any) -> float:
    """Asymptotic BB84 secret key bits per second of simulated time delivered by an ensemble.

    Pairs arrive at success_rate / mean_latency_ms per ms (each trial delivers at most one pair,
    and the mean latency counts failed trials at their limit). Each pair is read as a Werner state
    of the ensemble's mean fidelity F: w = (4F - 1)/3, QBER e = (1 - w)/2, and the secret fraction
    of BB84 with one-way post-processing is 1 - 2 h(e) (bases chosen with a bias, so sifting costs
    nothing asymptotically). 0.0 when that fraction is not positive or nothing was delivered.

    stats: a MonteCarloStats (or anything with empirical_success_rate, mean_latency_ms and
        mean_fidelity).
    """
    rate = float(stats.empirical_success_rate)
    latency = float(stats.mean_latency_ms)
    fidelity = float(stats.mean_fidelity)
    if not (rate > 0.0 and latency > 0.0 and math.isfinite(latency)):
        return 0.0
    werner = (4.0 * fidelity - 1.0) / 3.0
    error = (1.0 - werner) / 2.0
    fraction = 1.0 - 2.0 * binary_entropy(error)
    if not fraction > 0.0:
        return 0.0
    return 1000.0 * rate / latency * fraction


def repeaterless_bound(distance_km: float, fiber_loss_db_km: float = 0.2) -> float:
    """The most secret key bits per channel use that a fiber of this length can carry without
    repeaters: -log2(1 - eta) with eta = 10^(-fiber_loss_db_km * distance_km / 10) (Pirandola,
    Laurenza, Ottaviani and Banchi 2017); about 1.44 eta for long fibers.

    distance_km: length in km, at least 0. fiber_loss_db_km: attenuation in dB/km, at least 0.
    """
    for name, value in (("distance_km", distance_km), ("fiber_loss_db_km", fiber_loss_db_km)):
        if not real(value, name) >= 0.0:
            raise ValueError(f"{name} must be at least 0, got {value!r}")
    eta = 10.0 ** (-float(fiber_loss_db_km) * float(distance_km) / 10.0)
    # log1p keeps the long fibers' tiny eta exact, where 1 - eta would round.
    return -math.log1p(-eta) / math.log(2.0) if eta < 1.0 else math.inf


def repeaterless_key_rate(
    distance_km: float,
    generation_rate_hz: float,
    fiber_loss_db_km: float = 0.2,
    speed_of_light_km_ms: float = 200.0,
) -> float:
    """The repeaterless bound in secret bits per second, the unit of key_rate: the bits per
    channel use of a direct fiber of this length (repeaterless_bound) times the uses per second of
    such a fiber, one per max(1 / generation_rate_hz, 2 * distance_km / speed) as the physical
    model's direct heralding has them.

    generation_rate_hz: the source's rate in Hz, above 0. speed_of_light_km_ms: the signal speed
        in the fiber in km/ms, above 0.
    """
    for name, value in (("generation_rate_hz", generation_rate_hz),
                        ("speed_of_light_km_ms", speed_of_light_km_ms)):
        if not real(value, name) > 0.0:
            raise ValueError(f"{name} must be above 0, got {value!r}")
    per_use = repeaterless_bound(distance_km, fiber_loss_db_km)
    period_ms = max(1000.0 / float(generation_rate_hz), 2.0 * float(distance_km) / float(speed_of_light_km_ms))
    return per_use * 1000.0 / period_ms

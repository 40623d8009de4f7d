"""A plain-Python model of one played-out entanglement request on a given route, and of an ensemble
of seeded trials, used as an oracle by the simulation tests. The route itself is an input: the
callers choose networks whose route is known.

Links are tuples (from, to, distance_km, base_fidelity, generation_rate_hz). The loss draw of the
event runtime is a callable (a, b, t) -> r; an event is lost when r < 0.1.
"""

import math
from dataclasses import dataclass, field

from chacha_model import MASK64, Generator

CYCLE_MS = 2.5
PURIFICATION_MS = 0.85
LOSS_SHARE = 0.1


def purify(F, b):
    a = ((1.0 - F) * (1.0 - F)) / 9.0
    c = ((F + F) * (1.0 - F)) / 3.0
    n = F * F + a
    d = (c + F * F) + a
    if not d > 0.0:
        return 0.5
    return min(0.999, n / d + b)


def link_success_probability(distance_km, base_fidelity, target):
    x = distance_km / 100.0
    y = x / (x + 1.0)
    q = (target - base_fidelity) * 0.3 if base_fidelity < target else 0.0
    p = 1.0 - 0.45 * (y * y) - q
    return min(max(p, 0.5), 0.98)


def joining_link(links, a, b):
    for link in links:
        if (link[0], link[1]) == (a, b) or (link[1], link[0]) == (a, b):
            return link
    return None


@dataclass
class Config:
    purify_factor: float = 0.12
    speed: float = 200.0
    cutoff: float = 5000.0


@dataclass
class Trial:
    success: bool
    latency_ms: float
    final_fidelity: float
    path: list
    drops: int = 0
    firings: dict = field(default_factory=dict)


def never_lost(a, b, t):
    return 0.5


def play(links, path, target, limit, config, rng, loss=never_lost):
    """One request along `path` (source first). The caller has done the routing, including the
    fallback of fidelity-first routes."""
    b = config.purify_factor
    hops = list(zip(path, path[1:]))
    hop_links = [joining_link(links, x, y) for x, y in hops]
    route_fidelity = 1.0
    for link in hop_links:
        route_fidelity *= link[3]

    if target > route_fidelity and target > purify(route_fidelity, b):
        return Trial(False, 0.0, 0.0, path)
    propagation = 0.0
    for link in hop_links:
        propagation += (link[2] if link else 0.0) / config.speed
    if propagation > limit:
        return Trial(False, propagation, 0.0, path)
    if not limit > 0.0 or not config.cutoff > 0.0:
        return Trial(False, 0.0, 0.0, path)

    t = 0.0
    F = route_fidelity
    drops = 0
    firings = {}
    queue = []
    completed = []
    while True:
        for (x, y), link in zip(hops, hop_links):
            key = f"{x}->{y}"
            firings[key] = firings.get(key, 0) + 1
            p = link_success_probability(link[2], link[3], target) if link else 0.0
            if rng.inclusive() < p:
                queue.append((x, y, link[3], t))
            else:
                drops += 1
        due = [event for event in queue if event[3] <= t]
        queue = [event for event in queue if event[3] > t]
        for x, y, fidelity, when in due:
            if not loss(x, y, when) < LOSS_SHARE:
                completed.append((x, y, fidelity))
        if drops != 0:
            completed = []
        else:
            ready = {}
            for x, y, fidelity in completed:
                ready[tuple(sorted((x, y)))] = fidelity
            if len(path) >= 3 and all(tuple(sorted(hop)) in ready for hop in hops):
                F = 1.0
                for hop in hops:
                    F *= ready.get(tuple(sorted(hop)), 1.0)
                for _ in range(len(path) - 2):
                    F = purify(F, b)
            completed = []
            if target > F and F > 0.5:
                t += PURIFICATION_MS
                F = purify(F, b)
            if F >= target:
                return Trial(True, t, F, path, drops, firings)
            if t >= limit:
                return Trial(False, t, 0.0, path, drops, firings)
        t += CYCLE_MS
        if not (limit > t and config.cutoff > t):
            return Trial(False, t, 0.0, path, drops, firings)


@dataclass
class Ensemble:
    total_runs: int
    empirical_success_rate: float
    mean_latency_ms: float
    mean_fidelity: float
    aggregate_congestion_drops: int
    link_utilization_heatmap: dict
    trials: list


class StreamLoss:
    """The loss draws of a seeded trial: one half-open draw per processed event from the trial's key
    on stream 1 (its link attempts use stream 0)."""

    def __init__(self, seed):
        self.generator = Generator.seeded(seed, stream=1)

    def __call__(self, a, b, t):
        return self.generator.half_open()


class CompensatedSum:
    """Neumaier's compensated summation, as the library sums an ensemble's latencies and
    fidelities."""

    def __init__(self):
        self.sum = 0.0
        self.compensation = 0.0

    def add(self, value):
        total = self.sum + value
        if abs(self.sum) >= abs(value):
            self.compensation += (self.sum - total) + value
        else:
            self.compensation += (value - total) + self.sum
        self.sum = total

    def value(self):
        return self.sum + self.compensation


def compensated_sum(values):
    total = CompensatedSum()
    for value in values:
        total.add(value)
    return total.value()


def ensemble(links, path, target, limit, runs, seed, config, loss=never_lost):
    """`loss` is a loss draw shared by all trials, or "stream" for each trial's own loss stream, as
    the library's ensembles draw them."""
    successes = 0
    latency_sum = CompensatedSum()
    fidelity_sum = CompensatedSum()
    drops = 0
    heatmap = {}
    trials = []
    for i in range(runs):
        trial_seed = (seed + i) & MASK64
        trial_loss = StreamLoss(trial_seed) if loss == "stream" else loss
        trial = play(links, path, target, limit, config, Generator.seeded(trial_seed), trial_loss)
        trials.append(trial)
        if trial.success:
            fidelity_sum.add(trial.final_fidelity)
            successes += 1
        latency_sum.add(trial.latency_ms)
        drops += trial.drops
        for key, count in trial.firings.items():
            heatmap[key] = heatmap.get(key, 0) + count
    rate = successes / runs if runs else math.nan
    mean_latency = latency_sum.value() / runs if runs else math.nan
    mean_fidelity = fidelity_sum.value() / successes if successes else 0.0
    return Ensemble(runs, rate, mean_latency, mean_fidelity, drops, heatmap, trials)


class LossInCycles:
    """A loss draw that loses the first event of the chosen cycles (counted from 0 in order of
    their event times) and keeps every other event."""

    def __init__(self, cycles):
        self.cycles = set(cycles)
        self.times = []

    def __call__(self, a, b, t):
        if t not in self.times:
            self.times.append(t)
            if len(self.times) - 1 in self.cycles:
                return 0.0
        return 0.5


def possible_outcomes(links, path, target, limit, config, make_rng, cycles):
    """Every (success, latency_ms, final_fidelity) a request can end with when losses may strike in
    any of its first `cycles` cycles and in no later one."""
    outcomes = set()
    for mask in range(1 << cycles):
        chosen = [k for k in range(cycles) if mask >> k & 1]
        trial = play(links, path, target, limit, config, make_rng(), LossInCycles(chosen))
        outcomes.add((trial.success, trial.latency_ms, trial.final_fidelity))
    return outcomes

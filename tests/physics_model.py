"""An independent model of the physical trial, written from its description rather than from the
engine's code: pairs are objects carrying their Werner parameter, decayed step by step between
events, and the generator is the pure-Python ChaCha12 model of chacha_model.py.

`Network` describes a chain of nodes and links and the model's settings; `play(network, seed)`
plays the trial of that seed and returns every draw it makes and its outcome, in the form the
core probe's physical-trials command prints them."""

import math
from dataclasses import dataclass, field
from fractions import Fraction
from typing import List, Optional

from chacha_model import Generator

VACUUM_KM_MS = 299.792458


@dataclass
class Link:
    distance_km: float
    fidelity: float
    rate_hz: float
    satellite: bool = False
    visibility: float = 1.0
    weather: float = 1.0


@dataclass
class Network:
    """A chain of len(links) + 1 nodes N0, N1, ... with their T2 in seconds, requested end to end."""
    t2: List[float]
    links: List[Link]
    target: float
    max_latency_ms: float
    midpoint: bool = False
    detector: float = 1.0
    swap: float = 1.0
    fiber_loss: float = 0.2
    satellite_loss: float = 30.0
    cutoff_ms: Optional[float] = None
    speed_km_ms: float = 200.0
    total_cutoff_ms: float = 1e9

    def probe_input(self, seed, count):
        """The description the probe's physical-trials command reads."""
        cutoff = "none" if self.cutoff_ms is None else repr(self.cutoff_ms)
        lines = [
            f"model {'midpoint' if self.midpoint else 'direct'} {self.detector!r} {self.swap!r} "
            f"{self.fiber_loss!r} {self.satellite_loss!r} {cutoff}",
            f"config {self.speed_km_ms!r} {self.total_cutoff_ms!r}",
        ]
        lines += [f"node N{i} {t2!r}" for i, t2 in enumerate(self.t2)]
        for i, link in enumerate(self.links):
            kind = "satellite" if link.satellite else "fiber"
            line = (f"link N{i} N{i + 1} {link.distance_km!r} {link.fidelity!r} "
                    f"{link.rate_hz!r} {kind}")
            if link.satellite:
                line += f" {link.visibility!r} {link.weather!r}"
            lines.append(line)
        lines.append(f"request N0 N{len(self.links)} {self.target!r} {self.max_latency_ms!r}")
        lines.append(f"trials {seed} {count}")
        return "\n".join(lines) + "\n"

    # What each hop is, from the physics of the link.
    def transmission(self, link):
        if link.satellite:
            loss = self.satellite_loss + 20 * math.log10(max(link.distance_km, 1.0) / 1000)
            return link.visibility * link.weather * min(1.0, 10 ** (-loss / 10))
        return 10 ** (-self.fiber_loss * link.distance_km / 10)

    def success_probability(self, link):
        eta = self.transmission(link)
        return 0.5 * self.detector ** 2 * eta if self.midpoint else self.detector * eta

    def speed(self, link):
        return VACUUM_KM_MS if link.satellite else self.speed_km_ms

    def period(self, link):
        one_way = link.distance_km / self.speed(link)
        return max(1000 / link.rate_hz, one_way if self.midpoint else 2 * one_way)

    def propagation(self):
        return sum(link.distance_km / self.speed(link) for link in self.links)


@dataclass
class Pair:
    left: int
    right: int
    werner: float
    at: float      # the time `werner` holds for
    oldest: float  # heralding time of its oldest fresh part


@dataclass
class Trial:
    draws: list = field(default_factory=list)
    success: bool = False
    latency: float = 0.0
    fidelity: float = 0.0
    drops: int = 0
    attempts: list = field(default_factory=list)


def begun_before(start, period, end):
    """Attempts at start, start + period, ... begun strictly before `end`, in exact arithmetic."""
    if not end > start:
        return 0
    if math.isinf(period):
        return 1
    return math.ceil((Fraction(end) - Fraction(start)) / Fraction(period))


def play(net: Network, seed: int, generator=None) -> Trial:
    rng = generator or Generator.seeded(seed)
    hops = len(net.links)
    p = [net.success_probability(link) for link in net.links]
    tau = [net.period(link) for link in net.links]
    rate = [1 / (1000 * t2) for t2 in net.t2]  # per ms
    t_prop = net.propagation()
    limit = min(net.max_latency_ms, net.total_cutoff_ms)
    out = Trial(attempts=[0] * hops)

    generating = {}  # hop -> (start, attempts N, herald time)
    pairs: List[Pair] = []

    def age(pair, t):
        pair.werner *= math.exp(-(t - pair.at) * (rate[pair.left] + rate[pair.right]))
        pair.at = t

    def start(hop, t):
        x = rng.next_u64()
        u = ((x >> 11) + 1) / 2**53
        n = math.inf if p[hop] <= 0 else 1 + math.floor(math.log(u) / math.log1p(-p[hop]))
        generating[hop] = (t, n, t + n * tau[hop])
        out.draws.append(("hop", hop, t, x, float(n)))

    def restart(left, right, t):
        for hop in range(left, right):
            start(hop, t)

    def fail():
        for hop, (begun, n, _) in sorted(generating.items()):
            count = min(begun_before(begun, tau[hop], limit), n)
            out.attempts[hop] += count
            out.drops += count - (1 if 0 < count == n else 0)
        out.success, out.latency, out.fidelity = False, limit, 0.0
        return out

    kept = None  # (werner, time) of the end-to-end pair kept for purification
    restart(0, hops, 0.0)
    while True:
        times = [ready for (_, _, ready) in generating.values()]
        if net.cutoff_ms is not None:
            times += [pair.oldest + net.cutoff_ms for pair in pairs]
        now = min(times, default=math.inf)
        if not now <= limit:
            return fail()
        for hop in sorted(generating):
            begun, n, ready = generating[hop]
            if ready == now:
                del generating[hop]
                out.attempts[hop] += n
                out.drops += n - 1
                w0 = (4 * net.links[hop].fidelity - 1) / 3
                pairs.append(Pair(hop, hop + 1, w0, now, now))
        pairs.sort(key=lambda pair: pair.left)

        # Runs of adjacent pairs swap, run by run along the path.
        runs, remaining = [], []
        for pair in pairs:
            if runs and runs[-1][-1].right == pair.left:
                runs[-1].append(pair)
            else:
                runs.append([pair])
        for run in runs:
            if len(run) == 1:
                remaining.append(run[0])
                continue
            ok = True
            if net.swap < 1:
                for pair in run[1:]:
                    x = rng.next_u64()
                    success = (x >> 11) / 2**53 < net.swap
                    out.draws.append(("swap", pair.left, now, x, success))
                    ok = ok and success
            if not ok:
                restart(run[0].left, run[-1].right, now)
                continue
            for pair in run:
                age(pair, now)
            werner = math.prod(pair.werner for pair in run)
            remaining.append(Pair(run[0].left, run[-1].right, werner, now,
                                  min(pair.oldest for pair in run)))
        pairs = remaining

        whole = [pair for pair in pairs if (pair.left, pair.right) == (0, hops)]
        if not whole:
            if net.cutoff_ms is not None:
                for pair in list(pairs):
                    if pair.oldest + net.cutoff_ms <= now:
                        pairs.remove(pair)
                        restart(pair.left, pair.right, now)
            continue

        pair = whole[0]
        pairs = []
        delivered = now + (t_prop if hops > 1 else 0.0)
        if not delivered <= limit:
            return fail()
        age(pair, delivered)
        fidelity = (1 + 3 * pair.werner) / 4
        if kept is None:
            if fidelity >= net.target:
                out.success, out.latency, out.fidelity = True, delivered, fidelity
                return out
            kept = (pair.werner, delivered)
            restart(0, hops, delivered)
            continue
        older = Pair(0, hops, kept[0], kept[1], 0.0)
        age(older, delivered)
        f1, f2 = (1 + 3 * older.werner) / 4, fidelity
        success_probability = (f1 * f2 + f1 * (1 - f2) / 3 + f2 * (1 - f1) / 3
                               + 5 * (1 - f1) * (1 - f2) / 9)
        purified = (f1 * f2 + (1 - f1) * (1 - f2) / 9) / success_probability
        known = delivered + t_prop
        if not known <= limit:
            return fail()
        x = rng.next_u64()
        success = (x >> 11) / 2**53 < success_probability
        out.draws.append(("purify", known, x, success))
        kept = None
        if success:
            result = Pair(0, hops, (4 * purified - 1) / 3, delivered, 0.0)
            age(result, known)
            fidelity = (1 + 3 * result.werner) / 4
            if fidelity >= net.target:
                out.success, out.latency, out.fidelity = True, known, fidelity
                return out
            kept = (result.werner, known)
        restart(0, hops, known)


def parse_probe(text):
    """The trials the probe printed, as Trial objects, and the route and ensemble lines."""
    trials, route, ensemble = [], None, None
    for line in text.splitlines():
        words = line.split()
        if words[0] == "trial":
            trials.append(Trial())
        elif words[0] == "hop":
            trials[-1].draws.append(("hop", int(words[1]), float.fromhex(words[2]),
                                     int(words[3], 16), float.fromhex(words[4])))
        elif words[0] == "swap":
            trials[-1].draws.append(("swap", int(words[1]), float.fromhex(words[2]),
                                     int(words[3], 16), words[4] == "1"))
        elif words[0] == "purify":
            trials[-1].draws.append(("purify", float.fromhex(words[1]), int(words[2], 16),
                                     words[3] == "1"))
        elif words[0] == "outcome":
            trial = trials[-1]
            trial.success = words[1] == "1"
            trial.latency = float.fromhex(words[2])
            trial.fidelity = float.fromhex(words[3])
            trial.drops = int(words[4])
            trial.attempts = [int(w) for w in words[5:]]
        elif words[0] == "route":
            route = words[1].split(",") if len(words) > 1 else []
        elif words[0] == "ensemble":
            ensemble = words[1]
        elif words[0] == "refused":
            return line, None, None
    return trials, route, ensemble

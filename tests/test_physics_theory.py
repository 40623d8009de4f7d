"""The physical model against the closed forms of the repeater literature.

Every check runs a seeded ensemble and compares its mean with the closed form; each tolerance is
stated in standard errors of that mean, computed from the exact variance of the quantity (worked
out here independently of the formula under test, from the distributions it is built on), and is
at least 4 of them. With fixed seeds the checks are reproducible; a model that is off by more than
a few standard errors fails them."""

import math

import pytest

import tavo_core

# Fiber at 0.2 dB/km; at 50 km the transmission is 0.1.
ALPHA = 0.2
SPEED = 200.0  # km/ms


def chain(lengths, *, fidelity=0.95, rate=1e4, t2=math.inf, model=None, cutoff=1e9,
          satellite=None):
    """An engine on the physical model over a chain N0 - N1 - ... with the given link lengths."""
    model = model or tavo_core.PhysicalModel()
    config = tavo_core.SimulationConfig(total_time_cutoff_ms=cutoff, physics=model)
    engine = tavo_core.TavoEngine(config)
    nodes = [tavo_core.NodeDefinition(f"N{i}", t2) for i in range(len(lengths) + 1)]
    links = []
    for i, length in enumerate(lengths):
        if satellite is not None:
            links.append(tavo_core.LinkDefinition(
                f"N{i}", f"N{i + 1}", length, fidelity, rate, tavo_core.LinkType.Satellite,
                tavo_core.SatelliteConditions(*satellite)))
        else:
            links.append(tavo_core.LinkDefinition(f"N{i}", f"N{i + 1}", length, fidelity, rate))
    engine.define_network(nodes, links)
    return engine


def run(engine, hops, runs, *, target=0.5, limit=1e9, seed=7):
    return engine.simulate("N0", f"N{hops}", target, limit, runs, seed=seed)


def within(value, expected, standard_error, k=5.0):
    assert standard_error > 0
    assert abs(value - expected) <= k * standard_error, (
        f"{value} differs from {expected} by {abs(value - expected) / standard_error:.1f} SE")


def geometric_moments(p):
    """Mean and variance of the index of the first success, success probability p."""
    return 1 / p, (1 - p) / p**2


def max_of_geometrics(p, n):
    """Mean and variance of the largest of n independent such indices, summed from
    P(max <= k) = (1 - q^k)^n until the tail is negligible."""
    q = 1 - p
    mean = second = 0.0
    k = 0
    while True:
        tail = 1 - (1 - q**k) ** n  # P(max > k)
        if tail < 1e-17:
            break
        mean += tail                 # E[M] = sum_k P(M > k)
        second += (2 * k + 1) * tail  # E[M^2] = sum_k (2k + 1) P(M > k)
        k += 1
    return mean, second - mean**2


# --- one hop ---------------------------------------------------------------------------------


@pytest.mark.parametrize("length, rate, scheme", [
    (50.0, 1e4, "Direct"),    # heralding-bound: tau = 2L/c = 0.5 ms > 1000/R = 0.1 ms
    (50.0, 500.0, "Direct"),  # rate-bound: tau = 1000/R = 2 ms
    (80.0, 1e4, "Midpoint"),  # heralding-bound at the station: tau = L/c = 0.4 ms
    (20.0, 250.0, "Midpoint"),  # rate-bound: 4 ms
])
def test_one_hop_latency_attempts_and_fidelity(length, rate, scheme):
    detector = 0.8
    model = tavo_core.PhysicalModel(scheme=getattr(tavo_core.HeraldingScheme, scheme),
                                    detector_efficiency=detector)
    eta = 10 ** (-ALPHA * length / 10)
    if scheme == "Direct":
        p, heralding = detector * eta, 2 * length / SPEED
    else:
        p, heralding = 0.5 * detector**2 * eta, length / SPEED
    tau = max(1000 / rate, heralding)
    runs = 400_000
    stats = run(chain([length], fidelity=0.9, rate=rate, t2=0.01, model=model), 1, runs)
    mean, variance = geometric_moments(p)
    attempts_se = math.sqrt(variance / runs)  # of the mean index N
    within(stats.link_utilization_heatmap["N0->N1"] / runs, mean, attempts_se)
    within(stats.mean_latency_ms, tau * mean, tau * attempts_se)  # latency N tau
    assert stats.aggregate_congestion_drops == stats.link_utilization_heatmap["N0->N1"] - runs
    # A fresh pair does not decay while heralded: one hop delivers F0 whatever the memories.
    assert stats.empirical_success_rate == 1.0
    assert stats.mean_fidelity == pytest.approx(0.9, rel=1e-15)


@pytest.mark.parametrize("length, runs", [(500.0, 50_000), (1000.0, 50_000)])
def test_hopeless_hops_cost_one_draw(length, runs):
    """p = 1e-10 and 1e-20: the mean latency is still tau / p (one geometric draw per hop; the
    benchmarks compare its cost with a short hop's)."""
    p = 10 ** (-ALPHA * length / 10)
    tau = 2 * length / SPEED
    mean, variance = geometric_moments(p)
    stats = run(chain([length], cutoff=1e40), 1, runs, limit=1e40)
    assert stats.empirical_success_rate == 1.0
    within(stats.mean_latency_ms, tau * mean, tau * math.sqrt(variance / runs))


@pytest.mark.parametrize("visibility, weather, length", [(1.0, 1.0, 1000.0), (0.5, 0.8, 2000.0),
                                                         (0.9, 0.3, 500.0)])
def test_satellite_transmission(visibility, weather, length):
    """Loss of 30 dB at 1000 km, growing with the square of the distance, scaled by visibility and
    weather; signals at the speed of light in vacuum."""
    eta = visibility * weather * min(1.0, 10 ** (-(30 + 20 * math.log10(length / 1000)) / 10))
    tau = max(1000 / 1e4, 2 * length / 299.792458)
    runs = 200_000
    stats = run(chain([length], satellite=(visibility, weather)), 1, runs)
    mean, variance = geometric_moments(eta)
    se = math.sqrt(variance / runs)
    within(stats.link_utilization_heatmap["N0->N1"] / runs, mean, se)
    within(stats.mean_latency_ms, tau * mean, tau * se)


# --- chains ----------------------------------------------------------------------------------


@pytest.mark.parametrize("hops", [2, 3, 5, 8])
def test_waiting_time_of_a_chain(hops):
    """n alike hops, perfect swaps, ideal memories: E[max of n geometric indices] tau + t_prop,
    E[max] = sum_j (-1)^(j+1) C(n, j) / (1 - q^j)."""
    p, tau, t_prop = 0.1, 0.5, hops * 50 / SPEED
    q = 1 - p
    closed = sum((-1) ** (j + 1) * math.comb(hops, j) / (1 - q**j) for j in range(1, hops + 1))
    if hops == 2:
        assert closed == pytest.approx((3 - 2 * p) / (p * (2 - p)))
    runs = 400_000
    stats = run(chain([50.0] * hops), hops, runs)
    _, variance = max_of_geometrics(p, hops)
    within(stats.mean_latency_ms, tau * closed + t_prop, tau * math.sqrt(variance / runs))
    assert stats.empirical_success_rate == 1.0


@pytest.mark.parametrize("swap", [0.5, 0.9])
def test_failed_swaps(swap):
    """Two alike hops whose swap succeeds with probability a: both pairs are lost on failure and
    both hops start again, so the waiting time is that of 1/a rounds: tau(3 - 2p)/(a p(2 - p))."""
    p, tau, t_prop = 0.1, 0.5, 0.5
    runs = 400_000
    model = tavo_core.PhysicalModel(swap_success=swap)
    stats = run(chain([50.0, 50.0], model=model), 2, runs)
    closed = tau * (3 - 2 * p) / (swap * p * (2 - p)) + t_prop
    # A geometric number K of rounds (mean 1/a, variance (1-a)/a^2), each the larger of two
    # indices times tau: Var = E[K] Var(round) + Var(K) E[round]^2.
    mean_max, var_max = max_of_geometrics(p, 2)
    variance = tau**2 * (var_max / swap + (1 - swap) / swap**2 * mean_max**2)
    within(stats.mean_latency_ms, closed, math.sqrt(variance / runs))


def two_hop_decay(p, x):
    """E[x^D] for D = |N1 - N2|, the difference of two independent geometric indices."""
    q = 1 - p
    return p * (1 + q * x) / ((2 - p) * (1 - q * x))


@pytest.mark.parametrize("t2", [1.0, 0.1])
def test_two_hop_fidelity_with_memories(t2):
    """The pair heralded first waits |N1 - N2| tau at both of its nodes, and the swapped pair waits
    t_prop at both ends: E[w] = w0^2 e^(-2 t_prop / T2) p(1 + qx)/((2 - p)(1 - qx)), x = e^(-2 tau
    / T2)."""
    p, f0 = 0.1, 0.95
    tau, t_prop = 0.5e-3, 0.5e-3  # seconds
    w0 = (4 * f0 - 1) / 3
    x = math.exp(-2 * tau / t2)
    scale = w0**2 * math.exp(-2 * t_prop / t2)
    expected_w = scale * two_hop_decay(p, x)
    runs = 400_000
    stats = run(chain([50.0, 50.0], fidelity=f0, t2=t2), 2, runs, target=0.25)
    assert stats.empirical_success_rate == 1.0
    # Var(w) = scale^2 E[x^(2D)] - E[w]^2; the fidelity is (1 + 3w)/4.
    variance = scale**2 * two_hop_decay(p, x * x) - expected_w**2
    within(stats.mean_fidelity, (1 + 3 * expected_w) / 4, 0.75 * math.sqrt(variance / runs))


def cutoff_cycle_moments(p, m):
    """The renewal structure of two alike hops with a cutoff of m attempt periods: a cycle starts
    with both hops fresh; the first pair heralds after A ~ Geom(1 - q^2) periods, the other after a
    further D periods, independent of A (P(D = 0) = p/(2 - p), P(D = d) = 2p q^d/(2 - p)); the cycle
    fails when D > m, after A + m periods. Returns P(fail), the mean and variance of a failed
    cycle's length and of a successful one's, and the distribution of D given success."""
    q = 1 - p
    a_mean, a_var = geometric_moments(1 - q * q)
    fail = 2 * q ** (m + 1) / (2 - p)
    d = {0: p / (2 - p)}
    d.update({k: 2 * p * q**k / (2 - p) for k in range(1, m + 1)})
    total = sum(d.values())
    d = {k: v / total for k, v in d.items()}
    d_mean = sum(k * v for k, v in d.items())
    d_var = sum(k * k * v for k, v in d.items()) - d_mean**2
    return fail, (a_mean + m, a_var), (a_mean + d_mean, a_var + d_var), d


@pytest.mark.parametrize("m, t2", [(1, 1.0), (4, 0.1), (12, 0.05)])
def test_cutoff(m, t2):
    """Two alike hops with a cutoff of m tau and memories T2: P1 = 2q/(1 + q),
    latency tau[1/(1 - q^2) + P1(1 - q^m)/p]/(1 - P1 q^m) + t_prop, and
    E[w] = w0^2 e^(-2 t_prop/T2) [p/(2 - p) + P1 p sum_{d=1..m} q^(d-1) x^d]/(1 - P1 q^m)."""
    p, f0, tau, t_prop = 0.1, 0.97, 0.5, 0.5
    q = 1 - p
    p1 = 2 * q / (1 + q)
    model = tavo_core.PhysicalModel(link_cutoff_ms=m * tau)
    runs = 400_000
    stats = run(chain([50.0, 50.0], fidelity=f0, t2=t2, model=model), 2, runs, target=0.25)
    assert stats.empirical_success_rate == 1.0

    latency = tau * (1 / (1 - q * q) + p1 * (1 - q**m) / p) / (1 - p1 * q**m) + t_prop
    fail, (c_mean, c_var), (s_mean, s_var), d = cutoff_cycle_moments(p, m)
    failures, failures_var = fail / (1 - fail), fail / (1 - fail) ** 2
    assert latency == pytest.approx(tau * (failures * c_mean + s_mean) + t_prop)
    variance = tau**2 * (failures * c_var + failures_var * c_mean**2 + s_var)
    within(stats.mean_latency_ms, latency, math.sqrt(variance / runs))

    w0 = (4 * f0 - 1) / 3
    x = math.exp(-2 * tau / (1000 * t2))
    scale = w0**2 * math.exp(-2 * t_prop / (1000 * t2))
    expected_w = scale * (p / (2 - p) + p1 * p * sum(q ** (k - 1) * x**k
                                                         for k in range(1, m + 1)))
    expected_w /= 1 - p1 * q**m
    # Only the last cycle's wait D (given D <= m) ages the delivered pair.
    assert expected_w == pytest.approx(scale * sum(v * x**k for k, v in d.items()))
    variance_w = scale**2 * sum(v * x ** (2 * k) for k, v in d.items()) - expected_w**2
    within(stats.mean_fidelity, (1 + 3 * expected_w) / 4, 0.75 * math.sqrt(variance_w / runs))


# --- purification ----------------------------------------------------------------------------


def bbpssw(f1, f2):
    success = f1 * f2 + f1 * (1 - f2) / 3 + f2 * (1 - f1) / 3 + 5 * (1 - f1) * (1 - f2) / 9
    return success, (f1 * f2 + (1 - f1) * (1 - f2) / 9) / success


@pytest.mark.parametrize("f0, between", [(0.8, 0.5), (0.9, 1.0), (0.7, 0.1)])
def test_one_bbpssw_round(f0, between):
    """One hop below the target, ideal memories, the target at most F'(F0, F0): every success is
    one successful round, so the mean fidelity is F' exactly and the latency
    (2 tau/p + t_prop)/p_s."""
    p, tau, t_prop = 0.1, 0.5, 0.25
    success, purified = bbpssw(f0, f0)
    target = f0 + between * (purified - f0)
    runs = 400_000
    stats = run(chain([50.0], fidelity=f0), 1, runs, target=target)
    assert stats.empirical_success_rate == 1.0
    assert stats.mean_fidelity == pytest.approx(purified, rel=1e-13)
    # K ~ Geom(p_s) rounds, each two indices times tau plus t_prop.
    round_mean, round_var = 2 * tau / p + t_prop, 2 * tau**2 * (1 - p) / p**2
    variance = round_var / success + (1 - success) / success**2 * round_mean**2
    within(stats.mean_latency_ms, round_mean / success, math.sqrt(variance / runs))


def test_limit_ends_trials():
    """A trial that cannot finish within min(max_latency_ms, total_time_cutoff_ms) fails with that
    limit as its latency; the success rate is P(N tau <= limit) = 1 - q^floor(limit/tau)."""
    p, tau = 0.1, 0.5
    runs = 400_000
    for limit, cutoff in [(3.0, 1e9), (1e9, 2.75)]:
        stats = run(chain([50.0], cutoff=cutoff), 1, runs, limit=limit)
        bound = min(limit, cutoff)
        expected = 1 - (1 - p) ** math.floor(bound / tau)
        within(stats.empirical_success_rate, expected, math.sqrt(expected * (1 - expected) / runs))
        # Failed trials all report the limit: latency min(N tau, limit), its moments summed.
        k = math.floor(bound / tau)
        weights = [p * (1 - p) ** (j - 1) for j in range(1, k + 1)]
        latency = sum(w * j * tau for j, w in enumerate(weights, 1)) + (1 - expected) * bound
        second = sum(w * (j * tau) ** 2 for j, w in enumerate(weights, 1))
        second += (1 - expected) * bound**2
        within(stats.mean_latency_ms, latency, math.sqrt((second - latency**2) / runs))

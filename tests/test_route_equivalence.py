"""The route search that skips partial paths against the plain exhaustive one, through the core
probe: same path and bit-identical fidelity on thousands of small random networks, under every
strategy.

The networks are made for the places where skipping could go wrong: ties (repeated values, links
of fidelity 1.0 and distance 0.0), sums and products that round (0.1 + 0.2, 1e16 + 1.0, products
that underflow), parallel links, self-loops, nodes known only from links, and values that must turn
the skipping off (NaN, negative distances and fidelities, fidelities above 1)."""

import math
import random
import subprocess

import pytest

STRATEGIES = (0, 1, 2)  # LowestLatency, HighestFidelity, HighestSuccess

DISTANCES = [0.0, -0.0, 1.0, 1.0, 2.0, 3.0, 0.1, 0.2, 0.3, 1e16, 5.0, math.inf]
FIDELITIES = [0.0, 0.5, 0.5, 1.0, 1.0, 0.25, 0.9, 0.1, 0.2, 0.3, 1e-200, 5e-324]
RATES = [0.0, 1.0, 2.0, 100.0]
# Values that rule the bound out for one strategy or the other.
ODD_DISTANCES = [math.nan, -1.0, -math.inf, -5e-324]
ODD_FIDELITIES = [math.nan, 1.5, -0.5, math.inf, 1.0000000000000002]


def number(value):
    return repr(value) if math.isnan(value) or math.isinf(value) else value.hex()


def link(rnd, a, b, odd):
    distance = rnd.choice(DISTANCES)
    fidelity = rnd.choice(FIDELITIES)
    if odd and rnd.random() < 0.3:
        distance = rnd.choice(ODD_DISTANCES)
    if odd and rnd.random() < 0.3:
        fidelity = rnd.choice(ODD_FIDELITIES)
    return (a, b, distance, fidelity, rnd.choice(RATES))


def sparse(rnd, odd):
    node_count = rnd.randint(2, 7)
    names = [f"N{i}" for i in range(node_count + rnd.randint(0, 2))]
    links = [link(rnd, rnd.choice(names), rnd.choice(names), odd)
             for _ in range(rnd.randint(1, 13))]
    return names[:node_count], names, links


def dense(rnd, odd):
    # A complete graph; some pairs joined twice (the first link scores them), some links reversed.
    names = [f"K{i}" for i in range(rnd.randint(4, 7))]
    links = []
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            for _ in range(1 if rnd.random() < 0.85 else 2):
                links.append(link(rnd, *((a, b) if rnd.random() < 0.7 else (b, a)), odd))
    rnd.shuffle(links)
    return names, names, links


def grid(rnd, odd):
    rows, cols = rnd.randint(2, 4), rnd.randint(2, 4)
    names = [f"G{r}_{c}" for r in range(rows) for c in range(cols)]
    links = []
    for r in range(rows):
        for c in range(cols):
            if c + 1 < cols:
                links.append(link(rnd, f"G{r}_{c}", f"G{r}_{c + 1}", odd))
            if r + 1 < rows:
                links.append(link(rnd, f"G{r}_{c}", f"G{r + 1}_{c}", odd))
    if rnd.random() < 0.5:
        rnd.shuffle(links)
    return names, names, links


def run_batch(probe, networks):
    lines, queries = [], []
    for nodes, names, links, pairs in networks:
        lines += [f"node {n}" for n in nodes]
        lines += [f"link {a} {b} {number(d)} {number(f)} {number(r)}" for a, b, d, f, r in links]
        for source, target in pairs:
            for strategy in STRATEGIES:
                lines.append(f"query {source} {target} {strategy}")
                queries.append((links, source, target, strategy))
        lines.append("end")
    out = subprocess.run([str(probe), "route"], input="\n".join(lines) + "\n", capture_output=True,
                         text=True, check=True).stdout.splitlines()
    assert len(out) == 2 * len(queries)
    return [(query, out[2 * i], out[2 * i + 1]) for i, query in enumerate(queries)]


def alike(rnd, odd):
    # Every link the same, so that every path of a length ties: the whole outcome rests on the
    # order in which candidates are met.
    nodes, names, links = (grid if rnd.random() < 0.5 else dense)(rnd, odd)
    values = link(rnd, "", "", odd)[2:]
    return nodes, names, [(a, b, *values) for a, b, *_ in links]


FAMILIES = {"sparse": sparse, "dense": dense, "grid": grid, "alike": alike}


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("odd", [False, True], ids=["bounded", "odd-values"])
@pytest.mark.parametrize("family", FAMILIES)
def test_pruned_search_matches_exhaustive(probe, family, odd, seed):
    rnd = random.Random(f"{family}-{odd}-{seed}")
    networks = []
    for _ in range({"sparse": 300, "dense": 60, "grid": 80, "alike": 60}[family]):
        nodes, names, links = FAMILIES[family](rnd, odd)
        pairs = [(rnd.choice(names), rnd.choice(names)) for _ in range(3)]
        # Corner to corner on grids, the pair with the most paths.
        if names[0].startswith("G"):
            pairs.append((names[0], names[-1]))
        networks.append((nodes, names, links, pairs))
    results = run_batch(probe, networks)
    mismatches = [(q, e, p) for q, e, p in results if e != p]
    assert not mismatches, mismatches[:3]
    # The batch exercises what it is meant to: routes of several hops under every strategy.
    long_routes = {q[3] for q, e, _ in results if e != "none" and e.count(",") >= 2}
    assert long_routes == set(STRATEGIES)


# Cases where a plausible but wrong skipping rule changes the outcome.
SQUARE_OF_ONES = [("A", "B", 0.0, 1.0, 1.0), ("B", "D", 0.0, 1.0, 1.0), ("A", "C", 0.0, 1.0, 1.0),
                  ("C", "D", 0.0, 1.0, 1.0)]


@pytest.mark.parametrize("links,strategy,expected", [
    # Paths are met as A,C,D then A,B,D. All score 1.0: the fidelity-first search must walk on
    # from B, whose partial score equals the best, and take the later path.
    (SQUARE_OF_ONES, 1, "A,B,D"),
    # All score 0.0: the earlier one stays.
    (SQUARE_OF_ONES, 0, "A,C,D"),
    # A negative distance further on makes a costly start worth continuing.
    ([("A", "B", 5.0, 1.0, 1.0), ("B", "D", -10.0, 1.0, 1.0), ("A", "C", 1.0, 1.0, 1.0),
      ("C", "D", 1.0, 1.0, 1.0)], 0, "A,B,D"),
    # So does a fidelity above 1.
    ([("A", "B", 1.0, 0.5, 1.0), ("B", "D", 1.0, 1.9, 1.0), ("A", "C", 1.0, 0.9, 1.0),
      ("C", "D", 1.0, 0.9, 1.0)], 1, "A,B,D"),
    # A NaN later on is taken by the fidelity-first rule, whatever the partial score before it.
    ([("A", "B", 1.0, 0.1, 1.0), ("B", "D", 1.0, math.nan, 1.0), ("A", "C", 1.0, 0.9, 1.0),
      ("C", "D", 1.0, 0.9, 1.0)], 1, "A,B,D"),
])
def test_skipping_rules_at_the_edges(probe, links, strategy, expected):
    results = run_batch(probe, [("ABCD", "ABCD", links, [("A", "D")])])
    [(_, exhaustive, pruned)] = results[strategy::3]
    assert exhaustive.split()[0] == expected
    assert pruned == exhaustive

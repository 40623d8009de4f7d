"""Argument conversions that run the caller's code, and long chains of objects: nothing may crash.
Each case runs in a child process, so that a crash fails its test instead of the test run."""

import subprocess
import sys
import textwrap

import pytest

CLEARING_INDEX = """
    import tavo_core as tc

    class ClearsOnIndex:
        def __init__(self, victim):
            self.victim = victim
        def __index__(self):
            self.victim.clear()
            return 7

    def heatmap():
        # A key long enough that its memory is returned to the system when the dict drops it.
        d = {}
        d["k" * (1 << 20) + "!"] = ClearsOnIndex(d)
        d["second"] = 3
        return d

    def check(counts):
        assert list(counts) == ["k" * (1 << 20) + "!", "second"], list(counts)[:1]
        assert list(counts.values()) == [7, 3]
"""

CASES = {
    "statistics-constructor": """
        check(tc.MonteCarloStats(1, 0.5, 1.0, 0.5, 0, heatmap()).link_utilization_heatmap)
    """,
    "heatmap-setter": """
        stats = tc.MonteCarloStats(1, 0.5, 1.0, 0.5, 0, {})
        stats.link_utilization_heatmap = heatmap()
        check(stats.link_utilization_heatmap)
    """,
    "comparison-setter": """
        report = tc.compare_topologies([tc.TopologyEndpoints("repeater_chain", "N0", "N1")], 0.5, 10.0, 1)
        result = report.results[0]
        result.link_utilization = heatmap()
        check(result.link_utilization)
    """,
    "keyword-arguments": """
        class Float:
            def __init__(self, victim):
                self.victim = victim
            def __float__(self):
                self.victim.clear()
                return 0.25
        kwargs = {}
        kwargs["mean_latency_ms"] = Float(kwargs)
        kwargs["mean_fidelity"] = 0.5
        stats = tc.MonteCarloStats(1, 0.5, link_utilization_heatmap={}, aggregate_congestion_drops=0, **kwargs)
        assert (stats.mean_latency_ms, stats.mean_fidelity) == (0.25, 0.5)
    """,
    "list-items": """
        class Float:
            def __init__(self, victim):
                self.victim = victim
            def __float__(self):
                del self.victim[:]
                return 2.0
        nodes = []
        nodes.append(tc.NodeDefinition("a", 1.0))
        links = [("a", "b", Float(nodes), 0.9, 1.0)]
        engine = tc.TavoEngine()
        engine.define_network(nodes, [])
        context = engine.simulate("a", "a", 0.5, 1.0, 1, seed=1)._context
        context.links = links
        context.nodes = nodes + [("b", 2.0)]
        assert context.links == [("a", "b", 2.0, 0.9, 1.0)] and context.nodes == [("b", 2.0)]
    """,
    "long-chain-of-files": """
        head = tc.TavoFile("0")
        for i in range(200_000):
            node = tc.TavoFile(str(i + 1))
            node.extensions = head
            head = node
        del head, node
        import gc; gc.collect()
    """,
}


@pytest.mark.parametrize("case", CASES)
def test_no_crash(case):
    script = textwrap.dedent(CLEARING_INDEX) + textwrap.dedent(CASES[case]) + "\nprint('ok')\n"
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stdout.strip()) == (0, "ok"), done.stderr[-2000:]

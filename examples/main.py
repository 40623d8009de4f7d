#!/usr/bin/env python3
"""Simulate entanglement distribution on a small quantum network and print what happened."""

import tavo_core as tavo


def small_network():
    nodes = [tavo.NodeDefinition(name, 1.0) for name in ("Alice", "Relay", "Bob")]
    links = [
        tavo.LinkDefinition("Alice", "Relay", 40.0, 0.97, 1000.0),
        tavo.LinkDefinition("Relay", "Bob", 60.0, 0.96, 1000.0),
    ]
    return nodes, links


def main():
    engine = tavo.TavoEngine()
    engine.define_network(*small_network())

    print("== Single entanglement request: Alice -> Bob ==")
    result = engine.request_entanglement("Alice", "Bob", 0.85, 500.0)
    print(f"  success:  {result.success}")
    print(f"  path:     {' -> '.join(result.execution_path)}")
    print(f"  latency:  {result.latency_ms:.2f} ms")
    print(f"  fidelity: {result.final_fidelity:.4f}")

    print("\n== Monte Carlo ensemble: 10,000 seeded trials ==")
    stats = engine.simulate("Alice", "Bob", 0.85, 500.0, 10_000, seed=7)
    print(f"  success rate:       {stats.empirical_success_rate:.2%}")
    print(f"  mean latency:       {stats.mean_latency_ms:.2f} ms")
    print(f"  mean fidelity:      {stats.mean_fidelity:.4f}")
    print(f"  congestion drops:   {stats.aggregate_congestion_drops}")
    for link, attempts in stats.link_utilization_heatmap.items():
        print(f"  attempts {link:>14}: {attempts}")


if __name__ == "__main__":
    main()

"""Plots on the Agg backend: the artists each function draws and a non-empty PNG."""

import json
import pathlib

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import pandas as pd  # noqa: E402
import pytest  # noqa: E402

import tavo_core as tavo  # noqa: E402
import tavo_tools  # noqa: E402
from tavo_tools.sweep import describe  # noqa: E402
from tools_support import chain_engine  # noqa: E402

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.tavo"


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def saved(ax, tmp_path):
    path = tmp_path / "figure.png"
    ax.figure.savefig(path)
    return path.stat().st_size > 0 and path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_network_of_a_file(tmp_path):
    topology = tavo.load_tavo_file(str(DEMO))
    ax = tavo_tools.plot_network(topology)
    assert len(ax.lines) == 5 and len(ax.collections) == 1
    assert [text.get_text() for text in ax.texts] == [
        "Alice",
        "Repeater",
        "Bob",
        "Charlie",
        "Sat-1",
    ]
    # only the Alice - Sat-1 link is a satellite link
    assert [line.get_linestyle() for line in ax.lines] == ["-", "-", "-", "-", "--"]
    assert ax.get_title() == "metro-demo"
    assert saved(ax, tmp_path)


def test_heatmap_sets_link_widths(tmp_path):
    engine = tavo.from_tavo_file(str(DEMO))
    stats = engine.simulate(
        "Charlie", "Sat-1", 0.8, 500.0, 300, None, 2
    )  # Charlie -> Alice -> Sat-1
    assert set(stats.link_utilization_heatmap) == {"Charlie->Alice", "Alice->Sat-1"}
    fig, given = plt.subplots()
    ax = tavo_tools.plot_network(tavo.load_tavo_file(str(DEMO)), stats, ax=given)
    assert ax is given
    widths = [line.get_linewidth() for line in ax.lines]
    assert widths[3] == widths[4] == 6.0  # both hops of the route had every cycle's attempt
    assert widths[:3] == [1.0, 1.0, 1.0]  # links off the route
    assert len(fig.axes) == 2  # the colour bar
    assert saved(ax, tmp_path)


def test_file_coordinates_place_the_nodes(tmp_path):
    document = json.loads(DEMO.read_text())
    layout = {
        "Alice": [0, 0],
        "Repeater": [1, 0],
        "Bob": [2, 0],
        "Charlie": [1, -1],
        "Sat-1": [0.5, 3],
    }
    document["extensions"] = {"custom": {"layout": layout}}
    path = tmp_path / "placed.tavo"
    path.write_text(json.dumps(document))
    ax = tavo_tools.plot_network(path)
    assert [tuple(p) for p in ax.collections[0].get_offsets()] == [
        tuple(map(float, p)) for p in layout.values()
    ]
    # One node without a place: the spring layout places them all.
    del layout["Bob"]
    path.write_text(json.dumps(document))
    ax = tavo_tools.plot_network(str(path))
    assert (2.0, 0.0) not in [tuple(p) for p in ax.collections[0].get_offsets()]


def test_network_of_an_engine_is_drawn_the_same_every_time(tmp_path):
    engine = chain_engine()
    first = tavo_tools.plot_network(engine)
    second = tavo_tools.plot_network(engine)
    assert [line.get_linestyle() for line in first.lines] == ["-", "-", "--"]
    assert (first.collections[0].get_offsets() == second.collections[0].get_offsets()).all()
    assert saved(first, tmp_path)


def test_sensitivity_bars(tmp_path):
    ranking = {"b": 0.5, "a": 0.9, "c": 0.1, "d": 0.7, "e": 0.0}
    ax = tavo_tools.plot_sensitivity(ranking, top=3)
    assert len(ax.patches) == 3
    bars = sorted(ax.patches, key=lambda bar: bar.get_y(), reverse=True)  # top of the axes first
    assert [bar.get_width() for bar in bars] == [0.9, 0.7, 0.5]
    assert [label.get_text() for label in ax.get_yticklabels()] == ["b", "d", "a"]
    assert ax.get_xlabel() == "Relative change of the success rate"
    assert saved(ax, tmp_path)
    assert len(tavo_tools.plot_sensitivity(ranking).patches) == 5
    with pytest.raises(ValueError):
        tavo_tools.plot_sensitivity(ranking, top=0)


def sweep_frame():
    rows = []
    for hue in (0.8, 0.9):
        for distance in (50.0, 10.0, 100.0):
            rate = 1.0 - distance / 200.0 - hue / 10.0
            rows.append(
                {
                    "distance_km:A->B": distance,
                    "fidelity_target": hue,
                    "runs": 100,
                    "success_rate": rate,
                    "success_ci_low": rate - 0.05,
                    "success_ci_high": rate + 0.05,
                    "mean_latency_ms": distance / 10.0,
                }
            )
    return pd.DataFrame(rows)


def test_sweep_lines_and_bands(tmp_path):
    frame = sweep_frame()
    ax = tavo_tools.plot_sweep(frame, "distance_km:A->B", hue="fidelity_target")
    assert len(ax.lines) == 2 and len(ax.collections) == 2
    assert list(ax.lines[0].get_xdata()) == [10.0, 50.0, 100.0]  # sorted along x
    legend = ax.get_legend()
    assert [t.get_text() for t in legend.get_texts()] == ["0.8", "0.9"]
    assert legend.get_title().get_text() == "Fidelity target"
    assert (ax.get_xlabel(), ax.get_ylabel()) == ("Length A\u2013B (km)", "Success rate")
    assert ax.get_title() == "Success rate against Length A\u2013B (km)"
    assert saved(ax, tmp_path)
    latency = tavo_tools.plot_sweep(
        frame[frame.fidelity_target == 0.8], "distance_km:A->B", "mean_latency_ms"
    )
    assert len(latency.lines) == 1 and len(latency.collections) == 0  # no interval for latencies
    assert latency.get_ylabel() == "Mean latency (ms)"


@pytest.mark.parametrize(
    "key, label",
    [
        ("distance_km:Alice->Repeater", "Length Alice\u2013Repeater (km)"),
        ("memory_lifetime_t2:Sat-1", "Memory lifetime T2 Sat-1 (s)"),
        ("base_fidelity:A->B", "Base fidelity A\u2013B"),
        ("generation_rate_hz:A->B", "Generation rate A\u2013B (Hz)"),
        ("alpha_loss_db_km", "Fiber attenuation (dB/km)"),
        ("max_latency_ms", "Latency budget (ms)"),
        ("mean_fidelity", "Mean fidelity"),
        ("something_else", "something_else"),
    ],
)
def test_keys_read_as_words_with_units(key, label):
    assert describe(key) == label


def inside_figure(ax):
    """Whether everything drawn for `ax` (tick labels, axis labels, title, legend) lies within its
    figure."""
    figure = ax.figure
    renderer = figure.canvas.get_renderer()
    figure.draw(renderer)
    drawn, box = ax.get_tightbbox(renderer), figure.bbox
    return (
        drawn.x0 >= box.x0 - 0.5
        and drawn.x1 <= box.x1 + 0.5
        and drawn.y0 >= box.y0 - 0.5
        and drawn.y1 <= box.y1 + 0.5
    )


def ranking_frame():
    rows = {
        "base_fidelity:Alice->Repeater": (0.05, 0.03, 0.07, False),
        "distance_km:Alice->Repeater": (-0.02, -0.03, -0.01, False),
        "base_fidelity:Charlie->Alice": (-0.04, -0.05, -0.03, True),
        "memory_lifetime_t2:Alice": (0.0, 0.0, 0.0, False),
    }
    frame = pd.DataFrame(
        [values for values in rows.values()],
        columns=["effect", "effect_ci_low", "effect_ci_high", "route_changed"],
        index=pd.Index(list(rows), name="parameter"),
    )
    frame.attrs["step"] = 0.1
    return frame.sort_values("effect", key=abs, ascending=False, kind="stable")


def test_ranking_bars_are_signed_with_whiskers(tmp_path):
    ax = tavo_tools.plot_sensitivity(ranking_frame(), top=3)
    bars = sorted(ax.patches, key=lambda bar: bar.get_y(), reverse=True)  # top of the axes first
    assert [bar.get_width() for bar in bars] == [0.05, -0.04, -0.02]
    assert [label.get_text() for label in ax.get_yticklabels()][::-1] == [
        "Base fidelity Alice\u2013Repeater",
        "Base fidelity Charlie\u2013Alice (route changes)",
        "Length Alice\u2013Repeater (km)",
    ]
    # Helping and harming bars differ in colour; one whisker per bar spans its interval.
    assert bars[0].get_facecolor() != bars[1].get_facecolor() == bars[2].get_facecolor()
    (whiskers,) = [c for c in ax.collections if len(c.get_segments()) == 3]
    spans = sorted((round(s[0][0], 9), round(s[1][0], 9)) for s in whiskers.get_segments())
    assert spans == [(-0.05, -0.03), (-0.03, -0.01), (0.03, 0.07)]
    assert ax.get_xlabel() == "Change in success rate (95 % interval)"
    assert ax.get_title() == "Success rate, each parameter +10% minus \u221210%"
    assert inside_figure(ax)
    assert saved(ax, tmp_path)


def test_long_labels_are_not_clipped():
    ranking = {f"distance_km:Ground-station-{i}->Repeater-{i}": 0.1 * i for i in range(1, 8)}
    assert inside_figure(tavo_tools.plot_sensitivity(ranking))
    assert inside_figure(tavo_tools.plot_sweep(sweep_frame(), "distance_km:A->B",
                                               hue="fidelity_target"))


@pytest.mark.parametrize(
    "x, hue", [("distance_km:A->B", None), ("speed", None), ("distance_km:A->B", "seed")]
)
def test_sweep_refuses_ambiguous_or_missing_columns(x, hue):
    with pytest.raises(ValueError):
        tavo_tools.plot_sweep(sweep_frame(), x, hue=hue)

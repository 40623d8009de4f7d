"""The tavo command line, in process through main() and once as `python -m tavo_tools`."""

import json
import pathlib
import signal
import subprocess
import sys

import pytest

import tavo_core as tavo
import tavo_tools
from tavo_tools.cli import main
from conftest import default_sigint
from tools_support import subprocess_env

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEMO = str(ROOT / "examples" / "demo.tavo")


def edited_copy(tmp_path, change):
    document = json.loads(pathlib.Path(DEMO).read_text())
    change(document)
    path = tmp_path / "edited.tavo"
    path.write_text(json.dumps(document))
    return str(path)


def disconnect(document):
    document["nodes"].append({"id": "Island"})


def test_validate(tmp_path, capsys):
    invalid = edited_copy(tmp_path, disconnect)
    assert main(["validate", DEMO]) == 0
    assert capsys.readouterr().out == f"{DEMO}: valid\n"
    assert main(["validate", DEMO, invalid]) == 1
    assert capsys.readouterr().out == (
        f"{DEMO}: valid\n{invalid}: invalid\n  error: Graph is disconnected with 2 components\n"
    )
    assert main(["validate", "--json", invalid, DEMO]) == 1
    assert json.loads(capsys.readouterr().out) == [tavo.validate(invalid), tavo.validate(DEMO)]


def test_unloadable_file_is_one_line_on_stderr(tmp_path, capsys):
    missing = str(tmp_path / "missing.tavo")
    for argv in (
        ["validate", missing],
        ["diff", missing, DEMO],
        ["simulate", missing, "A", "B", "--fidelity", "0.9", "--budget", "10", "--runs", "5"],
    ):
        assert main(argv) == 1
        captured = capsys.readouterr()
        assert captured.err.count("\n") == 1
        assert captured.err.startswith(
            f"tavo: Failed to load {missing}: IO error: No such file or directory"
        )


def test_diff(tmp_path, capsys):
    assert main(["diff", DEMO, DEMO]) == 0
    assert capsys.readouterr().out == f"Diff between '{DEMO}' and '{DEMO}':\n  no differences\n"
    edited = edited_copy(tmp_path, lambda d: d["links"][0].update(distance_km=41.0))
    assert main(["diff", DEMO, edited]) == 1
    assert capsys.readouterr().out == (
        f"Diff between '{DEMO}' and '{edited}':\n  Links modified: 1 (Alice->Repeater)\n"
    )
    # A change that only the summary tells of still counts.
    retitled = edited_copy(tmp_path, lambda d: d["metadata"].update(description="other"))
    assert main(["diff", "--json", DEMO, retitled]) == 1
    result = json.loads(capsys.readouterr().out)
    assert result["identical"] is False and result["summary"].endswith("  Metadata changes:\n")


def run_json(capsys, argv):
    assert main(argv + ["--json"]) == 0
    return json.loads(capsys.readouterr().out)


@pytest.mark.parametrize("workers", ["2", "1000000000"])  # the second taken as 1024
def test_simulate_prints_the_ensemble(capsys, workers):
    argv = [
        "simulate",
        DEMO,
        "Alice",
        "Repeater",
        "--fidelity",
        "0.8",
        "--budget",
        "500",
        "--runs",
        "3000",
        "--seed",
        "17",
        "--workers",
        workers,
        "--strategy",
        "highest-fidelity",
    ]
    result = run_json(capsys, argv)
    stats = tavo.from_tavo_file(DEMO).simulate(
        "Alice", "Repeater", 0.8, 500.0, 3000, tavo.StrategyType.HighestFidelity, 17
    )
    assert result["seed"] == 17 and result["runs"] == 3000
    assert result["success_rate"] == stats.empirical_success_rate
    assert result["congestion_drops"] == stats.aggregate_congestion_drops
    assert result["success_ci_low"] < result["success_rate"] < result["success_ci_high"]
    assert result["busiest_links"] == [
        {"link": "Alice->Repeater", "attempts": stats.link_utilization_heatmap["Alice->Repeater"]}
    ]
    assert main(argv) == 0
    text = capsys.readouterr().out
    assert f"success rate     {stats.empirical_success_rate:.4f}  (95 % interval" in text
    assert "Alice->Repeater" in text and "seed 17" in text


def test_sensitivity_ranks_parameters_with_signed_effects(capsys):
    argv = ["sensitivity", DEMO, "Alice", "Bob", "--runs", "300", "--seed", "4", "--top", "3"]
    result = run_json(capsys, argv)
    expected = tavo_tools.rank(tavo.from_tavo_file(DEMO), "Alice", "Bob", 0.8, 500.0, 300, seed=4)
    assert (result["seed"], result["step"]) == (4, 0.1)
    assert [row["parameter"] for row in result["ranking"]] == list(expected.index[:3])
    for row, (_, frame_row) in zip(result["ranking"], expected.iterrows()):
        assert row["effect"] == frame_row["effect"]
        assert row["route_changed"] == bool(frame_row["route_changed"])
    assert main(argv) == 0
    text = capsys.readouterr().out
    assert "fidelity >= 0.8, budget 500 ms" in text  # from the file's constraints
    assert f"{expected.index[0]:<40}" in text and "route changes" in text
    # Chosen parameters and step.
    argv = ["sensitivity", DEMO, "Alice", "Bob", "--runs", "50", "--step", "0.2", "--param",
            "distance_km:Repeater->Bob", "--param", "alpha_loss_db_km"]
    result = run_json(capsys, argv)
    rows = {row["parameter"]: row for row in result["ranking"]}
    assert set(rows) == {"distance_km:Repeater->Bob", "alpha_loss_db_km"}
    assert rows["distance_km:Repeater->Bob"]["high"] == pytest.approx(54.0)


def compare_json(capsys, argv):
    result = run_json(capsys, argv)
    return {row["network"]: row for row in result["networks"]}, result


def test_compare_builtin_topologies(capsys):
    rows, result = compare_json(capsys, ["compare", "--runs", "100", "--seed", "3"])
    assert list(rows) == ["telecom_backbone", "repeater_chain", "hybrid_satellite_fiber"]
    assert result["recommended"] in rows
    payload = tavo.generate_topology("repeater_chain")
    engine = tavo.TavoEngine()
    engine.define_network(payload.nodes, payload.links)
    stats = engine.simulate("N0", "N3", 0.7, 5000.0, 100, None, 3)
    assert rows["repeater_chain"]["success_rate"] == stats.empirical_success_rate
    argv = ["compare", "--runs", "50", "--endpoint", "hybrid:Toronto:Montreal"]
    rows, _ = compare_json(capsys, argv)
    assert list(rows) == ["hybrid"] and rows["hybrid"]["from"] == "Toronto"
    rows, _ = compare_json(capsys, ["compare", "repeater_chain", "hybrid", "--runs", "50"])
    assert list(rows) == ["repeater_chain", "hybrid"] and rows["repeater_chain"]["to"] == "N3"
    assert rows["hybrid"]["from"] == "Toronto"


def test_compare_files_seeded(tmp_path, capsys):
    longer = edited_copy(tmp_path, lambda d: d["links"][1].update(distance_km=300.0))
    argv = ["compare", DEMO, longer, "--from", "Alice", "--to", "Bob", "--runs", "4e3", "--seed",
            "9"]
    rows, result = compare_json(capsys, argv)
    assert list(rows) == [DEMO, longer] and result["seed"] == 9
    for path in (DEMO, longer):
        stats = tavo.from_tavo_file(path).simulate("Alice", "Bob", 0.8, 500.0, 4000, None, 9)
        assert rows[path]["success_rate"] == stats.empirical_success_rate
        assert rows[path]["runs"] == 4000
    assert rows[DEMO]["route"] == "Alice -> Repeater -> Bob"
    assert rows[longer]["success_rate"] < rows[DEMO]["success_rate"]
    assert result["recommended"] == max(rows, key=lambda name: rows[name]["success_rate"])
    assert compare_json(capsys, argv) == (rows, result)  # the same seed, the same figures
    assert main(argv[:-2]) == 0
    assert "recommended: " in capsys.readouterr().out


@pytest.mark.parametrize(
    "options, fidelity, budget",
    [
        ([], 0.8, 500.0),  # the file's constraints
        (["--fidelity", "0.9"], 0.9, 500.0),
        (["--budget", "1e3"], 0.8, 1000.0),
    ],
)
def test_request_defaults_to_the_files_constraints(capsys, options, fidelity, budget):
    result = run_json(capsys, ["simulate", DEMO, "Alice", "Bob", "--runs", "500", "--seed", "2"]
                      + options)
    stats = tavo.from_tavo_file(DEMO).simulate("Alice", "Bob", fidelity, budget, 500, None, 2)
    assert result["success_rate"] == stats.empirical_success_rate
    assert result["mean_latency_ms"] == stats.mean_latency_ms


def test_simulate_to_a_precision(capsys, tmp_path):
    argv = ["simulate", DEMO, "Alice", "Bob", "--precision", "0.01", "--seed", "6"]
    result = run_json(capsys, argv)
    runs = result["runs"]
    stats = tavo.from_tavo_file(DEMO).simulate("Alice", "Bob", 0.8, 500.0, runs, None, 6)
    assert result["success_rate"] == stats.empirical_success_rate
    assert result["success_ci_high"] - result["success_rate"] <= 0.01
    assert result["success_rate"] - result["success_ci_low"] <= 0.01
    assert main(argv) == 0
    text = capsys.readouterr().out
    assert "known to \u00b10.01" in text and f"trials run       {runs}\n" in text
    capped = run_json(capsys, argv[:-2] + ["--max-runs", "500"])
    assert capped["runs"] == 500
    out = tmp_path / "report.html"
    report = ["report", DEMO, "Alice", "Bob", "--precision", "0.02", "--seed", "6"]
    assert main(report + ["--rank-runs", "100", "-o", str(out)]) == 0
    assert "known to \u00b10.02" in capsys.readouterr().out and out.is_file()


def test_files_without_constraints_need_the_options(tmp_path, capsys):
    bare = edited_copy(tmp_path, lambda d: d.pop("constraints"))
    assert main(["simulate", bare, "Alice", "Bob", "--runs", "5", "--budget", "100"]) == 2
    err = capsys.readouterr().err
    assert err == (
        f"tavo simulate: error: give --fidelity: {bare} has no constraints.fidelity_target\n"
    )


@pytest.mark.parametrize("runs", ["1e3", "1_000", "1000", "1.0e3"])
def test_counts_in_any_spelling(capsys, runs):
    result = run_json(capsys, ["simulate", DEMO, "Alice", "Bob", "--runs", runs, "--seed", "1"])
    assert result["runs"] == 1000


def test_errors_read_once(tmp_path, capsys):
    invalid = edited_copy(tmp_path, disconnect)
    assert main(["simulate", invalid, "Alice", "Bob", "--runs", "5"]) == 1
    assert capsys.readouterr().err == (
        f"tavo: Failed to load {invalid}: Validation failed. Errors: - Graph is disconnected "
        "with 2 components\n"
    )


SIMULATE = ["simulate", DEMO, "Alice", "Bob"]


@pytest.mark.parametrize(
    "argv",
    [
        [],
        ["frobnicate"],
        SIMULATE,  # no --runs
        SIMULATE + ["--fidelity", "x", "--runs", "5"],
        SIMULATE + ["--fidelity", "1.5", "--runs", "5"],
        SIMULATE + ["--fidelity", "nan", "--runs", "5"],
        SIMULATE + ["--budget", "inf", "--runs", "5"],
        SIMULATE + ["--budget", "-inf", "--runs", "5"],
        SIMULATE + ["--budget", "nan", "--runs", "5"],
        SIMULATE + ["--budget", "0", "--runs", "5"],
        SIMULATE + ["--budget", "-10", "--runs", "5"],
        SIMULATE + ["--runs", "0"],
        SIMULATE + ["--runs", "-5"],
        SIMULATE + ["--runs", "1.5"],
        SIMULATE + ["--runs", "1e400"],
        SIMULATE + ["--runs", "inf"],
        SIMULATE + ["--runs", "5", "--seed", "-1"],
        SIMULATE + ["--runs", "5", "--seed", "1e30"],
        SIMULATE + ["--runs", "5", "--workers", "0"],
        SIMULATE + ["--precision", "0.5"],
        SIMULATE + ["--precision", "0"],
        SIMULATE + ["--precision", "0.01", "--runs", "5"],
        SIMULATE + ["--runs", "5", "--max-runs", "10"],
        SIMULATE + ["--precision", "0.01", "--max-runs", "0"],
        ["simulate", DEMO, "Alice", "Mallory", "--runs", "5"],
        ["sensitivity", DEMO, "Alice", "Bob", "--runs", "5", "--step", "1"],
        ["sensitivity", DEMO, "Alice", "Bob", "--runs", "5", "--param", "distance_km:Bob->Alice"],
        ["compare", "--endpoint", "ring:A:B"],
        ["compare", "--endpoint", "repeater_chain:N0"],
        ["compare", "--endpoint", "repeater_chain:N0:Mallory"],
        ["compare", "--runs", "0"],
        ["compare", "--budget", "inf"],
        ["compare", DEMO],  # no --from and --to for a file
        ["compare", DEMO, "--from", "Alice"],
        ["compare", "no_such_topology"],
        ["compare", DEMO, DEMO, "--from", "Alice", "--to", "Bob"],
        ["diff", DEMO],
    ],
)
def test_usage_errors_exit_2_in_one_line(argv, capsys):
    assert main(argv) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and err.startswith("tavo") and ": error: " in err
    assert "Traceback" not in err


@pytest.mark.parametrize(
    "command",
    [[], ["validate"], ["diff"], ["simulate"], ["sensitivity"], ["compare"], ["report"]],
)
def test_help_everywhere(command, capsys):
    assert main(command + ["--help"]) == 0
    assert capsys.readouterr().out.startswith("usage: tavo")


def test_version(capsys):
    assert main(["--version"]) == 0
    assert capsys.readouterr().out == f"tavo {tavo.__version__}\n"


def test_module_entry_point_and_interrupt():
    env = subprocess_env()
    done = subprocess.run(
        [sys.executable, "-m", "tavo_tools", "validate", DEMO],
        capture_output=True,
        text=True,
        env=env,
        timeout=60,
    )
    assert (done.returncode, done.stdout, done.stderr) == (0, f"{DEMO}: valid\n", "")

    # An ensemble far too long to finish, interrupted once it has started.
    with subprocess.Popen(
        [
            sys.executable,
            "-m",
            "tavo_tools",
            "simulate",
            DEMO,
            "Bob",
            "Sat-1",
            "--fidelity",
            "0.8",
            "--budget",
            "500",
            "--runs",
            "1000000000",
            "--workers",
            "1",
        ],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
        preexec_fn=default_sigint,
    ) as process:  # closes the pipes however the test ends
        try:
            first = process.stdout.readline()
            assert "Bob -> Sat-1" in first and "1000000000 trials" in first
            process.send_signal(signal.SIGINT)
            out, err = process.communicate(timeout=60)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
    assert process.returncode == 130
    assert err == "tavo: interrupted\n"

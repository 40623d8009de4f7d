"""The tavo command line, in process through main() and once as `python -m tavo_tools`."""

import json
import pathlib
import signal
import subprocess
import sys

import pytest

import tavo_core as tavo
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


def test_sensitivity_ranks_parameters(capsys):
    result = run_json(
        capsys,
        [
            "sensitivity",
            DEMO,
            "Alice",
            "Bob",
            "--fidelity",
            "0.8",
            "--budget",
            "500",
            "--runs",
            "300",
            "--seed",
            "4",
            "--top",
            "3",
        ],
    )
    impacts = [row["impact"] for row in result["ranking"]]
    assert len(impacts) == 3 and impacts == sorted(impacts, reverse=True)
    assert all(set(row) == {"parameter", "impact"} for row in result["ranking"])


def test_compare(capsys):
    result = run_json(capsys, ["compare", "--runs", "100"])
    assert [row["topology"] for row in result["topologies"]] == [
        "telecom_backbone",
        "repeater_chain",
        "hybrid_satellite_fiber",
    ]
    assert result["recommended"] in {row["topology"] for row in result["topologies"]}
    result = run_json(capsys, ["compare", "--runs", "50", "--endpoint", "hybrid:Toronto:Montreal"])
    assert [row["topology"] for row in result["topologies"]] == ["hybrid"]


@pytest.mark.parametrize(
    "argv",
    [
        [],
        ["frobnicate"],
        ["simulate", DEMO, "Alice", "Bob", "--fidelity", "0.8", "--budget", "500"],  # no --runs
        ["simulate", DEMO, "Alice", "Bob", "--fidelity", "x", "--budget", "500", "--runs", "5"],
        ["simulate", DEMO, "Alice", "Bob", "--fidelity", "0.8", "--budget", "500", "--runs", "-5"],
        [
            "simulate",
            DEMO,
            "Alice",
            "Bob",
            "--fidelity",
            "0.8",
            "--budget",
            "500",
            "--runs",
            "5",
            "--seed",
            "-1",
        ],
        [
            "simulate",
            DEMO,
            "Alice",
            "Bob",
            "--fidelity",
            "0.8",
            "--budget",
            "500",
            "--runs",
            "5",
            "--workers",
            "0",
        ],
        [
            "simulate",
            DEMO,
            "Alice",
            "Mallory",
            "--fidelity",
            "0.8",
            "--budget",
            "500",
            "--runs",
            "5",
        ],
        ["compare", "--endpoint", "ring:A:B"],
        ["compare", "--endpoint", "repeater_chain:N0"],
        ["diff", DEMO],
    ],
)
def test_usage_errors_exit_2(argv, capsys):
    assert main(argv) == 2
    assert "error" in capsys.readouterr().err


@pytest.mark.parametrize(
    "command", [[], ["validate"], ["diff"], ["simulate"], ["sensitivity"], ["compare"]]
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
            assert "1000000000 trials Bob -> Sat-1" in process.stdout.readline()
            process.send_signal(signal.SIGINT)
            out, err = process.communicate(timeout=60)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
    assert process.returncode == 130
    assert err == "tavo: interrupted\n"

"""Every example runs to completion on the Agg backend in a fresh directory; the plotting ones save
their figure where they are told to, or in the working directory."""

import pathlib
import subprocess
import sys

import pytest

from tools_support import subprocess_env

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
FIGURES = {
    "success_vs_distance.py": "success_vs_distance.png",
    "attempt_heatmap.py": "attempt_heatmap.png",
    "parameter_sensitivity.py": "parameter_sensitivity.png",
    "compare_topology_versions.py": "compare_topology_versions.png",
    "rate_vs_distance.py": "rate_vs_distance.png",
}


def run(script, cwd, *args):
    env = subprocess_env(MPLBACKEND="Agg")
    return subprocess.run(
        [sys.executable, str(EXAMPLES / script), *args],
        cwd=cwd,
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )


def is_png(path):
    return (
        path.is_file()
        and path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        and path.stat().st_size > 1000
    )


def test_every_example_is_listed():
    assert sorted(p.name for p in EXAMPLES.glob("*.py")) == sorted(list(FIGURES) + ["main.py"])


def test_main_example(tmp_path):
    done = run("main.py", tmp_path)
    assert done.returncode == 0, done.stderr
    assert "recommended:" in done.stdout and list(tmp_path.iterdir()) == []
    # Both models, side by side.
    for model in ("cycle model", "physical model"):
        assert f"Reference topologies on the {model}" in done.stdout
        assert f"on the {model}, budget" in done.stdout


# Each figure example once, with one of the three ways of saying where the figure goes.
@pytest.mark.parametrize(
    "script, where",
    [
        ("attempt_heatmap.py", None),
        ("success_vs_distance.py", None),
        ("parameter_sensitivity.py", "named.png"),
        ("compare_topology_versions.py", "figures/"),
        ("rate_vs_distance.py", "rates.png"),
    ],
)
def test_figure_examples(script, where, tmp_path):
    work = tmp_path / "work"
    work.mkdir()
    if where is None:
        args, expected = [], work / FIGURES[script]
    elif where.endswith("/"):
        (tmp_path / where).mkdir()
        args, expected = [str(tmp_path / where)], tmp_path / where / FIGURES[script]
    else:
        args, expected = [str(tmp_path / where)], tmp_path / where
    done = run(script, work, *args)
    assert done.returncode == 0, done.stderr
    assert is_png(expected)
    assert list(work.iterdir()) == ([expected] if where is None else [])

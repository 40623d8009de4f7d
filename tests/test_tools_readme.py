"""The README's Python examples of files and tools run as written, and its sweep draws distinct
series."""

import pathlib
import re
import shutil

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent


def examples():
    """The README's Python blocks from "Topology files" on, but the one that needs a Dask
    cluster."""
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    text = text[text.index("## Topology files") : text.index("### Types and documentation")]
    blocks = re.findall(r"```python\n(.*?)```", text, re.S)
    return [block for block in blocks if "distributed import Client" not in block]


def test_readme_examples_run(tmp_path, monkeypatch):
    shutil.copytree(ROOT / "examples", tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    blocks = examples()
    assert len(blocks) == 3
    namespace = {}
    try:
        for block in blocks:
            exec(compile(block, "README.md", "exec"), namespace)
        assert (tmp_path / "report.html").is_file() and (tmp_path / "edited.tavo").is_file()
        sweeps = [
            ax
            for number in plt.get_fignums()
            for ax in plt.figure(number).axes
            if ax.get_xlabel() == "Length Alice\u2013Repeater (km)"
        ]
        assert len(sweeps) == 1
        first, second = [list(line.get_ydata()) for line in sweeps[0].lines]
        assert all(a > b for a, b in zip(first, second))  # the longer second hop does worse
        ranking = namespace["ranking"]
        assert ranking.index[0].startswith(("base_fidelity:", "distance_km:"))
    finally:
        plt.close("all")

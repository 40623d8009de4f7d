"""The HTML report: its figures and numbers, that it needs nothing from outside, the physical-model
section, the command, and the page in a real headless Chromium."""

import base64
import html
import importlib
import json
import pathlib
import re

import matplotlib

matplotlib.use("Agg")

import pytest  # noqa: E402

import tavo_core as tavo  # noqa: E402
import tavo_tools  # noqa: E402
from tavo_tools.cli import main  # noqa: E402
from tavo_tools.frames import success_interval  # noqa: E402
from browser import Browser, executable  # noqa: E402
from tools_support import chain_engine  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEMO = str(ROOT / "examples" / "demo.tavo")
# The module, which the package's function of the same name hides.
report_module = importlib.import_module("tavo_tools.report")
PNG = re.compile(r'<img alt="" src="data:image/png;base64,([A-Za-z0-9+/=]+)">')


@pytest.fixture(scope="module")
def page():
    return tavo_tools.report(DEMO, "Alice", "Bob", runs=3000, rank_runs=800, seed=5)


def test_numbers_are_those_of_the_ensemble_and_the_ranking(page):
    engine = tavo.from_tavo_file(DEMO)
    stats = engine.simulate("Alice", "Bob", 0.8, 500.0, 3000, None, 5)  # the file's constraints
    assert page.stats.empirical_success_rate == stats.empirical_success_rate
    low, high = success_interval(stats)
    text = html.unescape(page.html)
    assert f"{stats.empirical_success_rate:.2%}" in text
    assert f"{low:.2%} to {high:.2%}" in text
    assert f"{stats.mean_latency_ms:.2f} ms" in text and "Alice \u2192 Repeater \u2192 Bob" in text
    ranking = tavo_tools.rank(engine, "Alice", "Bob", 0.8, 500.0, 800, seed=5)
    assert page.ranking.equals(ranking)
    first = ranking.iloc[0]
    assert f"{first['effect']:+.4f}" in text and "Base fidelity Alice\u2013Repeater" in text
    assert page.title == "metro-demo" and "<title>metro-demo</title>" in page.html
    assert [s.heading for s in page.sections] == [
        "Result",
        "Network and generation attempts",
        "What to improve first",
    ]


def test_page_is_self_contained(page):
    images = PNG.findall(page.html)
    assert len(images) == 2  # the network, the ranking
    for data in images:
        assert base64.b64decode(data)[:8] == b"\x89PNG\r\n\x1a\n"
    without_images = PNG.sub("", page.html)
    assert "<script" not in page.html and "src=" not in without_images
    assert not re.search(r"(https?:|//)[^\s\"']", without_images.replace("://", ""))
    assert "url(" not in page.html and "@import" not in page.html


def test_saving_and_notebook_display(page, tmp_path):
    path = tmp_path / "report.html"
    page.save(path)
    assert path.read_text(encoding="utf-8") == page.html
    shown = page._repr_html_()
    assert shown.startswith("<iframe srcdoc=") and html.unescape(shown).count("<h2>") == 3
    assert "<h2>" not in shown  # the page is quoted, not spliced into the notebook


def test_engine_needs_its_limits_and_files_lend_theirs(tmp_path):
    engine = chain_engine()
    with pytest.raises(ValueError, match="give fidelity_target"):
        tavo_tools.report(engine, "A", "D", runs=10)
    page = tavo_tools.report(engine, "A", "D", 0.75, 600.0, 400, path=tmp_path / "chain.html")
    assert page.title == "Network report" and (tmp_path / "chain.html").is_file()
    assert "fidelity at least 0.75 within 600 ms" in page.html
    loaded = tavo.load(DEMO)
    assert "within 500 ms" in tavo_tools.report(loaded, "Alice", "Bob", runs=200).html


def test_another_engine_for_a_files_network():
    # The file gives title, limits and drawing; the ensemble runs on the engine given.
    links = tavo.from_tavo_file(DEMO).links
    links[1].distance_km = 300.0  # Repeater - Bob
    other = tavo.TavoEngine()
    other.define_network(tavo.from_tavo_file(DEMO).nodes, links)
    page = tavo_tools.report(DEMO, "Alice", "Bob", runs=500, rank_runs=50, seed=2, engine=other)
    expected = other.simulate("Alice", "Bob", 0.8, 500.0, 500, None, 2)
    assert page.stats.empirical_success_rate == expected.empirical_success_rate
    own = tavo.from_tavo_file(DEMO).simulate("Alice", "Bob", 0.8, 500.0, 500, None, 2)
    assert expected.empirical_success_rate != own.empirical_success_rate
    assert page.title == "metro-demo"


@pytest.mark.parametrize("loss, parallel", [(0.2, False), (0.25, False), (0.2, True)])
def test_physical_model_adds_the_key_rate_section(loss, parallel):
    # The demo's route Alice - Repeater - Bob is 40 + 45 km long, its links' fastest source 2 kHz.
    # With sources of 500 Hz (below the 1.18 kHz at which 85 km of signalling bounds the attempts),
    # a later link beside a hop is not the one routing takes: its faster source does not count.
    engine = tavo.from_tavo_file(DEMO)
    physical = tavo.TavoEngine(tavo.SimulationConfig(physics=tavo.PhysicalModel(fiber_loss_db_km=loss)))
    links, source = engine.links, 2000.0
    if parallel:
        source = 500.0
        for link in links:
            link.generation_rate_hz = source
        links.append(tavo.LinkDefinition("Repeater", "Alice", 10.0, 0.9, 1e6))
    physical.define_network(engine.nodes, links)
    page = tavo_tools.report(DEMO, "Alice", "Bob", runs=300, rank_runs=30, seed=4, engine=physical)
    section = page.sections[-1]
    assert section.heading == "Key rate against the repeaterless bound"
    assert len(PNG.findall(section.body)) == 1
    rate = tavo_tools.key_rate(page.stats)
    bound = tavo_tools.repeaterless_key_rate(85.0, source, loss, 200.0)
    assert f"<td>{rate:.4g}</td>" in section.body and f"<td>{bound:.4g}</td>" in section.body
    # A repeater with memories may beat a direct fiber's bound: the ratio says by how much.
    assert rate > 0 and f"<td>{rate / bound:.3g}</td>" in section.body
    # The cycle model has no key-rate section.
    assert all(s.heading != section.heading
               for s in tavo_tools.report(DEMO, "Alice", "Bob", runs=100, rank_runs=10).sections)


def test_report_command(tmp_path, capsys):
    out = tmp_path / "team.html"
    argv = ["report", DEMO, "Alice", "Bob", "--runs", "1e3", "--rank-runs", "200", "--seed", "3"]
    argv += ["-o", str(out)]
    assert main(argv + ["--json"]) == 0
    result = json.loads(capsys.readouterr().out)
    assert result["seed"] == 3 and result["path"] == str(out)
    stats = tavo.from_tavo_file(DEMO).simulate("Alice", "Bob", 0.8, 500.0, 1000, None, 3)
    assert result["success_rate"] == stats.empirical_success_rate
    assert "metro-demo" in out.read_text(encoding="utf-8")
    assert main(["report", DEMO, "Alice", "Bob", "--runs", "10"]) == 2  # no -o
    assert "required: -o/--output" in capsys.readouterr().err


ARTIFACTS = ROOT / "build" / "test-artifacts"

needs_chromium = pytest.mark.skipif(
    executable() is None, reason="Chromium is not installed (.ci/run installs it)"
)


@needs_chromium
def test_report_in_a_headless_browser(page, tmp_path):
    path = tmp_path / "report.html"
    page.save(path)
    browser = Browser(tmp_path / "profile")
    try:
        session = browser.open(path.as_uri())
        drawn = browser.evaluate(
            session,
            "JSON.stringify([...document.images].map(i => [i.complete, i.naturalWidth,"
            " i.naturalHeight]))",
        )
        headings = browser.evaluate(
            session, "JSON.stringify([...document.querySelectorAll('h2')].map(h => h.textContent))"
        )
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        shot = ARTIFACTS / "report.png"
        browser.screenshot(session, shot)
        problems = browser.problems()
    finally:
        browser.close()
    images = json.loads(drawn)
    assert len(images) == 2
    assert all(complete and width > 300 and height > 200 for complete, width, height in images)
    assert json.loads(headings) == [section.heading for section in page.sections]
    assert problems == []
    assert shot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and shot.stat().st_size > 10_000


@needs_chromium
def test_the_browser_check_sees_broken_pages(tmp_path):
    # A page that fetches from elsewhere, fails a script and has a broken image: each shows.
    path = tmp_path / "broken.html"
    path.write_text(
        '<!DOCTYPE html><html><head><meta charset="utf-8"><title>x</title></head><body>'
        '<img src="https://example.invalid/figure.png">'
        '<img src="data:image/png;base64,AAAA">'
        "<script>console.error('boom'); undefined_function();</script></body></html>"
    )
    browser = Browser(tmp_path / "profile")
    try:
        session = browser.open(path.as_uri())
        widths = browser.evaluate(
            session, "JSON.stringify([...document.images].map(i => i.naturalWidth))"
        )
        problems = browser.problems()
    finally:
        browser.close()
    assert json.loads(widths) == [0, 0]
    assert any(p.startswith("request: https://example.invalid/") for p in problems)
    assert any(p.startswith("console error") and "boom" in p for p in problems)
    assert any(p.startswith("exception") and "undefined_function" in p for p in problems)

"""Rich display in notebooks: records show as HTML tables of their attributes (with units), nested
records as nested tables, and the engine in brief; every text is escaped."""

import re

import pytest

import tavo_core as t


def chain(n, name=lambda i: f"N{i}"):
    engine = t.TavoEngine()
    engine.define_network([t.NodeDefinition(name(i), 1.0) for i in range(n)],
                          [t.LinkDefinition(name(i), name(i + 1), 10.0, 0.97, 1e3) for i in range(n - 1)])
    return engine


def rows(markup):
    """(attribute, value text, unit) of the outermost table's rows."""
    return re.findall(r"<tr><th[^>]*>(\w+)</th><td>(.*?)</td><td>([^<]*)</td></tr>", markup)


def test_statistics_show_every_figure_with_its_unit():
    stats = chain(3).simulate("N0", "N2", 0.9, 500.0, 200, seed=4)
    shown = {name: (value, unit) for name, value, unit in rows(stats._repr_html_())}
    assert shown["total_runs"] == ("<code>200</code>", "")
    assert shown["mean_latency_ms"] == (f"<code>{stats.mean_latency_ms!r}</code>", "ms")
    assert shown["empirical_success_rate"][0] == f"<code>{stats.empirical_success_rate!r}</code>"
    heatmap = repr(stats.link_utilization_heatmap).replace(">", "&gt;")
    assert shown["link_utilization_heatmap"] == (f"<code>{heatmap}</code>", "")


def test_texts_are_escaped_and_nested_records_are_tables():
    topology = t.TavoFile("<b>net</b> & co")
    topology.add_node("<script>", 5.0)
    markup = topology._repr_html_()
    assert "<script>" not in markup and "&lt;script&gt;" in markup
    assert "&lt;b&gt;net&lt;/b&gt; &amp; co" in markup
    # The metadata is a table of its own inside the file's.
    assert "<caption" in markup.split("<th style=\"text-align:left\">metadata</th>", 1)[1]


def test_long_lists_show_their_first_items():
    topology = t.TavoFile("many")
    for i in range(25):
        topology.add_node(f"n{i}", 1.0)
    markup = topology._repr_html_()
    assert markup.count("<b>TavoNode</b>") == 10 and "&hellip; 15 more" in markup


def test_a_list_its_items_change_while_shown():
    """An item's own HTML is the user's code, and a file's extensions are the user's own list:
    what is shown is what the list held when the display began."""
    topology = t.TavoFile("changing")

    class Item:
        def _repr_html_(self):
            topology.extensions.clear()
            return "<i>item</i>"

    topology.extensions = [Item() for _ in range(12)]
    markup = topology._repr_html_()
    assert markup.count("<i>item</i>") == 10 and "more" not in markup


@pytest.mark.parametrize("engine, expected", [
    (t.TavoEngine(), "no network"),
    (chain(3), "3 nodes, 2 links"),
])
def test_the_engine_in_brief(engine, expected):
    assert expected in engine._repr_html_()


def test_the_engine_lists_its_first_links_only():
    markup = chain(30, name=lambda i: f"<{i}>")._repr_html_()
    assert markup.count("<tr><td>") == 20 and "&hellip; 9 more links" in markup
    assert "<td>&lt;0&gt;</td><td>&lt;1&gt;</td><td>10</td><td>0.97</td><td>1000</td><td>fiber</td>" in markup


def test_every_record_class_displays_itself():
    engine = chain(2)
    values = [engine.simulate("N0", "N1", 0.5, 50.0, 3, seed=1), engine.request_entanglement("N0", "N1", 0.5, 50.0),
              t.compare_topologies([t.TopologyEndpoints("repeater_chain", "N0", "N3")], 0.5, 500.0, 5),
              engine.snapshot(), t.SimulationConfig(), t.LinkDefinition("a", "b", 1.0, 0.9, 1.0)]
    for value in values:
        markup = value._repr_html_()
        assert markup.startswith("<table>") and f"<b>{type(value).__name__}</b>" in markup

"""The number and text forms used by messages, representations and summaries, beyond what the JSON
vectors pin: the debug form of texts, fixed decimals, the plain and debug forms of floats at their
edges, and truncation to a whole number. Driven through the probe's text-forms command."""

import math
import struct

import pytest

from json_batch import text_forms


def bits(value):
    return "0x%016x" % struct.unpack("<Q", struct.pack("<d", value))[0]


def form(probe, name, value, *extra):
    return text_forms(probe, [" ".join([name, bits(value), *map(str, extra)])])[0]


NAN, INF = math.nan, math.inf


@pytest.mark.parametrize("value, expected", [
    (50.0, "50"), (0.95, "0.95"), (1e-7, "0.0000001"), (-0.0, "-0"), (0.0, "0"), (-5.0, "-5"),
    (1.5, "1.5"), (1e21, "1000000000000000000000"), (123456789012345678.0, "123456789012345680"),
    (1.5e-7, "0.00000015"), (-1234.5, "-1234.5"), (0.1 + 0.2, "0.30000000000000004"),
    (5e-324, "0." + "0" * 323 + "5"), (NAN, "NaN"), (INF, "inf"), (-INF, "-inf"),
])
def test_plain(probe, value, expected):
    assert form(probe, "plain", value) == expected


@pytest.mark.parametrize("value, expected", [
    (100.0, "100.0"), (0.5, "0.5"), (0.0, "0.0"), (-0.0, "-0.0"), (1.0, "1.0"), (0.2, "0.2"),
    (1e-4, "0.0001"), (9.99e-5, "9.99e-5"), (1e-5, "1e-5"), (-2.5e-7, "-2.5e-7"),
    (9999999999999998.0, "9999999999999998.0"), (1e16, "1e16"), (1.5e16, "1.5e16"),
    (1.7976931348623157e308, "1.7976931348623157e308"), (5e-324, "5e-324"),
    (NAN, "NaN"), (INF, "inf"), (-INF, "-inf"),
])
def test_debug(probe, value, expected):
    assert form(probe, "debug", value) == expected


@pytest.mark.parametrize("value, decimals, expected", [
    (0.9, 2, "0.90"), (0.857, 2, "0.86"), (1234.5678, 4, "1234.5678"), (3.0, 0, "3"),
    # Exact binary ties round to even; texts that only look like ties round by their binary value.
    (0.125, 2, "0.12"), (0.375, 2, "0.38"), (2.5, 0, "2"), (3.5, 0, "4"), (1.005, 2, "1.00"),
    (0.045, 2, "0.04"), (-0.0, 2, "-0.00"), (-0.001, 2, "-0.00"), (-1.25, 1, "-1.2"),
    (1e21, 2, "1000000000000000000000.00"), (5e-324, 4, "0.0000"),
    (NAN, 2, "NaN"), (INF, 2, "inf"), (-INF, 4, "-inf"),
])
def test_fixed(probe, value, decimals, expected):
    assert form(probe, "fixed", value, decimals) == expected


@pytest.mark.parametrize("value, expected", [
    (85.7, "85"), (0.857 * 100, "85"), (100.0, "100"), (0.999, "0"), (-3.2, "0"), (-0.0, "0"),
    (NAN, "0"), (1e30, "18446744073709551615"), (INF, "18446744073709551615"),
])
def test_truncated(probe, value, expected):
    assert form(probe, "truncated", value) == expected


@pytest.mark.parametrize("text, expected", [
    ("", '""'), ("abc", '"abc"'), ('a"b', r'"a\"b"'), ("a\\b", r'"a\\b"'), ("it's", '"it\'s"'),
    ("a\nb\rc\td", r'"a\nb\rc\td"'), ("\0", r'"\0"'), ("\x01", r'"\u{1}"'), ("\x1b", r'"\u{1b}"'),
    ("\x1f", r'"\u{1f}"'), ("\x7f", r'"\u{7f}"'), ("\b\f", r'"\u{8}\u{c}"'),
    ("café", '"café"'), ("😀", '"😀"'), ("/", '"/"'),
])
def test_debug_string(probe, text, expected):
    request = "debug_string " + (text.encode().hex() or "-")
    assert text_forms(probe, [request])[0] == expected

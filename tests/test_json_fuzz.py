"""Damaged documents: random byte changes, insertions, deletions, truncations and splices of valid
documents go through the reader. Whatever the bytes, the probe finishes, and each result is a
written document that reads back to itself, a message with a position inside the text, or (for
bytes that are not UTF-8) the reading failure. Fixed seed, so a failure reproduces."""

import pathlib
import random
import re

import pytest

from json_batch import read_jsonl, run_batch

DATA = pathlib.Path(__file__).parent / "data"
SEED = 1729
COUNT = 2500
POSITIONED = re.compile(rb"(.*) at line (\d+) column (\d+)", re.S)
PIECES = [b"{", b"}", b"[", b"]", b'"', b",", b":", b"\\", b"\\u", b"\\ud800", b"null", b"-",
          b".", b"e", b"0", b"9", b"1e400", b" ", b"\n", b"\t", b"\r", b"\x00", b"\x7f",
          b"\xc3\xa9", b"\xff"]


def valid_documents():
    cases = read_jsonl(DATA / "json_cases.jsonl")
    return [(c["format"], c["doc"].encode()) for c in cases if c["ok"] and len(c["doc"]) < 4000]


def damaged(rng, docs):
    fmt, doc = rng.choice(docs)
    doc = bytearray(doc)
    for _ in range(rng.randint(1, 3)):
        where = rng.randrange(len(doc) + 1)
        op = rng.randrange(6)
        if op == 0 and doc:  # change a byte
            doc[min(where, len(doc) - 1)] = rng.randrange(256)
        elif op == 1:  # insert a piece of syntax
            doc[where:where] = rng.choice(PIECES)
        elif op == 2:  # delete a run
            del doc[where:where + rng.randint(1, 8)]
        elif op == 3:  # truncate
            del doc[where:]
        elif op == 4:  # splice with another document
            other = rng.choice(docs)[1]
            doc[where:] = other[rng.randrange(len(other) + 1):]
        else:  # repeat a run
            doc[where:where] = doc[where:where + rng.randint(1, 40)]
    return rng.choice([fmt, fmt, "value"]), bytes(doc)


@pytest.fixture(scope="module")
def fuzz_results(probe):
    rng = random.Random(SEED)
    docs = valid_documents()
    cases = [damaged(rng, docs) for _ in range(COUNT)]
    results = run_batch(probe, cases, timeout=120)
    written = [(fmt, payload)
               for (fmt, _), (status, payload) in zip(cases, results) if status == "ok"]
    again = run_batch(probe, written, timeout=120)
    return cases, results, again


def test_every_result_is_a_document_or_a_positioned_message(fuzz_results):
    cases, results, _ = fuzz_results
    for (fmt, doc), (status, payload) in zip(cases, results):
        try:
            doc.decode("utf-8")
        except UnicodeDecodeError:
            assert status == "io", doc
            continue
        assert status in ("ok", "error"), doc
        if status == "error":
            match = POSITIONED.fullmatch(payload)
            assert match, (doc, payload)
            line, column = int(match[2]), int(match[3])
            lines = doc.split(b"\n")
            assert 1 <= line <= len(lines), (doc, payload)
            assert column <= len(lines[line - 1]), (doc, payload)


def test_written_documents_read_back_to_themselves(fuzz_results):
    _, results, again = fuzz_results
    written = [payload for status, payload in results if status == "ok"]
    assert len(written) > 50  # the damage leaves a fair share of documents readable
    assert [payload for _, payload in again] == written
    assert all(status == "ok" for status, _ in again)

"""Running documents through the probe's json-batch and text-forms commands, one process for a
whole list of cases; reading the line-per-case vector files."""

import json
import subprocess


def read_jsonl(path):
    # Split on line feeds only: the documents hold characters that str.splitlines() also breaks at.
    return [json.loads(line) for line in path.read_text(encoding="utf-8").split("\n") if line]


def run_batch(probe, cases, timeout=120):
    """cases: (format, bytes) pairs. Returns (status, payload bytes) pairs, one per case."""
    stdin = b"".join(
        f"{fmt} {len(doc)}\n".encode() + doc + b"\n" for fmt, doc in cases
    )
    out = subprocess.run(
        [str(probe), "json-batch"], input=stdin, capture_output=True, timeout=timeout, check=True
    ).stdout
    results, pos = [], 0
    while pos < len(out):
        line_end = out.index(b"\n", pos)
        status, length = out[pos:line_end].decode().split(" ")
        start = line_end + 1
        payload = out[start:start + int(length)]
        results.append((status, payload))
        pos = start + int(length) + 1
    assert len(results) == len(cases), "the probe stopped before the end of the batch"
    return results


def values_equal(probe, pairs):
    """pairs: (text, text) of two free-form values; whether the values are equal, per pair."""
    stdin = b"".join(f"value {len(doc)}\n".encode() + doc + b"\n"
                     for pair in pairs for doc in map(str.encode, pair))
    out = subprocess.run([str(probe), "json-equal"], input=stdin, capture_output=True, timeout=60,
                         check=True).stdout.decode().split()
    assert len(out) == len(pairs)
    return [answer == "true" for answer in out]


def text_forms(probe, lines):
    """lines: "FORM ARG..." requests of the text-forms command; returns the result lines."""
    out = subprocess.run(
        [str(probe), "text-forms"], input="".join(l + "\n" for l in lines).encode(),
        capture_output=True, timeout=60, check=True,
    ).stdout.decode()
    results = out.split("\n")[:-1]
    assert len(results) == len(lines)
    return results

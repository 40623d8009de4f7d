"""The random source: ChaCha12 outputs, buffer refills, double constructions, the integer threshold
for the link-attempt draw, and the per-thread generator. Driven through the core probe."""

import json
import math
import pathlib
import random
import struct
import subprocess

import pytest

import chacha_model
from chacha_model import Generator

VECTORS = json.loads((pathlib.Path(__file__).parent / "data" / "rng.json").read_text())
NEVER = 1 << 52


def run(probe, *args):
    out = subprocess.run([str(probe), *map(str, args)], capture_output=True, text=True, check=True)
    return out.stdout.split()


def bits_to_float(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def float_to_bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def inclusive(x):
    """The [0, 1] construction, spelled out independently of the core."""
    return (bits_to_float(0x3FF0000000000000 | (x >> 12)) - 1.0) * 1.0000000000000002


def generator_arg(case):
    return f"seed:{case['seed_from_u64']}" if "seed_from_u64" in case else "zero"


GENERATORS = VECTORS["seeded"] + [VECTORS["zero_key"]]
GENERATOR_IDS = [case["label"] for case in GENERATORS]


@pytest.mark.parametrize("case", GENERATORS, ids=GENERATOR_IDS)
def test_key_words(probe, case):
    assert [int(w, 16) for w in run(probe, "rng-key", generator_arg(case))] == [
        int(w, 16) for w in case["key_words_le"]
    ]


@pytest.mark.parametrize("case", GENERATORS, ids=GENERATOR_IDS)
def test_generator_from_key_words(probe, case):
    key = ",".join(w[2:] for w in case["key_words_le"])
    assert [int(v) for v in run(probe, "rng", f"key:{key}", "u32x20")] == case["next_u32"]


@pytest.mark.parametrize("case", GENERATORS, ids=GENERATOR_IDS)
@pytest.mark.parametrize("kind", ["next_u32", "next_u64", "inclusive", "half_open"])
def test_first_outputs(probe, case, kind):
    op = {"next_u32": "u32", "next_u64": "u64", "inclusive": "inc", "half_open": "half"}[kind]
    expected = case[kind]
    got = [int(v, 0) for v in run(probe, "rng", generator_arg(case), f"{op}x{len(expected)}")]
    if kind == "next_u32":
        assert got == expected
    elif kind == "next_u64":
        assert got == [int(v) for v in expected]
        assert got == [int(v, 16) for v in case["next_u64_hex"]]
    else:
        assert got == [int(v["bits"], 16) for v in expected]


@pytest.mark.parametrize(
    "case", VECTORS["buffer_boundaries"], ids=[c["label"] for c in VECTORS["buffer_boundaries"]]
)
def test_buffer_boundaries(probe, case):
    k = case["u32_calls_before"]
    out = run(probe, "rng", "zero", f"u32x{k}", "u64", "u32", "u64")
    assert int(out[k - 1]) == case["last_u32_before"]
    assert int(out[k], 16) == int(case["next_u64"]) == int(case["next_u64_hex"], 16)
    assert int(out[k + 1]) == case["then_next_u32"]
    assert int(out[k + 2], 16) == int(case["then_next_u64"]) == int(case["then_next_u64_hex"], 16)


RAW = [
    ("seed:42", VECTORS["raw_u32_stream"]["seed_42_first_128_words"]),
    ("zero", VECTORS["raw_u32_stream"]["zero_key_first_192_words"]),
]


@pytest.mark.parametrize("gen,words", RAW, ids=[r[0] for r in RAW])
def test_raw_stream(probe, gen, words):
    assert [int(v) for v in run(probe, "rng", gen, f"u32x{len(words)}")] == words


@pytest.mark.parametrize("gen,words", RAW, ids=[r[0] for r in RAW])
@pytest.mark.parametrize("skip", [0, 1, 2, 3])
def test_u64_and_draws_follow_word_stream(probe, gen, words, skip):
    # After `skip` single words, 64-bit outputs pair the following words low-then-high, also across
    # refills at odd offsets; each draw consumes exactly one such output.
    pairs = [words[i] | words[i + 1] << 32 for i in range(skip, len(words) - 1, 2)]
    n = len(pairs)
    assert [int(v, 16) for v in run(probe, "rng", gen, f"u32x{skip}", f"u64x{n}")][skip:] == pairs
    draws = [int(v, 16) for v in run(probe, "rng", gen, f"u32x{skip}", f"incx{n}")][skip:]
    assert draws == [float_to_bits(inclusive(x)) for x in pairs]


EXTREMES = VECTORS["construction_extremes"]


@pytest.mark.parametrize("case", EXTREMES, ids=[c["u64_hex"] for c in EXTREMES])
def test_construction_extremes(probe, case):
    inclusive_bits, half_open_bits = run(probe, "rng-convert", case["u64_hex"][2:])
    assert int(inclusive_bits, 16) == int(case["inclusive"]["bits"], 16)
    assert int(half_open_bits, 16) == int(case["half_open"]["bits"], 16)


def threshold_probabilities():
    rnd = random.Random(11)
    ps = [0.0, -0.0, -1.0, 5e-324, 2.0**-53, 2.0**-52, 0.1, 0.25, 0.5, 0.9, 0.999, 1.0 - 2.0**-53,
          1.0, math.nextafter(1.0, 2.0), 2.0, math.inf, -math.inf, math.nan]
    # Draw values themselves and their neighbours: the places where < and <= part ways.
    for m in [1, 2, 3, 1 << 51, (1 << 51) + 1, NEVER - 3, NEVER - 2, NEVER - 1] + [
        rnd.randrange(NEVER) for _ in range(40)
    ]:
        u = inclusive(m << 12)
        ps += [u, math.nextafter(u, -1.0), math.nextafter(u, 2.0)]
    ps += [rnd.random() for _ in range(40)]
    return ps


def test_inclusive_threshold_agrees_with_draw_comparison(probe):
    ps = threshold_probabilities()
    out = run(probe, "rng-threshold", *[f"{float_to_bits(p):x}" for p in ps])
    thresholds = [int(t) for t in out]
    rnd = random.Random(3)
    for p, t in zip(ps, thresholds):
        assert 0 <= t <= NEVER
        ms = list(range(max(0, t - 40), min(NEVER, t + 40)))
        ms += [0, NEVER - 1] + [rnd.randrange(NEVER) for _ in range(100)]
        for m in ms:
            x = (m << 12) | rnd.getrandbits(12)
            assert (inclusive(x) < p) == (m < t), (p, t, m)


@pytest.mark.parametrize(
    "p,expected",
    [(math.nan, 0), (0.0, 0), (-0.0, 0), (-math.inf, 0), (5e-324, 1), (1.0, NEVER - 1),
     (math.nextafter(1.0, 2.0), NEVER), (math.inf, NEVER)],
)
def test_inclusive_threshold_edges(probe, p, expected):
    assert int(run(probe, "rng-threshold", f"{float_to_bits(p):x}")[0]) == expected


def test_thread_generator_draws(probe):
    n = 100_000
    first = [bits_to_float(int(v, 16)) for v in run(probe, "rng-thread", n)]
    second = [bits_to_float(int(v, 16)) for v in run(probe, "rng-thread", 3)]
    assert all(0.0 <= u < 1.0 for u in first)
    assert first[0] != first[1]
    assert first[:3] != second
    assert 0.09 < sum(u < 0.1 for u in first) / n < 0.11


def test_thread_generator_rekeys_every_64_kib(probe):
    # 8192 64-bit outputs are 64 KiB; the first draw keys the generator.
    rekeys = [int(v) for v in run(probe, "rng-thread-rekeys", 40_000)]
    assert rekeys == [0, 8192, 16384, 24576, 32768]


@pytest.mark.parametrize("stream", [0, 1, 2**32 + 5, 2**64 - 1])
@pytest.mark.parametrize("gen,model", [("seed:42", lambda s: Generator.seeded(42, s)),
                                       ("zero", lambda s: Generator([0] * 8, s))], ids=["seed42", "zero"])
def test_streams_of_one_key(probe, gen, model, stream):
    # The stream number is the block's 64-bit nonce: each stream of a key is a sequence of its own,
    # across refills as well.
    expected = model(stream)
    words = [int(v) for v in run(probe, "rng", f"{gen}@{stream}", "u32x130")]
    assert words == [expected.next_u32() for _ in range(130)]
    if stream:
        assert words[:16] != [int(v) for v in run(probe, "rng", gen, "u32x16")]


# Every block function this build has, on the CPU it runs on. The generators must give the same
# outputs whichever one refills them, including when the choice changes between refills. A new
# generator refills with one block at first and widens as its counter allows, so streams are
# checked over dozens of blocks.

KERNELS = ["portable", "avx2", "avx512"]


@pytest.fixture(params=KERNELS)
def kernel(request, probe):
    support = dict(line.split() for line in run_lines(probe, "rng-kernels"))
    assert set(support) == set(KERNELS)
    if support[request.param] != "supported":
        pytest.skip(f"this CPU cannot run the {request.param} block function")
    return request.param


def run_lines(probe, *args):
    out = subprocess.run([str(probe), *map(str, args)], capture_output=True, text=True, check=True)
    return out.stdout.splitlines()


def supported_kernels(probe):
    return [line.split()[0] for line in run_lines(probe, "rng-kernels")
            if line.endswith(" supported")]


@pytest.mark.parametrize("counter", [0, 5, 2**32 - 3, 2**64 - 7],
                         ids=["zero", "odd", "carry", "wrap"])
@pytest.mark.parametrize("gen,stream", [("zero", 0), ("seed:42", 0), ("seed:42", 2**64 - 2),
                                        ("key:0,1,2,3,fffffffe,ffffffff,80000000,7", 2**32 + 9)])
def test_block_function_against_model(probe, kernel, gen, stream, counter):
    # Each lane's 64-bit counter carries into its high word on its own, and wraps at 2^64; the
    # stream number fills the last two words of every lane.
    key = [int(w, 16) for w in run(probe, "rng-key", gen)]
    words = [int(w) for w in run(probe, "rng-blocks", kernel, f"{gen}@{stream}", counter)]
    blocks = {"portable": 4, "avx2": 8, "avx512": 16}[kernel]
    expected = []
    for b in range(blocks):
        expected += chacha_model.chacha12_block(key, (counter + b) % 2**64, stream)
    assert words == expected


@pytest.mark.parametrize("gen,words", RAW, ids=[r[0] for r in RAW])
def test_block_function_against_reference_stream(probe, kernel, gen, words):
    out = [int(w) for w in run(probe, "rng-blocks", kernel, gen, 0)]
    n = min(len(out), len(words))
    assert n >= 64 and out[:n] == words[:n]


@pytest.mark.parametrize(
    "case", VECTORS["buffer_boundaries"], ids=[c["label"] for c in VECTORS["buffer_boundaries"]]
)
def test_buffer_boundaries_with_each_kernel(probe, kernel, case):
    k = case["u32_calls_before"]
    out = run(probe, "rng", "zero", f"kernel:{kernel}", f"u32x{k}", "u64", "u32", "u64")
    assert int(out[k - 1]) == case["last_u32_before"]
    assert int(out[k], 16) == int(case["next_u64"])
    assert int(out[k + 1]) == case["then_next_u32"]
    assert int(out[k + 2], 16) == int(case["then_next_u64"])


@pytest.mark.parametrize("gen,words", RAW, ids=[r[0] for r in RAW])
def test_raw_stream_with_each_kernel(probe, kernel, gen, words):
    got = run(probe, "rng", gen, f"kernel:{kernel}", f"u32x{len(words)}")
    assert [int(v) for v in got] == words


@pytest.mark.parametrize("skip,stream", [(0, 0), (1, 0), (1, 3)])
def test_long_stream_with_each_kernel(probe, kernel, skip, stream):
    # Two thousand 64-bit outputs span sixty-odd blocks: refills of every size, with the last word
    # of a refill either ending an output or starting one that straddles into the next.
    model = chacha_model.Generator.seeded(7, stream)
    expected = [model.next_u32() for _ in range(skip)]
    expected += [model.next_u64() for _ in range(2000)]
    got = [int(v, 0) for v in run(probe, "rng", f"seed:7@{stream}", f"kernel:{kernel}",
                                  f"u32x{skip}", "u64x2000")]
    assert got == expected


def test_kernel_changes_between_refills(probe):
    # A wider block function starts only at a counter it is aligned to; until then the narrower
    # ones refill. Whatever the sequence, the outputs are the model's.
    kernels = supported_kernels(probe)
    model = chacha_model.Generator.seeded(3)
    args, expected = [], []
    for step in range(40):
        args.append("kernel:" + kernels[step % len(kernels)])
        if step % 3 == 0:
            args.append("u32x17")
            expected += [model.next_u32() for _ in range(17)]
        else:
            args.append("u64x45")
            expected += [model.next_u64() for _ in range(45)]
    assert [int(v, 0) for v in run(probe, "rng", "seed:3", *args)] == expected


def test_copies_go_on_where_the_original_was(probe):
    # A copy takes only the buffered words not yet handed out; it must give what the original would.
    model = chacha_model.Generator.seeded(9, 5)
    args, expected = [], []
    for count in [1, 62, 1, 0, 63, 64, 7, 128, 255, 3]:
        args += [f"u32x{count}", "copy", "u64", "copy"]
        expected += [model.next_u32() for _ in range(count)] + [model.next_u64()]
    assert [int(v, 0) for v in run(probe, "rng", "seed:9@5", *args)] == expected


REKEYS = [0, 8192, 16384, 24576, 32768]  # 8192 64-bit outputs are 64 KiB


def test_thread_generator_rekeys_every_64_kib_with_each_kernel(probe, kernel):
    assert [int(v) for v in run(probe, "rng-thread-rekeys", 40_000, kernel)] == REKEYS


def test_thread_generator_rekeys_exactly_while_kernels_change(probe):
    kernels = supported_kernels(probe)
    assert [int(v) for v in run(probe, "rng-thread-rekeys", 40_000, *kernels)] == REKEYS


def test_unsupported_or_unknown_kernel_is_refused(probe):
    support = dict(line.split() for line in run_lines(probe, "rng-kernels"))
    assert support["portable"] == "supported"
    unknown = subprocess.run([str(probe), "rng", "zero", "kernel:sse9", "u32"], capture_output=True,
                             text=True)
    assert unknown.returncode == 2 and unknown.stdout == ""
    for name, state in support.items():
        if state == "unsupported":
            refused = subprocess.run([str(probe), "rng", "zero", f"kernel:{name}", "u32"],
                                     capture_output=True, text=True)
            assert refused.returncode == 3 and refused.stdout == ""


# Computing only the blocks that are used: refills of one block, then one, two, four, ... up to
# the kernel's width; block 0 of many seeded generators at once; runs of exactly the blocks asked
# for; outputs taken in bulk and counted against thresholds.

WIDTH = {"portable": 4, "avx2": 8, "avx512": 16}


def blocks_after_draws(draws, width, four=False):
    """Blocks a fresh generator has computed once it handed out `draws` 64-bit outputs."""
    computed = 0
    while 16 * computed < 2 * draws:
        size = 1 if computed == 0 else computed & -computed
        size = min(size, width)
        computed += max(size, 4) if four else size
    return computed


@pytest.mark.parametrize("draws", [1, 8, 9, 16, 17, 33, 64, 65, 129, 300])
@pytest.mark.parametrize("four", [False, True], ids=["small-first", "four-first"])
def test_refills_compute_only_what_is_used(probe, kernel, draws, four):
    args = ["seed:21", f"kernel:{kernel}"] + (["four"] if four else []) + [f"u64x{draws}", "blocks"]
    out = run(probe, "rng", *args)
    model = Generator.seeded(21)
    assert [int(v, 16) for v in out[:-1]] == [model.next_u64() for _ in range(draws)]
    assert int(out[-1]) == blocks_after_draws(draws, WIDTH[kernel], four)


@pytest.mark.parametrize("stream", [0, 1, 2**64 - 1])
@pytest.mark.parametrize("first", [0, 42, 2**64 - 5, 2**63 - 1])
def test_seeded_first_blocks_against_model(probe, kernel, stream, first):
    # One generator per lane, seeds counting up from `first` and wrapping past 2^64.
    out = run_lines(probe, "rng-seeded-first-blocks", kernel, stream, first)
    assert len(out) == 2 * WIDTH[kernel]
    for i in range(WIDTH[kernel]):
        key = chacha_model.pcg32_key((first + i) % 2**64)
        assert [int(w, 16) for w in out[2 * i].split()] == key
        block = chacha_model.chacha12_block(key, 0, stream)
        assert [int(w) for w in out[2 * i + 1].split()] == block


GENS = ["zero", "seed:1", "seed:42", "key:0,1,2,3,fffffffe,ffffffff,80000000,7", "seed:7",
        "seed:8", "seed:18446744073709551615", "seed:3", "seed:4", "seed:5", "seed:6", "seed:9",
        "seed:10", "seed:11", "seed:12", "seed:13"]


@pytest.mark.parametrize("stream", [0, 1, 2**64 - 1])
@pytest.mark.parametrize("given", [1, 3, 16], ids=["one", "three", "many"])
def test_first_blocks_of_keys_against_model(probe, kernel, stream, given):
    gens = GENS[:min(given, WIDTH[kernel])]
    out = run_lines(probe, "rng-first-blocks", kernel, stream, *gens)
    assert len(out) == len(gens)
    for line, gen in zip(out, gens):
        key = [int(w, 16) for w in run(probe, "rng-key", gen)]
        assert [int(w) for w in line.split()] == chacha_model.chacha12_block(key, 0, stream)


@pytest.mark.parametrize("count", [1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33])
@pytest.mark.parametrize("counter", [0, 5, 2**64 - 3], ids=["zero", "odd", "wrap"])
def test_block_run_against_model(probe, kernel, counter, count):
    key = [int(w, 16) for w in run(probe, "rng-key", "seed:42")]
    words = [int(w) for w in run(probe, "rng-run", kernel, "seed:42@3", counter, count)]
    expected = []
    for b in range(count):
        expected += chacha_model.chacha12_block(key, (counter + b) % 2**64, 3)
    assert words == expected


@pytest.mark.parametrize("skip", [0, 1, 6, 32, 40])
@pytest.mark.parametrize("take", [0, 1, 7, 8, 100, 129, 1000])
def test_outputs_taken_in_bulk(probe, kernel, skip, take):
    # After `skip` single words the bulk outputs are the 64-bit outputs that follow, one at a time
    # when they straddle (odd skip), and the generator goes on after them. Whole blocks are taken
    # from the buffer first, and then exactly the blocks still needed are computed.
    model = Generator.seeded(11, 2)
    expected = [model.next_u32() for _ in range(skip)]
    expected += [model.next_u64() for _ in range(take + 1)]
    out = run(probe, "rng", "seed:11@2", f"kernel:{kernel}", f"u32x{skip}", "blocks",
              f"take:{take}", "blocks", "u64")
    before, after = int(out[skip]), int(out[skip + take + 1])
    got = [int(v, 0) for v in out[:skip] + out[skip + 1:skip + take + 1] + out[-1:]]
    assert got == expected
    if skip % 2 == 0:
        assert after == max(before, -(-(skip + 2 * take) // 16))


@pytest.mark.parametrize("draws", [0, 1, 3, 5, 128, 129, 700])
@pytest.mark.parametrize("thresholds", [[0], [NEVER], [1 << 51], [NEVER, 0, 3 << 50],
                                        [12345678901234, NEVER - 1, 1, 1 << 50, 3 << 50]],
                         ids=["all-fail", "none-fail", "half", "three-hops", "five-hops"])
def test_failures_counted_in_bulk(probe, kernel, draws, thresholds):
    model = Generator.seeded(13)
    outputs = [model.next_u64() for _ in range(draws)]
    expected = sum((x >> 12) >= thresholds[k % len(thresholds)] for k, x in enumerate(outputs))
    got = run(probe, "rng-count", kernel, "seed:13", draws, *thresholds)
    assert int(got[0]) == expected

"""tavo_tools.simulate: chunked ensembles equal the engine's on threads, any executor and processes;
seeds, empty ensembles, argument errors, interrupts and the progress bar."""

import concurrent.futures as cf
import math
import multiprocessing
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import tavo_core as tavo
import tavo_tools
from tavo_tools import _shared
from conftest import child_environment, default_sigint
from tools_support import ONE_HOP, ROUTES, assert_same_ensemble, chain_engine

# Seeds near the top of the unsigned 64-bit range make later chunks wrap around to small seeds.
SEEDS = [7, 2**64 - 150]


class RecordingExecutor(cf.Executor):
    """A thread pool that keeps the futures it hands out and the times its tasks start; each task
    first sleeps `delay` seconds, so that tasks are slow while submitting them is quick."""

    def __init__(self, workers=1, delay=0.0):
        self.pool = cf.ThreadPoolExecutor(workers)
        self.futures = []
        self.starts = []
        self.delay = delay

    def submit(self, fn, /, *args, **kwargs):
        def started(*args, **kwargs):
            self.starts.append(time.monotonic())
            time.sleep(self.delay)
            return fn(*args, **kwargs)

        future = self.pool.submit(started, *args, **kwargs)
        self.futures.append(future)
        return future

    def shutdown(self, wait=True, *, cancel_futures=False):
        self.pool.shutdown(wait=wait, cancel_futures=cancel_futures)


class InlineExecutor(cf.Executor):
    """Runs each task at submission; the task numbered `fail_at` fails as a lost worker would."""

    def __init__(self, fail_at=None):
        self.fail_at = fail_at
        self.submitted = 0

    def submit(self, fn, /, *args, **kwargs):
        future = cf.Future()
        if self.submitted == self.fail_at:
            future.set_exception(ConnectionError("worker lost"))
        else:
            future.set_result(fn(*args, **kwargs))
        self.submitted += 1
        return future


@pytest.fixture(scope="module")
def engine():
    return chain_engine()


@pytest.mark.parametrize("route", list(ROUTES))
@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize(
    "runs, options",
    [
        (3000, {}),  # the default plan
        (3000, {"workers": 3, "chunk_runs": 97}),  # a short last chunk
        (3000, {"chunk_runs": 5000}),  # one chunk
        (120, {"chunk_runs": 1, "workers": 2}),  # one trial per chunk
    ],
)
def test_chunks_add_up_to_the_engines_ensemble(engine, route, seed, runs, options):
    source, target, fidelity, budget = ROUTES[route]
    strategy = tavo.StrategyType.HighestSuccess
    expected = engine.simulate(source, target, fidelity, budget, runs, strategy, seed)
    stats = tavo_tools.simulate(
        engine, source, target, fidelity, budget, runs, strategy, seed, **options
    )
    assert_same_ensemble(stats, expected)


@pytest.mark.parametrize("route", list(ROUTES))
def test_any_executor_gives_the_same_ensemble(engine, route):
    source, target, fidelity, budget = ROUTES[route]
    expected = engine.simulate(source, target, fidelity, budget, 2000, None, 99)
    executor = InlineExecutor()
    stats = tavo_tools.simulate(
        engine, source, target, fidelity, budget, 2000, None, 99, executor=executor, chunk_runs=300
    )
    assert executor.submitted == 7
    assert_same_ensemble(stats, expected)


@pytest.mark.parametrize("route", ONE_HOP + ["three-hop"])
def test_process_pool_carries_the_engine(engine, route):
    source, target, fidelity, budget = ROUTES[route]
    expected = engine.simulate(source, target, fidelity, budget, 4000, None, 3)
    # spawn: the test process runs threads, and forking it could copy a held lock
    with cf.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        stats = tavo_tools.simulate(
            engine, source, target, fidelity, budget, 4000, None, 3, executor=pool, chunk_runs=1000
        )
    assert_same_ensemble(stats, expected)


@pytest.mark.parametrize("clock, seed", [(123456789, 123456789), (2**64 + 5, 5), (-1, 0)])
def test_no_seed_reads_the_clock_once_as_the_engine_does(engine, monkeypatch, clock, seed):
    reads = []
    monkeypatch.setattr(_shared.time, "time_ns", lambda: reads.append(1) or clock)
    stats = tavo_tools.simulate(engine, "A", "B", 0.9, 200.0, 500, workers=2, chunk_runs=50)
    monkeypatch.undo()
    assert len(reads) == 1
    expected = engine.simulate("A", "B", 0.9, 200.0, 500, None, seed)
    assert stats._context.seed is None
    stats._context = expected._context  # the engine stores the seed as given, None here
    assert_same_ensemble(stats, expected)


def test_empty_ensemble_is_the_engines(engine):
    stats = tavo_tools.simulate(engine, "A", "B", 0.9, 200.0, 0, tavo.StrategyType.LowestLatency, 4)
    assert stats.total_runs == 0
    assert math.isnan(stats.empirical_success_rate) and math.isnan(stats.mean_latency_ms)
    assert (
        stats.mean_fidelity,
        stats.aggregate_congestion_drops,
        stats.link_utilization_heatmap,
    ) == (0.0, 0, {})
    assert_same_ensemble(
        stats, engine.simulate("A", "B", 0.9, 200.0, 0, tavo.StrategyType.LowestLatency, 4)
    )


def test_no_network_is_the_engines_error_before_any_work():
    executor = InlineExecutor()
    with pytest.raises(
        RuntimeError, match=r"^No network defined\. Call define_network\(\) first\.$"
    ):
        tavo_tools.simulate(tavo.TavoEngine(), "A", "B", 0.9, 200.0, 100, executor=executor)
    assert executor.submitted == 0


@pytest.mark.parametrize(
    "arguments",
    [
        (1, "B", 0.9, 200.0, 10, None, None),
        ("A", "B", "high", 200.0, 10, None, None),
        ("A", "B", 0.9, None, 10, None, None),
        ("A", "B", 0.9, 200.0, -1, None, None),
        ("A", "B", 0.9, 200.0, 2**64, None, None),
        ("A", "B", 0.9, 200.0, 10.0, None, None),
        ("A", "B", 0.9, 200.0, "10", None, None),
        ("A", "B", 0.9, 200.0, 10, "HighestFidelity", None),
        ("A", "B", 0.9, 200.0, 10, None, -1),
        ("A", "B", 0.9, 200.0, 10, None, 2**64),
        ("A", "B", 0.9, 200.0, 10, None, 1.5),
        ("A", "B", 0.9, 200.0, -1, "HighestFidelity", -1),  # the first bad argument is reported
        (None, "B", 0.9, 200.0, -1, None, None),
    ],
)
def test_argument_errors_are_the_engines(engine, arguments):
    with pytest.raises((TypeError, OverflowError)) as expected:
        engine.simulate(*arguments)
    executor = InlineExecutor()
    with pytest.raises(type(expected.value)) as raised:
        tavo_tools.simulate(engine, *arguments, executor=executor)
    assert str(raised.value) == str(expected.value)
    assert executor.submitted == 0


@pytest.mark.parametrize("route", ["one-hop", "three-hop"])
@pytest.mark.parametrize("precision", [0.05, 0.01, 0.004])
def test_precision_runs_until_the_interval_is_narrow_enough(engine, route, precision):
    source, target, fidelity, budget = ROUTES[route]
    stats = tavo_tools.simulate(
        engine, source, target, fidelity, budget, precision=precision, seed=3
    )
    runs = stats.total_runs
    low, high = tavo_tools.success_interval(stats)
    rate = stats.empirical_success_rate
    assert max(rate - low, high - rate) <= precision
    # Consecutive trials from the seed: the engine's ensemble of as many trials.
    assert_same_ensemble(stats, engine.simulate(source, target, fidelity, budget, runs, None, 3))
    # Not far more trials than the normal approximation asks for.
    assert runs <= 1.6 * 1.96**2 * rate * (1 - rate) / precision**2 + 400
    # The same arguments run the same trials, however the rounds are cut into chunks.
    again = tavo_tools.simulate(
        engine, source, target, fidelity, budget, None, None, 3, precision=precision, workers=3,
        chunk_runs=77,
    )
    assert_same_ensemble(again, stats)


def test_precision_stops_at_max_runs_and_on_certain_outcomes(engine, monkeypatch):
    capped = tavo_tools.simulate(engine, "A", "D", 0.75, 600.0, precision=1e-4, max_runs=1234)
    assert capped.total_runs == 1234
    # No route: every trial fails, and the first round (a few hundred) shows it to within 1 %,
    # far fewer than the 9,604 an even rate would take.
    never = tavo_tools.simulate(engine, "A", "Mallory", 0.9, 200.0, precision=0.01, seed=1)
    assert never.empirical_success_rate == 0.0 and never.total_runs < 1000
    reads = []
    monkeypatch.setattr(_shared.time, "time_ns", lambda: reads.append(1) or 42)
    clocked = tavo_tools.simulate(engine, "A", "B", 0.9, 200.0, precision=0.02)
    monkeypatch.undo()
    assert len(reads) == 1 and clocked._context.seed is None
    expected = engine.simulate("A", "B", 0.9, 200.0, clocked.total_runs, None, 42)
    assert clocked.empirical_success_rate == expected.empirical_success_rate


@pytest.mark.parametrize(
    "arguments, options, error, match",
    [
        ((), {}, TypeError, "needs runs, or a precision"),
        ((100,), {"precision": 0.01}, ValueError, "runs or precision, not both"),
        ((100,), {"max_runs": 10}, ValueError, "max_runs goes with precision"),
        ((), {"precision": 0.0}, ValueError, "precision must lie strictly between 0 and 0.5"),
        ((), {"precision": 0.5}, ValueError, "precision must lie strictly between 0 and 0.5"),
        ((), {"precision": math.nan}, ValueError, "precision must lie strictly"),
        ((), {"precision": "0.01"}, ValueError, "precision must lie strictly"),
        ((), {"precision": 0.01, "max_runs": 0}, ValueError, "max_runs must be at least 1"),
    ],
)
def test_precision_argument_errors(engine, arguments, options, error, match):
    executor = InlineExecutor()
    with pytest.raises(error, match=match):
        tavo_tools.simulate(engine, "A", "B", 0.9, 200.0, *arguments, executor=executor, **options)
    assert executor.submitted == 0


def test_a_failed_chunk_fails_the_ensemble(engine):
    executor = InlineExecutor(fail_at=2)
    with pytest.raises(ConnectionError, match="worker lost"):
        tavo_tools.simulate(engine, "A", "B", 0.9, 200.0, 1000, executor=executor, chunk_runs=100)


def test_interrupt_cancels_pending_chunks_and_is_raised_again(engine, sigint_raises):
    # Slow chunks: the interrupt arrives while most of them are still to come.
    executor = RecordingExecutor(workers=1, delay=0.05)
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            tavo_tools.simulate(engine, "A", "B", 0.9, 200.0, 20_000, seed=1, executor=executor,
                                chunk_runs=100, workers=2)
        interrupted = time.monotonic()
    finally:
        timer.cancel()
        executor.shutdown(wait=True)
    futures = executor.futures
    assert all(future.done() for future in futures)
    # No chunk starts once the interrupt is raised again; every chunk submitted and not started
    # is cancelled; no more than two per worker were ever waiting.
    assert all(start <= interrupted for start in executor.starts)
    assert sum(not future.cancelled() for future in futures) == len(executor.starts) < 20
    assert len(futures) <= len(executor.starts) + 4


class CountingExecutor(RecordingExecutor):
    """Records the most tasks submitted and not yet finished at any time."""

    def __init__(self, workers):
        super().__init__(workers)
        self.lock = threading.Lock()
        self.outstanding = self.most = 0

    def submit(self, fn, /, *args, **kwargs):
        with self.lock:
            self.outstanding += 1
            self.most = max(self.most, self.outstanding)
        future = super().submit(fn, *args, **kwargs)
        future.add_done_callback(lambda _: self.finished())
        return future

    def finished(self):
        with self.lock:
            self.outstanding -= 1


@pytest.mark.parametrize("workers", [1, 3])
def test_chunks_are_made_as_workers_need_them(engine, workers):
    executor = CountingExecutor(workers)
    try:
        stats = tavo_tools.simulate(engine, "A", "C", 0.85, 300.0, 20_000, None, 5,
                                    executor=executor, workers=workers, chunk_runs=97)
    finally:
        executor.shutdown()
    assert len(executor.futures) == 207  # every chunk, in turn
    assert executor.most <= 2 * workers
    assert_same_ensemble(stats, engine.simulate("A", "C", 0.85, 300.0, 20_000, None, 5))


def test_workers_are_capped():
    assert _shared.worker_count(10**9) == _shared.MAX_WORKERS == 1024
    assert _shared.worker_count(3) == 3
    assert _shared.worker_count(None) == _shared.default_workers()


def run_child(script, timeout=60):
    """Runs `script` in a child Python, which prints "ready" first; returns the rest of its output,
    or fails when it outlives `timeout` seconds from then."""
    with subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, env=child_environment(),
                          preexec_fn=default_sigint) as child:
        try:
            ready = child.stdout.readline().strip()
            out, err = child.communicate(timeout=timeout)
        finally:
            child.kill()
    assert ready == "ready" and child.returncode == 0, err[-2000:]
    return out


CHILD_ENGINE = """
    import os, resource, signal, sys, threading, time
    import concurrent.futures as cf, multiprocessing
    import tavo_core as tavo, tavo_tools
    engine = tavo.TavoEngine()
    engine.define_network([tavo.NodeDefinition("A", 1.0), tavo.NodeDefinition("B", 1.0)],
                          [tavo.LinkDefinition("A", "B", 10.0, 0.97, 1000.0)])
"""


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the address sanitizer holds freed memory back: peaks say nothing there")
@pytest.mark.parametrize("case, call", [
    # 2**64 - 1 trials: chunks are made as they are needed, not listed up front.
    ("trials", "tavo_tools.simulate(engine, 'A', 'B', 0.9, 500.0, 2**64 - 1, seed=1)"),
    # A billion workers: 1024 of them, and few chunks at a time.
    ("workers", "tavo_tools.simulate(engine, 'A', 'B', 0.9, 500.0, 10**12, seed=1, workers=10**9)"),
])
def test_an_ensemble_of_any_size_takes_little_memory(case, call):
    out = run_child(textwrap.dedent(CHILD_ENGINE) + textwrap.dedent(f"""
        print("ready", flush=True)
        threading.Timer(3.0, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            {call}
        except KeyboardInterrupt:
            print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
    """))
    # Megabytes at the peak; listing the chunks took gigabytes within seconds.
    assert int(out) < 300


@pytest.mark.parametrize("pool", ["threads", "processes"])
def test_ctrl_c_stops_the_running_chunks(pool):
    # Chunks of a billion trials run for half a minute each. After Ctrl-C the process used to exit
    # only once the running chunks (threads) or the chunks already handed to the pool's processes
    # had finished.
    executor = {
        "threads": "None",
        "processes": "cf.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context('spawn'))",
    }
    script = textwrap.dedent(CHILD_ENGINE) + textwrap.dedent(f"""
        pool = {executor[pool]}
        if pool is not None:
            pool.submit(int).result()  # the processes are up
        print("ready", flush=True)
        threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            tavo_tools.simulate(engine, "A", "B", 0.9, 500.0, 10**12, seed=1, workers=2,
                                chunk_runs=10**9, executor=pool)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
            if pool is not None:
                pool.shutdown(wait=True)
    """)
    # In a session of its own, so that the pool's processes go with it should the test fail.
    with subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True,
                          env=child_environment(), preexec_fn=default_sigint,
                          start_new_session=True) as child:
        try:
            assert child.stdout.readline().strip() == "ready"
            assert child.stdout.readline().strip() == "interrupted"
            interrupted = time.monotonic()
            child.wait(timeout=60)
            exited = time.monotonic()
        except BaseException:
            os.killpg(child.pid, signal.SIGKILL)
            raise
    assert child.returncode == 0 and exited - interrupted < 2.0


def test_progress_bar_counts_trials_on_stderr(engine, capsys):
    stats = tavo_tools.simulate(
        engine, "A", "B", 0.9, 200.0, 1234, seed=1, chunk_runs=100, progress=True
    )
    captured = capsys.readouterr()
    assert stats.total_runs == 1234 and captured.out == ""
    assert "1234/1234" in captured.err and "trial" in captured.err


@pytest.mark.parametrize(
    "module, extra, call",
    [
        (
            "tqdm",
            "progress",
            lambda e: tavo_tools.simulate(e, "A", "B", 0.9, 200.0, 10, progress=True),
        ),
        ("pandas", "frames", lambda e: tavo_tools.to_frame(e.simulate("A", "B", 0.9, 200.0, 10))),
        ("pandas", "frames", lambda e: tavo_tools.sweep(e, "A", "B", 0.9, 200.0, 10, {})),
        ("matplotlib.pyplot", "plot", lambda e: tavo_tools.plot_sensitivity({"x": 1.0})),
        (
            "networkx",
            "plot",
            lambda e: tavo_tools.plot_network(tavo.load_tavo_file("examples/demo.tavo")),
        ),
    ],
)
def test_missing_optional_dependency_names_its_extra(engine, monkeypatch, module, extra, call):
    monkeypatch.chdir(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    monkeypatch.setitem(sys.modules, module, None)  # makes the import fail
    with pytest.raises(ImportError, match=rf"pip install 'tavo_core\[{extra}\]'"):
        call(engine)


def test_threads_share_one_engine(engine):
    # Several ensembles at once on one engine, each itself split over threads.
    with cf.ThreadPoolExecutor(3) as outer:
        futures = [
            outer.submit(
                tavo_tools.simulate,
                engine,
                "A",
                "B",
                0.9,
                200.0,
                1500,
                None,
                s,
                workers=2,
                chunk_runs=200,
            )
            for s in range(3)
        ]
        results = [future.result() for future in futures]
    for seed, stats in enumerate(results):
        assert_same_ensemble(stats, engine.simulate("A", "B", 0.9, 200.0, 1500, None, seed))

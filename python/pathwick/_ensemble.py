"""Ensembles: many worlds, a few worker processes, each running run after run.

A world is one per process and the toolkit does not survive a fork, so the
runs go to worker interpreters started with ``python -c``: they need neither
the calling script's file nor its main module, and so work as well from a
script read from standard input or an interactive session. Each worker pays
its start once and then takes one run after another, as the parent hands
them out, each run in a window of its own as ``pathwick_run --jobs`` runs a
job list's lines (the module's ``run_job``, the same code): every run folder
is byte for byte the one ``pathwick_run --out`` writes alone, wall time
apart.
"""

from __future__ import annotations

import concurrent.futures
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading

# The code a worker process runs: runs in on standard input, outcomes out on standard output.
_WORKER = "import sys; from pathwick._ensemble import _work; sys.exit(_work(sys.argv[1], sys.argv[2] == 'force'))"


def _describe(index, run):
    given = ", ".join(f"{key}={value!r}" for key, value in run.items())
    return f"run {index} ({given})"


def _folder_name(index, count):
    """run-0000, run-0001, ...: names that sort as the runs' indices."""
    return f"run-{index:0{max(4, len(str(count - 1)))}d}"


def _job_line(arguments):
    """pathwick_run's arguments as one job line, each quoted (a quote inside written as three)."""
    return " ".join('"' + argument.replace('"', '"""') + '"' for argument in arguments)


def _work(out, force):
    """In a worker: for each run on standard input (a JSON line: folder, job line), its outcome as a JSON line."""
    from . import _pathwick

    for line in sys.stdin:
        job = json.loads(line)
        try:
            started, status, message = _pathwick.run_job(out, job["folder"], job["job"], force)
        except Exception as error:  # reported to the caller, who names the run
            started, status, message = True, 1, str(error)
        print(json.dumps({"started": started, "status": status, "message": message}), flush=True)
    return 0


class _Workers:
    """The worker processes running: stopped all at once when the ensemble gives up (a failure, Ctrl-C)."""

    def __init__(self):
        self._lock = threading.Lock()
        self._running = set()
        self._stopped = False

    def start(self, command, env, errors):
        with self._lock:
            if self._stopped:
                raise RuntimeError("not started: the ensemble stopped")
            process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=errors, text=True)
            self._running.add(process)
        return process

    def stopped(self):
        with self._lock:
            return self._stopped

    def end(self, process):
        with self._lock:
            self._running.discard(process)

    def stop(self):
        with self._lock:
            self._stopped = True
            for process in self._running:
                process.terminate()


def _ending(status):
    """How a worker that left no result ended: its status, or the signal that killed it (a crash, an abort)."""
    if status >= 0:
        return f"the worker ended with status {status}"
    try:
        name = f" ({signal.Signals(-status).name})"
    except ValueError:
        name = ""
    return f"the worker was killed by signal {-status}{name}"


def _last_line(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().strip().splitlines()
    except OSError:
        return ""
    return lines[-1] if lines else ""


def _serve(workers, queue, jobs, out, force, scratch, number):
    """One worker: hands it the next run until none is left; raises RuntimeError (index, why) at the first failure."""
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = os.environ.get("PYTHONPATH")
    env = {**os.environ, "PYTHONPATH": package_root + (os.pathsep + path if path else "")}
    errors_path = os.path.join(scratch, f"worker-{number}.err")
    with open(errors_path, "w", encoding="utf-8") as errors:
        process = workers.start([sys.executable, "-c", _WORKER, out, "force" if force else "keep"], env, errors)
    try:
        while not workers.stopped():
            index = queue()
            if index is None:
                break
            try:
                process.stdin.write(json.dumps(jobs[index]) + "\n")
                process.stdin.flush()
                answer = process.stdout.readline()
            except OSError:
                answer = ""
            if not answer:
                if workers.stopped():
                    break
                last = _last_line(errors_path)
                why = _ending(process.wait()) + (f": {last}" if last else "")
                raise RuntimeError(index, why)
            outcome = json.loads(answer)
            if outcome["started"] and outcome["status"] != 0:
                raise RuntimeError(index, outcome["message"])
    finally:
        try:
            process.stdin.close()
        except OSError:
            pass
        process.wait()
        workers.end(process)


def _recorded_value(key, value):
    """A setting as run.json records it, as Python holds it: 0.5, 'hill', True, 200."""
    from . import settings

    kind = {spec["key"]: spec["kind"] for spec in settings}[key]
    if kind == "hundredths":
        return float(value)
    if kind == "flag":
        return value if isinstance(value, bool) else value == "on"
    if kind == "sniff":
        return str(value)
    return int(value)


def run_ensemble(runs, steps, processes=None, out=None, force=False):
    """Runs one world per settings dict in worker processes; its samples come back as one long DataFrame.

    ``runs`` is a list of dicts of World's keywords (``seed`` and the
    settings under their run.json keys); each runs ``steps`` steps, in a
    window of its own, in one of ``processes`` worker processes (by default
    one per processor), each of which takes run after run, so that a short
    run costs its steps rather than a new interpreter. The result has one
    row per sample of every run: ``run`` (the index in ``runs``), ``seed``
    (the run's, also when taken from the clock), every setting under its
    run.json key as the run had it, then the columns of series.csv, the
    very samples pathwick_run writes for the same settings and seed.

    With ``out`` (a folder, made if missing) each run is also written as
    ``pathwick_run --out`` writes it, with its record, into
    ``out/run-0000``, ``out/run-0001``, ... in the order of ``runs``, so
    that ``pathwick_run --summarize out`` and ``--verify out`` read the
    ensemble as a sweep (and :func:`read_sweep` and :func:`explore` too).
    A run folder that is there already is refused unless ``force``.

    A run that fails raises RuntimeError naming it and its settings, with
    the worker's message; the runs under way are stopped and the others not
    started, as on Ctrl-C.
    """
    from . import _arguments, _seed_argument, settings
    from ._tables import pandas, read_series_text

    pd = pandas()
    runs = [dict(run) for run in runs]
    if isinstance(steps, bool) or not isinstance(steps, int) or steps < 0:
        raise ValueError(f"steps takes a whole number of 0 or more, not {steps!r}")
    if processes is None:
        processes = min(len(runs), os.cpu_count() or 1)
    if isinstance(processes, bool) or not isinstance(processes, int) or processes < 1:
        raise ValueError(f"processes takes a whole number of 1 or more, not {processes!r}")
    if not runs:
        return pd.DataFrame()
    jobs = []
    for index, run in enumerate(runs):
        given = dict(run)
        seed = given.pop("seed", None)
        try:
            arguments = _arguments(given) + ([] if seed is None else _seed_argument(seed))
        except ValueError as error:
            raise RuntimeError(f"{_describe(index, run)} failed: {error}") from error
        jobs.append({"folder": _folder_name(index, len(runs)), "job": _job_line(arguments + ["--steps", str(steps)])})
    if out is not None:
        os.makedirs(os.fspath(out), exist_ok=True)

    frames = []
    keys = [spec["key"] for spec in settings]
    with tempfile.TemporaryDirectory(prefix="pathwick-ensemble-") as scratch:
        folder = os.path.abspath(os.fspath(out)) if out is not None else os.path.join(scratch, "runs")
        os.makedirs(folder, exist_ok=True)
        workers = _Workers()
        order = iter(range(len(jobs)))
        order_lock = threading.Lock()

        def queue():
            with order_lock:
                return next(order, None)

        count = min(processes, len(jobs))
        pool = concurrent.futures.ThreadPoolExecutor(max_workers=count)
        try:
            futures = [pool.submit(_serve, workers, queue, jobs, folder, bool(force), scratch, number)
                       for number in range(count)]
            for future in concurrent.futures.as_completed(futures):
                try:
                    future.result()
                except RuntimeError as error:
                    index, why = error.args
                    raise RuntimeError(f"{_describe(index, runs[index])} failed: {why}") from None
        except BaseException:
            workers.stop()  # the runs under way end too, rather than run on unasked
            raise
        finally:
            pool.shutdown(wait=True, cancel_futures=True)

        for index, job in enumerate(jobs):
            run_folder = os.path.join(folder, job["folder"])
            with open(os.path.join(run_folder, "run.json"), encoding="utf-8") as f:
                record = json.load(f)
            with open(os.path.join(run_folder, "series.csv"), encoding="utf-8") as f:
                series = read_series_text(f.read())
            values = {key: _recorded_value(key, record["settings"][key]) for key in keys}
            for position, (name, value) in enumerate([("run", index), ("seed", record["seed"]), *values.items()]):
                series.insert(position, name, [value] * len(series))
            frames.append(series)
    return pd.concat(frames, ignore_index=True)

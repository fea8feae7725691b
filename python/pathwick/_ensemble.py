"""Ensembles: many worlds, each in a fresh Python process of its own.

A world is one per process and the toolkit does not survive a fork, so each
run is a new interpreter started with ``python -c``: it needs neither the
calling script's file nor its main module, and so works as well from a
script read from standard input or an interactive session.
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

# The code a worker process runs: the job's file in, the result's file out.
_WORKER = "import sys; from pathwick._ensemble import _work; sys.exit(_work(sys.argv[1], sys.argv[2]))"


def _describe(index, run):
    given = ", ".join(f"{key}={value!r}" for key, value in run.items())
    return f"run {index} ({given})"


def _folder_name(index, count):
    """run-0000, run-0001, ...: names that sort as the runs' indices."""
    return f"run-{index:0{max(4, len(str(count - 1)))}d}"


def _work(job_path, result_path):
    """In a worker: one run as the job says, its result written as JSON; 0 on success, 1 on failure."""
    from . import _pathwick

    with open(job_path, encoding="utf-8") as f:
        job = json.load(f)
    try:
        if job["out"] is None:
            world = _pathwick.World(job["arguments"])
            try:
                world.step(job["steps"])
                result = {"seed": world.seed, "settings": world.settings(), "series": world.series_csv()}
            finally:
                world.close()
        else:
            extra = ["--force"] if job["force"] else []
            recorded = _pathwick.run_into(job["arguments"] + ["--steps", str(job["steps"]), "--out", job["out"],
                                                              "--quiet"] + extra)
            with open(os.path.join(job["out"], "series.csv"), encoding="utf-8") as f:
                series = f.read()
            with open(os.path.join(job["out"], "run.json"), encoding="utf-8") as f:
                seed = json.load(f)["seed"]
            result = {"seed": seed, "settings": recorded, "series": series}
    except Exception as error:  # reported to the caller, who names the run
        result = {"error": str(error)}
    with open(result_path, "w", encoding="utf-8") as f:
        json.dump(result, f)
    return 1 if "error" in result else 0


class _Workers:
    """The worker processes running: stopped all at once when the ensemble gives up (a failure, Ctrl-C)."""

    def __init__(self):
        self._lock = threading.Lock()
        self._running = set()
        self._stopped = False

    def run(self, command, env):
        with self._lock:
            if self._stopped:
                raise RuntimeError("not started: the ensemble stopped")
            process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE, text=True)
            self._running.add(process)
        try:
            _, errors = process.communicate()
        finally:
            with self._lock:
                self._running.discard(process)
        return process.returncode, errors

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


def _start(workers, job, scratch, index):
    """Runs one job in a fresh interpreter; its result, or RuntimeError with the worker's message."""
    job_path = os.path.join(scratch, f"job-{index}.json")
    result_path = os.path.join(scratch, f"result-{index}.json")
    with open(job_path, "w", encoding="utf-8") as f:
        json.dump(job, f)
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = os.environ.get("PYTHONPATH")
    env = {**os.environ, "PYTHONPATH": package_root + (os.pathsep + path if path else "")}
    status, errors = workers.run([sys.executable, "-c", _WORKER, job_path, result_path], env)
    try:
        with open(result_path, encoding="utf-8") as f:
            result = json.load(f)
    except (OSError, ValueError):
        lines = errors.strip().splitlines()
        raise RuntimeError(_ending(status) + (f": {lines[-1]}" if lines else ""))
    if "error" in result:
        raise RuntimeError(result["error"])
    return result


def run_ensemble(runs, steps, processes=None, out=None, force=False):
    """Runs one world per settings dict in worker processes; its samples come back as one long DataFrame.

    ``runs`` is a list of dicts of World's keywords (``seed`` and the
    settings under their run.json keys); each runs ``steps`` steps in a
    process of its own (at most ``processes`` at once, by default one per
    processor). The result has one row per sample of every run: ``run``
    (the index in ``runs``), ``seed`` (the run's, also when taken from the
    clock), every setting under its run.json key as the run had it, then
    the columns of series.csv, the very samples pathwick_run writes for the
    same settings and seed.

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
    from . import _arguments, _seed_argument, _setting_value, settings
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
        folder = None if out is None else os.path.abspath(os.path.join(os.fspath(out), _folder_name(index, len(runs))))
        jobs.append({"arguments": arguments, "steps": steps, "out": folder, "force": bool(force)})
    if out is not None:
        os.makedirs(os.fspath(out), exist_ok=True)

    results = [None] * len(runs)
    with tempfile.TemporaryDirectory(prefix="pathwick-ensemble-") as scratch:
        workers = _Workers()
        pool = concurrent.futures.ThreadPoolExecutor(max_workers=processes)
        try:
            futures = {pool.submit(_start, workers, job, scratch, index): index for index, job in enumerate(jobs)}
            for future in concurrent.futures.as_completed(futures):
                index = futures[future]
                try:
                    results[index] = future.result()
                except RuntimeError as error:
                    raise RuntimeError(f"{_describe(index, runs[index])} failed: {error}") from error
        except BaseException:
            workers.stop()  # the runs under way end too, rather than run on unasked
            raise
        finally:
            pool.shutdown(wait=True, cancel_futures=True)

    frames = []
    keys = [spec["key"] for spec in settings]
    for index, result in enumerate(results):
        series = read_series_text(result["series"])
        values = {key: _setting_value(key, result["settings"][key]) for key in keys}
        for position, (name, value) in enumerate([("run", index), ("seed", result["seed"]), *values.items()]):
            series.insert(position, name, [value] * len(series))
        frames.append(series)
    return pd.concat(frames, ignore_index=True)

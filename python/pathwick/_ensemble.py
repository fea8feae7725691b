"""Ensembles: many worlds, each in a worker process of its own."""

from __future__ import annotations

import concurrent.futures
import multiprocessing
import os


def _run_one(settings, steps):
    """One world in a worker: its samples as series.csv's text."""
    from . import World

    with World(**settings) as world:
        world.step(steps)
        return world.seed, world.series_csv()


def _describe(index, settings):
    given = ", ".join(f"{key}={value!r}" for key, value in settings.items())
    return f"run {index} ({given})"


def run_ensemble(runs, steps, processes=None):
    """Runs one world per settings dict in worker processes; its samples come back as one long DataFrame.

    ``runs`` is a list of dicts of World's keywords (``seed`` and the
    settings under their run.json keys); each runs ``steps`` steps in a
    process of its own (at most ``processes`` at once, by default one per
    processor). The result has one row per sample of every run: ``run``
    (the index in ``runs``), ``seed`` (the run's, also when taken from the
    clock), then the columns of series.csv, the very samples pathwick_run
    writes for the same settings and seed. A run that fails raises
    RuntimeError naming it and its settings, with the worker's message.
    """
    from ._tables import _require_pandas, read_series_text

    pd = _require_pandas("run_ensemble")
    runs = [dict(run) for run in runs]
    if isinstance(steps, bool) or not isinstance(steps, int) or steps < 0:
        raise ValueError(f"steps takes a whole number of 0 or more, not {steps!r}")
    if processes is None:
        processes = min(len(runs), os.cpu_count() or 1)
    if isinstance(processes, bool) or not isinstance(processes, int) or processes < 1:
        raise ValueError(f"processes takes a whole number of 1 or more, not {processes!r}")
    if not runs:
        return pd.DataFrame()
    # A fresh interpreter for every world: a world is one per process, and
    # the toolkit does not survive a fork.
    context = multiprocessing.get_context("spawn")
    results = [None] * len(runs)
    with concurrent.futures.ProcessPoolExecutor(max_workers=processes, mp_context=context,
                                                max_tasks_per_child=1) as pool:
        futures = {pool.submit(_run_one, run, steps): index for index, run in enumerate(runs)}
        for future in concurrent.futures.as_completed(futures):
            index = futures[future]
            try:
                results[index] = future.result()
            except Exception as error:
                for other in futures:
                    other.cancel()
                raise RuntimeError(f"{_describe(index, runs[index])} failed: {error}") from error
    frames = []
    for index, (seed, text) in enumerate(results):
        series = read_series_text(text)
        series.insert(0, "seed", seed)
        series.insert(0, "run", index)
        frames.append(series)
    return pd.concat(frames, ignore_index=True)

"""Tables: the world's arrays as DataFrames, and run folders read back."""

from __future__ import annotations

import json
import os

import numpy as np

# The tables of a run's folder, by the name read_run takes.
_RUN_TABLES = {
    "series": "series.csv",
    "agents": "agents.csv.gz",
    "births": "births.csv.gz",
    "field": "field.csv.gz",
    "genes_hist": "genes_hist.csv",
}


def _pandas():
    try:
        import pandas as pd
    except ImportError:
        return None
    return pd


def table(columns, missing=None):
    """A dict of equally long columns as a DataFrame, or as it is without pandas.

    ``missing`` names columns whose given marker stands for an empty cell:
    in a DataFrame it becomes NaN, as pandas reads an empty cell of a file.
    """
    pd = _pandas()
    if pd is None:
        return columns
    frame = pd.DataFrame(columns)
    for name, marker in (missing or {}).items():
        frame[name] = frame[name].where(frame[name] != marker).astype(float)
    return frame


def _require_pandas(what):
    pd = _pandas()
    if pd is None:
        raise ImportError(f"{what} needs pandas (Debian python3-pandas)")
    return pd


def read_record(folder):
    """The run.json of a run's folder, as a dict."""
    with open(os.path.join(folder, "run.json"), encoding="utf-8") as f:
        return json.load(f)


def read_run(folder, table="series"):
    """A table of a run's folder as a DataFrame.

    The table is ``series`` (default), ``agents``, ``births``, ``field`` or
    ``genes_hist``.

    The run's record (run.json) is in the DataFrame's ``attrs["run"]``. A
    folder without run.json, or a table the run did not write, raises
    FileNotFoundError.
    """
    pd = _require_pandas("read_run")
    if table not in _RUN_TABLES:
        raise ValueError(f"read_run reads {', '.join(_RUN_TABLES)}, not '{table}'")
    record = read_record(folder)
    # A chroma is a string of 0s and 1s: read as a number it would lose its leading zeros.
    frame = pd.read_csv(os.path.join(folder, _RUN_TABLES[table]), dtype={"chroma": str})
    frame.attrs["run"] = record
    return frame


def _run_folders(root):
    found = []
    for path, folders, files in os.walk(root):
        folders[:] = sorted(f for f in folders if not f.startswith("."))
        if "run.json" in files:
            found.append(path)
    return found


def read_sweep(folder):
    """Every run under ``folder`` (each folder holding a run.json) as one long DataFrame.

    One row per sample of every run: ``folder`` (the run's folder relative
    to ``folder``), every setting under its run.json key, ``seed``,
    ``start_step``, then the columns of series.csv; runs in the order of
    their folders' names. A folder with no run raises FileNotFoundError.
    """
    pd = _require_pandas("read_sweep")
    from . import settings as specs

    frames = []
    for run in _run_folders(folder):
        series = read_run(run)
        record = series.attrs.pop("run")
        head = {"folder": os.path.relpath(run, folder)}
        recorded = record.get("settings", {})
        for spec in specs:
            head[spec["key"]] = recorded.get(spec["key"])
        head["seed"] = record["seed"]
        head["start_step"] = record.get("start_step", 0)
        for position, (name, value) in enumerate(head.items()):
            series.insert(position, name, [value] * len(series))
        frames.append(series)
    if not frames:
        raise FileNotFoundError(f"no run folder (holding a run.json) under {folder}")
    return pd.concat(frames, ignore_index=True)


def read_series_text(text):
    """The text of series.csv as a DataFrame, or as a numpy record array without pandas."""
    import io

    pd = _pandas()
    if pd is None:
        return np.genfromtxt(io.StringIO(text), delimiter=",", names=True, dtype=None, encoding="utf-8")
    return pd.read_csv(io.StringIO(text))

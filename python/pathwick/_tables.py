"""Tables: the world's arrays as DataFrames, run folders and sweeps read back, designs and analyses.

Every table is a pandas DataFrame, whether it comes from a world, a folder
or the runner's analysis: pandas is needed for them, and its absence raises
ImportError saying so. The columns are the ones the C++ side hands out.
"""

from __future__ import annotations

import io
import json
import os
import shlex

from . import _pathwick

# The tables of a run's folder, by the name read_run takes.
_RUN_TABLES = {
    "series": "series.csv",
    "agents": "agents.csv.gz",
    "births": "births.csv.gz",
    "field": "field.csv.gz",
    "genes_hist": "genes_hist.csv",
}


def pandas():
    """The pandas module; ImportError with what to install when it is missing."""
    try:
        import pandas as pd
    except ImportError as error:
        raise ImportError("pathwick's tables are pandas DataFrames: install pandas (Debian python3-pandas)") from error
    return pd


def table(columns):
    """A dict of equally long columns as a DataFrame."""
    return pandas().DataFrame(columns)


def _csv(text, **options):
    # A chroma is a string of 0s and 1s: read as a number it would lose its leading zeros.
    return pandas().read_csv(io.StringIO(text), dtype={"chroma": str}, **options)


def read_record(folder):
    """The run.json of a run's folder, as a dict."""
    with open(os.path.join(folder, "run.json"), encoding="utf-8") as f:
        return json.load(f)


def read_run(folder, table="series"):
    """A table of a run's folder as a DataFrame.

    ``table`` is ``series`` (default), ``agents``, ``births``, ``field`` or
    ``genes_hist``. The run's record (run.json) is in the DataFrame's ``attrs["run"]``. A
    folder without run.json, or a table the run did not write, raises
    FileNotFoundError.
    """
    pd = pandas()
    if table not in _RUN_TABLES:
        raise ValueError(f"read_run reads {', '.join(_RUN_TABLES)}, not '{table}'")
    record = read_record(folder)
    frame = pd.read_csv(os.path.join(folder, _RUN_TABLES[table]), dtype={"chroma": str})
    frame.attrs["run"] = record
    return frame


def sweep_runs(folder):
    """The runs of a sweep's folder by name, as ``pathwick_run --summarize`` and ``--verify`` find them.

    A run is a visible folder one level below ``folder`` holding a run.json;
    a single run's own folder holds none.
    """
    return list(_pathwick.sweep_run_folders(os.fspath(folder)))


def read_sweep(folder):
    """Every run of a sweep's folder as one long DataFrame: the rows of samples.csv.

    The runs are the ones ``pathwick_run --summarize`` reads (see
    :func:`sweep_runs`), in the order of their names. One row per sample
    of every run, with the columns ``--summarize`` writes to samples.csv:
    ``folder``, ``group`` (the settings that differ between the runs),
    every setting under its run.json key, ``evaporation_amount``, ``seed``,
    ``start_step``, ``parent`` (the SHA-256 of the checkpoint a branch
    started from, else empty), then the columns of series.csv. A folder
    with no run raises FileNotFoundError.
    """
    pd = pandas()
    header, runs = _pathwick.sweep_runs(os.fspath(folder))
    if not runs:
        raise FileNotFoundError(f"no run folder (a folder holding a run.json) in {folder}")
    frames = []
    for _name, path, front in runs:
        with open(os.path.join(path, "series.csv"), encoding="utf-8") as f:
            lines = f.read().splitlines()
        text = "\n".join([header + "," + lines[0]] + [front + "," + line for line in lines[1:]]) + "\n"
        frames.append(_csv(text))
    return pd.concat(frames, ignore_index=True)


def read_series_text(text):
    """The text of series.csv as a DataFrame."""
    return _csv(text)


def _options(options):
    if isinstance(options, str):
        return shlex.split(options)
    options = [os.fspath(option) if isinstance(option, os.PathLike) else str(option) for option in options]
    return options


def design(options):
    """The jobs of ``pathwick_run --grid OPTIONS`` as a DataFrame, one row per job line.

    ``options`` is a string of --grid's options (``"--vary agents=50,100
    --seeds 1,2"``, ``"--design lhs --samples 8 --range agents=20:200"``)
    or a list of them. The columns: ``seed`` (empty where the seed comes
    from the clock), every setting under its run.json key, ``design_kind``,
    ``design_point``, ``design_role`` (empty without a design) and
    ``options``, the job line. Refused options raise ValueError with
    pathwick_run's message.
    """
    from . import _setting_value, settings

    pd = pandas()
    rows = []
    for job in _pathwick.design(_options(options)):
        row = {"seed": job["seed"]}
        for spec in settings:
            row[spec["key"]] = _setting_value(spec["key"], job[spec["key"]])
        for name in ("design_kind", "design_point", "design_role", "options"):
            row[name] = job[name]
        rows.append(row)
    columns = ["seed", *(spec["key"] for spec in settings), "design_kind", "design_point", "design_role", "options"]
    return pd.DataFrame(rows, columns=columns)


def explore(folder, window=0, measures=(), transforms=(), factor_coding="auto"):
    """The analysis ``pathwick_run --summarize`` makes of a sweep's folder, as effects.csv's DataFrame.

    The runs' design decides the analysis (a factorial of two or more
    varied settings, a Latin hypercube, a Sobol or a Morris design); its
    name is in ``attrs["analysis"]``, and the runner's note, if any, in
    ``attrs["note"]``. ``window`` is ``--window``: each run's measures are
    the means of its last ``window`` samples (0: the last only).
    ``measures`` and ``transforms`` are ``--measure`` and ``--transform``
    (``["mean_chemical", "log1p(trip_rate)"]``, ``["trip_rate=log1p"]``;
    none: the default four), ``factor_coding`` is ``--factor-coding``
    (``"auto"``, ``"linear"`` or ``"categorical"``). Writes nothing. A
    sweep whose runs call for no analysis raises ValueError with the
    runner's note.
    """
    if isinstance(window, bool) or not isinstance(window, int):
        raise ValueError(f"window takes a whole number of 0 or more, not {window!r}")
    if isinstance(measures, str) or isinstance(transforms, str):
        raise ValueError("measures and transforms take lists of names")
    analysis, note, effects = _pathwick.explore(os.fspath(folder), window, [str(m) for m in measures],
                                                [str(t) for t in transforms], str(factor_coding))
    if not analysis:
        raise ValueError(note or f"the runs in {folder} call for no analysis")
    frame = pandas().read_csv(io.StringIO(effects))
    frame.attrs["analysis"] = analysis
    frame.attrs["note"] = note
    return frame

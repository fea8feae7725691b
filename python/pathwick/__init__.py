"""Pathwick in Python: worlds of evolving ant-like foragers, stepped headless.

A :class:`World` is the world of ``pathwick_run``: the same settings under
their ``run.json`` keys, the same ranges, the same seed rule, so the same
settings and seed give the same samples. Its field reads as numpy arrays,
its agents, births and samples as pandas DataFrames, its picture as an
H x W x 3 array, and it saves and loads the checkpoints ``pathwick_run``
writes. :func:`read_run` and :func:`read_sweep` read run folders and
sweeps, :func:`run_ensemble` runs many worlds in worker processes,
:func:`design` lays out the jobs of ``--grid`` and :func:`explore` makes
the analysis of ``--summarize``.

Every table is a pandas DataFrame, with or without the world: the methods
and functions that return one need pandas, and raise ImportError saying
so when it is missing; the rest of the module works without it.

There is one world per process, as there is one window: close a world
(``close()`` or a ``with`` block) before making the next.
"""

from __future__ import annotations

import os

import numpy as np

from . import _pathwick
from ._calibrate import calibrate
from ._ensemble import run_ensemble
from ._tables import design, explore, read_run, read_series_text, read_sweep, sweep_runs, table

__all__ = ["World", "calibrate", "design", "explore", "read_run", "read_sweep", "run_ensemble", "settings",
           "sample_interval", "sweep_runs", "__version__"]

__version__ = _pathwick.version
#: Steps between two samples of the series.
sample_interval = _pathwick.sample_interval
#: Every setting: its run.json ``key``, command-line ``option``, ``kind``,
#: range, whether it is ``fixed_at_setup``, its ``meaning`` and what it ``accepts``.
settings = tuple(dict(row) for row in _pathwick.settings)
_by_key = {row["key"]: row for row in settings}


def _spec(name):
    """The setting called ``name`` (its key or option); ValueError in the runner's words when none is."""
    return settings[_pathwick.setting_named(name)]


def _option_text(key, value):
    """A setting's value as pathwick_run's command line writes it; the runner then checks it.

    A float within a millionth of a hundredth is written as that hundredth,
    so that 0.1 + 0.2 is the rate 0.3.
    """
    kind = _spec(key)["kind"]
    if isinstance(value, (bool, np.bool_)):
        return ("on" if value else "off") if kind == "flag" else str(bool(value))
    if isinstance(value, (float, np.floating)):
        hundredths = float(value) * 100
        if kind == "hundredths" and abs(hundredths - round(hundredths)) < 1e-6:
            return repr(round(hundredths) / 100)
        return repr(float(value))
    if isinstance(value, np.integer):
        return str(int(value))
    return str(value)


def _arguments(values):
    """pathwick_run's options for settings given under their run.json keys."""
    arguments = []
    for key, value in values.items():
        text = _option_text(key, value)
        arguments.append(f"--{_spec(key)['option']}={text}")
    return arguments


def _seed_argument(seed):
    if isinstance(seed, bool) or not isinstance(seed, (int, np.integer)):
        raise ValueError(f"--seed takes a whole number from 0 to 4294967295, not '{seed}'")
    return [f"--seed={int(seed)}"]


def _setting_value(key, text):
    """A setting as Python holds it: 0.5, 'hill', True, 200."""
    kind = _by_key[key]["kind"]
    if kind == "hundredths":
        return float(text)
    if kind == "flag":
        return text == "on"
    if kind == "sniff":
        return text
    return int(text)


class World:
    """One world of Pathwick, stepped headless.

    ``World(seed=7, agents=500, evaporation_rate=0.8)`` sets up a world as
    ``pathwick_run --seed 7 --agents 500 --evaporation-rate 0.8`` does; every
    setting is taken under its run.json key (see ``pathwick.settings``) with
    the runner's ranges, and a setting not given has the window's default.
    Without a seed one is taken from the clock (``world.seed`` tells it). A
    bad value raises ValueError with the runner's message.

    There is one world per process: a second is refused with RuntimeError
    until the first is closed with :meth:`close` or by leaving its ``with``
    block. A closed world raises RuntimeError on every use.

    A sample is taken every 100 steps (``pathwick.sample_interval``), as
    series.csv holds them: :attr:`series`. Births are kept as they happen:
    :attr:`births`. :attr:`agents` and :meth:`field` read the world as it
    stands.
    """

    def __init__(self, seed=None, **settings):
        arguments = _arguments(settings)
        if seed is not None:
            arguments += _seed_argument(seed)
        self._world = _pathwick.World(arguments)

    @classmethod
    def load(cls, path, seed=None, **rates):
        """Continues the world of a checkpoint (.pwk) exactly, as ``pathwick_run --from PATH`` does.

        With ``seed`` the world branches: its seed rule starts afresh from the
        checkpoint with that seed, as ``--from PATH --seed S`` does. Rates
        given as keywords apply from the first step on; the settings fixed at
        setup (agents, cell_size, knows_center) are the checkpoint's and are
        refused if they differ. A file that is not an intact checkpoint
        raises ValueError.
        """
        world = cls.__new__(cls)
        arguments = [f"--from={os.fspath(path)}"] + _arguments(rates)
        if seed is not None:
            arguments += _seed_argument(seed)
        world._world = _pathwick.World(arguments)
        return world

    # --- lifetime ---
    def close(self):
        """Releases the world, so that another can be made. Closing twice does nothing."""
        self._world.close()

    @property
    def closed(self):
        """Whether :meth:`close` was called."""
        return self._world.closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        if self.closed:
            return "<pathwick.World closed>"
        return f"<pathwick.World seed={self.seed} step_count={self.step_count}>"

    # --- stepping and steering ---
    def step(self, n=1):
        """Runs ``n`` steps. Ctrl-C stops between two steps with KeyboardInterrupt, the world intact.

        A fault the world reports in a step raises RuntimeError.
        Returns the world, so that calls chain: ``world.step(100).series``.
        """
        self._world.step(int(n))
        return self

    @property
    def step_count(self):
        """Steps completed since the world was set up (a loaded world counts on from its checkpoint)."""
        return self._world.step_count

    @property
    def seed(self):
        """The seed of the world's seed rule."""
        return self._world.seed

    @property
    def settings(self):
        """Every setting as it stands, under its run.json key."""
        return {key: _setting_value(key, text) for key, text in self._world.settings().items()}

    def set(self, **rates):
        """Changes rates between steps, with the runner's checks; e.g. ``set(evaporation_rate=0.8)``.

        Either all change or, when one is refused (ValueError), none.
        The settings fixed at setup (agents, cell_size, knows_center) are
        refused. The world then goes on as a branch from a checkpoint with
        these rates would.
        """
        self._world.set([(key, _option_text(key, value)) for key, value in rates.items()])

    @staticmethod
    def _points(x, y, names=("x", "y"), what="pixel positions"):
        xs = np.atleast_1d(np.asarray(x, dtype=np.int64))
        ys = np.atleast_1d(np.asarray(y, dtype=np.int64))
        if xs.shape != ys.shape or xs.ndim != 1:
            raise ValueError(f"{names[0]} and {names[1]} must be two numbers, or two sequences of the same length")
        limit = np.iinfo(np.int32)
        if len(xs) and (min(xs.min(), ys.min()) < limit.min or max(xs.max(), ys.max()) > limit.max):
            raise ValueError(f"{names[0]} and {names[1]} must be {what} that fit 32 bits")
        return list(zip(xs.tolist(), ys.tolist()))

    def paint(self, x, y):
        """Paints chemical as the left mouse button does, at panel pixel (x, y) or along a drag.

        ``x`` and ``y`` are pixels of the 404 x 404 panel (a cell is
        ``cell_size`` pixels), or two sequences: a press at the first point,
        a drag through all, a release. Positions off the grid paint nothing.
        """
        self._world.drag(True, self._points(x, y))

    def wipe(self, x, y):
        """Wipes chemical as the right mouse button does; the positions as for :meth:`paint`."""
        self._world.drag(False, self._points(x, y))

    def paint_cell(self, column, row):
        """Paints chemical into the cell at (column, row), or along cells, as the left mouse button does.

        ``column`` and ``row`` are a cell's, as :meth:`field` indexes it
        (``chemical[row, column]``), or two sequences: the mouse is pressed
        on the first cell, dragged through all and released, the same path
        as :meth:`paint` with the cells' pixels. A cell off the grid raises
        ValueError, and then nothing is painted.
        """
        self._world.drag_cells(True, self._points(column, row, ("column", "row"), "cells"))

    def wipe_cell(self, column, row):
        """Wipes chemical as the right mouse button does; the cells as for :meth:`paint_cell`."""
        self._world.drag_cells(False, self._points(column, row, ("column", "row"), "cells"))

    # --- state ---
    def field(self):
        """The cells as arrays of rows x columns: ``(chemical, home, target)``.

        ``chemical`` is int32; ``home`` and ``target`` are bool. Row r,
        column c is the cell field.csv.gz calls (column c, row r).
        """
        return self._world.field()

    @property
    def chemical(self):
        """The chemical of every cell, rows x columns (int32)."""
        return self._world.field()[0]

    @property
    def agents(self):
        """Every agent, in the columns of agents.csv.gz without ``step``, as a DataFrame."""
        return table(self._world.agents())

    @property
    def births(self):
        """Every birth since the world was made or loaded, in the columns of births.csv.gz, as a DataFrame.

        ``mutated_position`` is NaN where nothing flipped, as pandas reads
        births.csv.gz's empty cell.
        """
        return table(self._world.births())

    def series_csv(self):
        """The samples so far as the text of series.csv, byte for byte as pathwick_run writes it."""
        return self._world.series_csv()

    @property
    def series(self):
        """The samples so far in the columns of series.csv, as a DataFrame."""
        return read_series_text(self._world.series_csv())

    # --- pictures ---
    def picture(self, scale=1):
        """The grid as the window shows it, as an H x W x 3 uint8 array, each pixel ``scale`` x ``scale``."""
        return self._world.picture(int(scale))

    def png(self, scale=1):
        """The picture of :meth:`picture` as the bytes of a PNG file."""
        return self._world.png(int(scale))

    def _repr_png_(self):
        """Jupyter shows a world as its picture."""
        return None if self.closed else self._world.png(1)

    # --- checkpoints ---
    def save(self, path):
        """Writes the world's checkpoint to ``path``: the very file ``--checkpoint-every`` writes."""
        self._world.save(os.fspath(path))

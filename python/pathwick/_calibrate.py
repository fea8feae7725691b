"""Calibration: ``pathwick_run --calibrate`` from Python, its posterior (or Pareto front) as a DataFrame."""

from __future__ import annotations

import os
import shutil
import subprocess

from ._tables import pandas


def _runner(runner):
    path = runner or os.environ.get("PATHWICK_RUN") or shutil.which("pathwick_run")
    if not path:
        raise FileNotFoundError("pathwick_run is not on the PATH: give runner=, or set PATHWICK_RUN")
    return os.fspath(path)


def _option(name):
    """A setting or measure given under its run.json key (sniff_threshold) as the command line names it."""
    return name.replace("_", "-")


def calibrate(folder, ranges, target=None, *, target_runs=None, steps=None, window=None, seeds_per_particle=None,
              particles=None, budget=None, calibration_seed=None, settings=None, sweep_jobs=None, runner=None,
              method=None, population=None, generations=None):
    """Calibrates the ranged settings to a target by ABC-SMC, as ``pathwick_run --calibrate folder`` does.

    ``method="nsga2"`` calibrates by NSGA-II instead (``--method nsga2``),
    each target measure's distance an objective of its own, with
    ``population`` individuals over ``generations`` generations (or as many
    as ``budget`` holds); it returns the Pareto front: the rows of
    pareto.csv whose rank is 0.

    ``ranges`` maps each factor (``"sniff_threshold"`` or ``"sniff-threshold"``)
    to ``(lo, hi)`` or ``(lo, hi, "log")`` in the setting's units;
    ``target`` maps measures (``trip_rate``, ``mean_angle``, ``mean_wiggle``,
    ``birth_rate``) to their values, or with ``target_runs`` (a folder of
    reference runs) is a list of the measures to take from them (all when
    None). ``settings`` fixes other settings for every run. The calibration
    is the command's: the same folder, the same generations, and with the
    same arguments the same posterior; given a folder that holds part of
    the same calibration, it resumes. Returns posterior.csv as a DataFrame
    (one row per particle: generation, particle, each factor as drawn and as
    its runs took it, distance, weight, the measures, run_folders).
    Refused arguments raise ValueError with pathwick_run's message, a
    calibration that fails RuntimeError.
    """
    pd = pandas()
    arguments = [_runner(runner), "--calibrate", os.fspath(folder)]
    for name, bounds in ranges.items():
        if len(bounds) not in (2, 3):
            raise ValueError(f"the range of {name} is (lo, hi) or (lo, hi, 'log'), not {bounds!r}")
        arguments += ["--range", f"{_option(name)}=" + ":".join(str(b) for b in bounds)]
    if target_runs is not None:
        arguments += ["--target-runs", os.fspath(target_runs)]
        for name in target or []:
            arguments += ["--target", name]
    else:
        for name, value in (target or {}).items():
            arguments += ["--target", f"{name}={value}"]
    for option, value in (("--steps", steps), ("--window", window), ("--seeds-per-particle", seeds_per_particle),
                          ("--particles", particles), ("--budget", budget),
                          ("--calibration-seed", calibration_seed), ("--sweep-jobs", sweep_jobs),
                          ("--method", method), ("--population", population), ("--generations", generations)):
        if value is not None:
            arguments += [option, str(value)]
    for name, value in (settings or {}).items():
        if isinstance(value, bool):
            value = "on" if value else "off"
        arguments += [f"--{_option(name)}", str(value)]
    done = subprocess.run(arguments, capture_output=True, text=True, check=False,
                          env={**os.environ, "QT_QPA_PLATFORM": "offscreen"})
    if done.returncode != 0:
        lines = [line for line in done.stderr.splitlines() if line.startswith("pathwick_run:")]
        message = lines[-1] if lines else done.stderr.strip()
        raise (ValueError if done.returncode == 2 else RuntimeError)(message)
    if method == "nsga2":
        pareto = pd.read_csv(os.path.join(os.fspath(folder), "pareto.csv"))
        return pareto[pareto["rank"] == 0].reset_index(drop=True)
    return pd.read_csv(os.path.join(os.fspath(folder), "posterior.csv"))

"""Pathwick from Python: drive a world, plot its chemical field, run a small ensemble.

    python3 docs/python_example.py [OUTDIR] [--steps N]

Writes OUTDIR/python-field.png (the README shows docs/python-field.png,
made with the defaults: OUTDIR docs, 5000 steps) and prints the last samples
and the ensemble's final genes.
"""

import argparse
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import LogNorm  # noqa: E402

import pathwick  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir", nargs="?", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--steps", type=int, default=5000)
    args = parser.parse_args()

    # A world as pathwick_run --seed 7 --evaporation-rate 0.3 makes it.
    with pathwick.World(seed=7, evaporation_rate=0.3) as world:
        world.step(args.steps // 2)
        # Steer it: a faster evaporation from here on, and a line of chemical
        # painted across the grid as the left mouse button paints it.
        world.set(evaporation_rate=0.6)
        world.paint(range(40, 360, 2), [200] * 160)
        world.step(args.steps - args.steps // 2)
        print(world.series[["step", "avg_angle", "avg_wiggle", "trips_total", "mean_chemical"]].tail())

        chemical, home, target = world.field()
        fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4.6))
        # Trails hold tens, the target area far more: a logarithmic scale shows both.
        shown = left.imshow(chemical, cmap="magma", norm=LogNorm(vmin=1, vmax=max(2, int(chemical.max()))))
        rows, cols = home.nonzero()
        left.scatter(cols, rows, marker="s", s=18, c="cyan", label="home cells")
        rows, cols = target.nonzero()
        left.scatter(cols, rows, marker="s", s=4, c="lime", label="target")
        left.set_title(f"chemical after {world.step_count} steps (seed {world.seed})")
        left.set_xlabel("column")
        left.set_ylabel("row")
        left.legend(loc="lower right", fontsize=8)
        fig.colorbar(shown, ax=left, shrink=0.8)
        right.imshow(world.picture())
        right.set_title("the grid as the window shows it")
        right.set_axis_off()
        fig.tight_layout()
        out = os.path.join(args.outdir, "python-field.png")
        fig.savefig(out, dpi=80)
        print("wrote", out)

    # Four worlds in worker processes: two evaporation rates, two seeds each.
    runs = [{"seed": seed, "evaporation_rate": rate, "agents": 300} for rate in (0.2, 0.8) for seed in (1, 2)]
    samples = pathwick.run_ensemble(runs, steps=args.steps, processes=2)
    last = samples[samples["step"] == samples["step"].max()]
    print(last[["run", "seed", "evaporation_rate", "avg_angle"]])  # each row carries its run's settings


if __name__ == "__main__":
    main()

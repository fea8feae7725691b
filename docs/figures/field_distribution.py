#!/usr/bin/env python3
"""Draws how the chemical is spread over the cells through a run, one panel
per run folder, from the folders' field.csv.gz (pathwick_run --field-every).

Usage: docs/figures/field_distribution.py OUT.png RUN-DIR...

Each cell at each sample falls in one of three kinds, by the rule of the
evaporation pass (docs/model.md, section 7.2): a cell above a + 2 (a: the
evaporation amount) still loses a every step; at or below a + 2 it never
changes again, and an unmarked cell settles at the background b. The figure
for docs/model.md was drawn from

    for rate in 0.2 0.5 0.8; do
      pathwick_run --seed 7 --steps 20000 --evaporation-rate $rate --field-every 500 --out ev$rate
    done
    docs/figures/field_distribution.py docs/field-distribution.png ev0.2 ev0.5 ev0.8

Needs pandas and matplotlib: scripts/deps.sh docs installs them from Debian.
"""
import json
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import pandas as pd  # noqa: E402

UNMARKED_START = 10  # every cell's chemical at setup
FLOOR = 2  # evaporation never takes a cell to this or below
DEFAULT_THRESHOLD = 15
KINDS = ["fresh", "settled", "background"]
COLOURS = {"fresh": "#d95f02", "settled": "#7570b3", "background": "#1b9e77"}


def background(amount):
    """Where an unmarked cell settles: evaporation removes `amount` while the
    cell holds more than amount + FLOOR."""
    level = UNMARKED_START
    while amount > 0 and level > amount + FLOOR:
        level -= amount
    return level


def shares(run):
    record = json.loads((run / "run.json").read_text())
    amount = record["effective"]["evaporation_amount"]
    rate = record["settings"]["evaporation_rate"]
    level = background(amount)
    field = pd.read_csv(run / "field.csv.gz", usecols=["step", "chemical"])
    kind = pd.Series("settled", index=field.index)
    kind[field.chemical > amount + FLOOR] = "fresh"
    kind[field.chemical == level] = "background"
    table = pd.crosstab(field.step, kind, normalize="index").reindex(columns=KINDS, fill_value=0) * 100
    return rate, amount, level, table


def panel(axes, rate, amount, level, table):
    axes.stackplot(
        table.index,
        [table[k] for k in KINDS],
        colors=[COLOURS[k] for k in KINDS],
        labels=[
            f"above {amount + FLOOR}: a mark still evaporating",
            f"at or below {amount + FLOOR} but not {level}: a mark evaporation no longer lowers",
            f"at the background {level}: never marked, or a mark gone back to it",
        ],
    )
    widest = (DEFAULT_THRESHOLD // level) if level > 0 else 0
    axes.set_title(
        f"evaporation rate {rate} (amount {amount})\nbackground {level}: a cone of {widest + 1}+ cells passes\n"
        f"the threshold {DEFAULT_THRESHOLD} on background alone",
        fontsize=10,
    )
    axes.set_xlabel("step")
    axes.set_ylim(0, 100)
    axes.set_xlim(table.index.min(), table.index.max())
    axes.legend(loc="upper center", bbox_to_anchor=(0.5, -0.16), fontsize=8, frameon=False)


def main(argv):
    if len(argv) > 1 and argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if len(argv) < 3:
        print("field_distribution.py: give OUT.png and at least one RUN-DIR (see --help)", file=sys.stderr)
        return 2
    out, runs = Path(argv[1]), [Path(a) for a in argv[2:]]
    figure, axes = plt.subplots(1, len(runs), figsize=(4.8 * len(runs), 5.2), sharey=True, squeeze=False)
    for ax, run in zip(axes[0], runs):
        panel(ax, *shares(run))
    axes[0][0].set_ylabel("share of the grid's cells (%)")
    figure.suptitle(
        "The grid is never free of chemical: most cells sit at a background that depends on the evaporation rate",
        fontsize=11,
    )
    figure.tight_layout()
    figure.savefig(out, dpi=110)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

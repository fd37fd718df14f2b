#!/usr/bin/python3
"""Plots the magnitude response quorvane-render measured from the module.

usage: plot_response.py DATA IMAGE [FORMAT]

DATA is tab-separated: a '# sample_rate<TAB>rate' line, a header line with the
legend texts (frequency_hz, total, then 'band N: ...' for each band that was
set; bands not set are flat and not in the file), then one line per frequency
with the levels in dB.

The image is drawn for a page column of 720 pixels (the manual's) at 100 %
zoom, so its text is as large as the page's small print: a PNG is 720
pixels wide and shown one to one.
"""
import re
import sys

WIDTH_INCHES = 7.2
DPI = 100
# One colour per band number, so a band keeps its colour from plot to plot.
BAND_COLOURS = ["#1f77b4", "#d95f02", "#2ca02c", "#d62728", "#7b3fa0"]


def main():
    if len(sys.argv) not in (3, 4):
        print("usage: plot_response.py DATA IMAGE [FORMAT]", file=sys.stderr)
        return 2
    data_path, image_path = sys.argv[1], sys.argv[2]
    image_format = sys.argv[3] if len(sys.argv) == 4 else "png"
    try:
        import numpy as np
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        from matplotlib.ticker import FixedLocator, NullFormatter
    except ImportError as missing:
        print(f"quorvane-render: error: plotting needs numpy and matplotlib for {sys.executable} "
              f"({missing}); on Debian or Ubuntu: apt install python3-numpy python3-matplotlib",
              file=sys.stderr)
        return 3

    with open(data_path, encoding="utf-8") as data:
        rate = float(data.readline().split("\t")[1])
        labels = data.readline().rstrip("\n").split("\t")[1:]
        table = np.loadtxt(data, delimiter="\t", ndmin=2)
    freqs = table[:, 0]
    curves = table[:, 1:]

    # Legend rows below the axes, two entries a row (a band's description
    # takes up to about 300 pixels at this size); the figure grows with them
    # so the axes keep their height.
    columns = 1 if len(labels) == 1 else 2
    rows = -(-len(labels) // columns)
    plt.rcParams.update({"font.size": 10.5, "axes.titlesize": 11.5, "axes.labelsize": 11,
                         "legend.fontsize": 10.5})
    fig, ax = plt.subplots(figsize=(WIDTH_INCHES, 4.1 + 0.24 * rows), dpi=DPI)
    for column in range(1, curves.shape[1]):
        band = re.match(r"band (\d+)", labels[column])
        colour = BAND_COLOURS[(int(band.group(1)) - 1) % len(BAND_COLOURS)] if band else "#777777"
        ax.semilogx(freqs, curves[:, column], label=labels[column], linewidth=1.6, linestyle="--",
                    color=colour, zorder=3)
    # The total underneath: where one band makes the whole response, its
    # dashes stay visible on it.
    ax.semilogx(freqs, curves[:, 0], label=labels[0], color="black", linewidth=2.8, zorder=2)

    nyquist = rate / 2
    ax.set_xlim(10, nyquist)
    ticks = [t for t in (10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000)
             if t <= nyquist]
    ax.xaxis.set_major_locator(FixedLocator(ticks))
    ax.xaxis.set_minor_formatter(NullFormatter())
    ax.set_xticklabels([f"{t // 1000}k" if t >= 1000 else str(t) for t in ticks])

    # Keep deep notches and steep slopes from squashing the interesting part.
    top = max(6.0, float(np.max(curves)) + 3.0)
    bottom = min(-6.0, float(np.min(curves)) - 3.0)
    ax.set_ylim(max(bottom, -48.0), min(top, 30.0))

    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("level (dB)")
    ax.set_title(f"Response measured from the module at {rate:g} Hz")
    ax.grid(True, which="major", alpha=0.5)
    ax.grid(True, which="minor", alpha=0.15)
    ax.axhline(0.0, color="#666666", linewidth=0.8)
    # Below the axes, so the legend never hides a curve; the total first.
    handles, names = ax.get_legend_handles_labels()
    order = [len(names) - 1] + list(range(len(names) - 1))
    ax.legend([handles[i] for i in order], [names[i] for i in order], loc="upper center",
              bbox_to_anchor=(0.5, -0.13), ncol=columns, frameon=False, handlelength=2.6,
              columnspacing=1.6)
    fig.tight_layout()
    fig.savefig(image_path, format=image_format, dpi=DPI)
    return 0


if __name__ == "__main__":
    sys.exit(main())

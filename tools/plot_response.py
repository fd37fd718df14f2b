#!/usr/bin/python3
"""Plots the magnitude response quorvane-render measured from the module.

usage: plot_response.py DATA IMAGE [FORMAT]

DATA is tab-separated: a '# sample_rate<TAB>rate' line, a header line with the
legend texts (frequency_hz, total, band 1: ..., band 5: ...), then one line
per frequency with the levels in dB.
"""
import sys


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
              f"({missing}); scripts/setup.sh installs them", file=sys.stderr)
        return 3

    with open(data_path, encoding="utf-8") as data:
        rate = float(data.readline().split("\t")[1])
        labels = data.readline().rstrip("\n").split("\t")[1:]
        table = np.loadtxt(data, delimiter="\t", ndmin=2)
    freqs = table[:, 0]
    curves = table[:, 1:]

    fig, ax = plt.subplots(figsize=(10, 6.2), dpi=110)
    colours = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd"]
    for band in range(1, curves.shape[1]):
        label = labels[band]
        flat = label.endswith("flat (not set)")
        ax.semilogx(freqs, curves[:, band], label=label, linewidth=1.0 if flat else 1.4,
                    linestyle=":" if flat else "--", color="#999999" if flat else colours[(band - 1) % 5],
                    zorder=3)
    # The total underneath: where one band makes the whole response, its
    # dashes stay visible on it.
    ax.semilogx(freqs, curves[:, 0], label=labels[0], color="black", linewidth=2.6, zorder=2)

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
    ax.set_title(f"Quorvane response, measured from the module at {rate:g} Hz")
    ax.grid(True, which="major", alpha=0.5)
    ax.grid(True, which="minor", alpha=0.15)
    ax.axhline(0.0, color="#666666", linewidth=0.8)
    # Below the axes, so the legend never hides a curve.
    ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.12), ncol=3, fontsize=8.5, frameon=False)
    fig.tight_layout()
    fig.savefig(image_path, format=image_format)
    return 0


if __name__ == "__main__":
    sys.exit(main())

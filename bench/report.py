#!/usr/bin/python3
"""Turns keldo_bench's JSON output into one Markdown table.

Benchmark names are "<operation>/<implementation>", "ours" being this
library ("ours-<backend>": one row per backend pinned, keldo_bench_internal),
"memcpy" the copy of the same size, reported as a ceiling, not a peer; the label is the implementation's printed name and the counter
"units" (when present) the units of work per call (PBKDF2 iterations).
With repetitions, the median is used; otherwise the single run.

With --svg, also draws the ratios as a chart: for each operation one bar
per peer, peer time / our time on a logarithmic axis, a line at 1 x, the
processor and the date in the caption (matplotlib, Agg backend: no display
and no network needed).

usage: report.py RESULTS.json [--commit SHA] [--svg CHART.svg]
"""
import argparse
import json
import re
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def fmt_rate(bytes_per_ns):
    gbs = bytes_per_ns  # bytes per ns == GB/s
    return f"{gbs:.2f} GB/s" if gbs >= 0.1 else f"{gbs * 1e3:.0f} MB/s"


def load(path):
    try:
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
    except (OSError, ValueError):
        sys.exit(f"report: no benchmark results in {path} (did the filter match nothing?)")
    runs = {}
    for b in doc.get("benchmarks", []):
        if b.get("error_occurred"):
            sys.exit(f"report: {b['name']} failed: {b.get('error_message', '')}")
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        # Multi-threaded runs: "<op>/<impl>/real_time/threads:N" becomes
        # "<op> [N threads]/<impl>".
        threads = re.search(r"/threads:(\d+)", name)
        name = re.sub(r"/(threads:\d+|real_time)", "", name)
        if threads:
            op, _, impl = name.rpartition("/")
            name = f"{op} [{threads.group(1)} threads]/{impl}"
        # Medians win over single iterations when both are present.
        if name in runs and b.get("run_type") != "aggregate":
            continue
        # CPU time: a benchmark descheduled by other work on the machine is
        # not charged for the time it did not run.
        ns = b["cpu_time"] * UNIT_NS[b.get("time_unit", "ns")]
        units = b.get("units", 1.0) or 1.0
        runs[name] = {
            "order": b.get("family_index", len(runs)),
            "ns": ns / units,
            "per_unit": units != 1.0,
            "label": b.get("label", ""),
            "bytes_per_second": b.get("bytes_per_second"),
            "items_per_second": b.get("items_per_second"),
        }
    return doc.get("context", {}), runs


def table(runs):
    # Rows in the program's registration order (the repetitions may have
    # been interleaved).
    ops = {}
    for name, r in sorted(runs.items(), key=lambda kv: kv[1]["order"]):
        op, _, impl = name.rpartition("/")
        ops.setdefault(op, {})[impl] = r
    with_memcpy = any("memcpy" in impls for impls in ops.values())
    lines = [
        "| operation | ours | best peer | peer | peer / ours | other peers (peer / ours) |"
        + (" ours / memcpy speed |" if with_memcpy else ""),
        "|---|---|---|---|---|---|" + ("---|" if with_memcpy else ""),
    ]
    for op, impls in ops.items():
        mine = [(impl, r) for impl, r in impls.items() if impl == "ours" or impl.startswith("ours-")]
        peers = sorted((r["ns"], impl) for impl, r in impls.items()
                       if not impl.startswith("ours") and impl != "memcpy")
        for impl, ours in mine:
            row = op if impl == "ours" else f"{op} [{impl[5:]}]"
            suffix = " /it" if ours["per_unit"] else ""

            def cell(r):
                text = fmt_time(r["ns"]) + suffix
                if r["bytes_per_second"]:
                    text += f" ({fmt_rate(r['bytes_per_second'] / 1e9)})"
                return text

            ceiling = ""
            if with_memcpy:
                ceiling = f" {impls['memcpy']['ns'] / ours['ns']:.2f} |" if "memcpy" in impls else " |"
            if not peers:
                lines.append(f"| {row} | {cell(ours)} | – | – | – | |{ceiling}")
                continue
            best = impls[peers[0][1]]
            others = ", ".join(f"{impls[p]['label']} {ns / ours['ns']:.2f}"
                               for ns, p in peers[1:])
            lines.append(
                f"| {row} | {cell(ours)} | {best['label']} | {cell(best)} | "
                f"**{best['ns'] / ours['ns']:.2f}** | {others} |{ceiling}"
            )
    return "\n".join(lines)


def scaling(runs):
    """Throughput with N threads against one thread, per implementation."""
    lines = []
    for name, r in runs.items():
        m = re.fullmatch(r"(.*) \[(\d+) threads\]/(.*)", name)
        if not m or m.group(2) == "1" or not r["items_per_second"]:
            continue
        one = runs.get(f"{m.group(1)} [1 threads]/{m.group(3)}")
        if not one or not one["items_per_second"]:
            continue
        n = int(m.group(2))
        ratio = r["items_per_second"] / one["items_per_second"]
        lines.append(f"- {m.group(1)}, {r['label'] or m.group(3)}: {n} threads give "
                     f"{ratio:.2f} x the throughput of one ({ratio / n:.2f} x {n})")
    return "\n".join(lines)


def chart(ctx, runs, path, commit):
    """peer time / our time for each operation and peer, as an SVG file."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    ops = {}
    for name, r in sorted(runs.items(), key=lambda kv: kv[1]["order"]):
        op, _, impl = name.rpartition("/")
        ops.setdefault(op, {})[impl] = r
    rows = []  # (operation, [(peer label, ratio)]) in registration order
    for op, impls in ops.items():
        if "ours" not in impls:
            continue  # pinned-backend runs have no default row
        peers = sorted((impls[i]["label"] or i, impls[i]["ns"] / impls["ours"]["ns"])
                       for i in impls if not i.startswith("ours") and i != "memcpy")
        if peers:
            rows.append((op, peers))
    if not rows:
        sys.exit("report: nothing to chart (no operation has a peer)")
    labels = sorted({label for _, peers in rows for label, _ in peers})
    palette = plt.get_cmap("tab10" if len(labels) <= 10 else "tab20")
    colours = {label: palette(k % palette.N) for k, label in enumerate(labels)}

    plt.rcParams["svg.hashsalt"] = "keldo-crypto"  # stable element ids
    plt.rcParams["svg.fonttype"] = "none"  # text stays text: small, searchable
    bar = 0.22
    height = sum(len(p) for _, p in rows) * bar + len(rows) * 0.12 + 1.6
    fig, ax = plt.subplots(figsize=(11, max(4.0, height)))
    y, ticks, seen = 0.0, [], set()
    for op, peers in rows:
        start = y
        for label, ratio in peers:
            ax.barh(y, ratio, height=bar * 0.9, color=colours[label],
                    label=None if label in seen else label)
            ax.text(ratio * 1.04, y, f"{ratio:.2f}", va="center", fontsize=6.5)
            seen.add(label)
            y += bar
        ticks.append(((start + y - bar) / 2, op))
        y += 0.12
    ax.set_xscale("log")
    ax.axvline(1.0, color="black", linewidth=1)
    ax.xaxis.set_major_locator(matplotlib.ticker.FixedLocator(
        [0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100]))
    ax.xaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda v, _: f"{v:g} ×"))
    ax.xaxis.set_minor_formatter(matplotlib.ticker.NullFormatter())
    ax.grid(axis="x", which="major", linewidth=0.3, alpha=0.5)
    ax.set_yticks([t for t, _ in ticks], [op for _, op in ticks], fontsize=7)
    ax.invert_yaxis()
    ax.set_xlabel("peer time / keldo-crypto time (log scale; right of the line: keldo-crypto is faster)")
    lo = min(r for _, p in rows for _, r in p)
    hi = max(r for _, p in rows for _, r in p)
    ax.set_xlim(min(lo, 1.0) / 1.5, hi * 1.6)
    ax.legend(fontsize=7, loc="upper left", bbox_to_anchor=(1.01, 1.0), title="peer",
              title_fontsize=7)
    cpu = f"{ctx.get('cpu_model', '?')} ({ctx.get('num_cpus', '?')} CPUs)"
    caption = f"{cpu}, {ctx.get('date', '?')}"
    if commit:
        caption += f", commit {commit[:12]}"
    caption += "; CPU time per call, median of the repetitions"
    fig.text(0.01, 0.005, caption, fontsize=7, ha="left", va="bottom")
    ax.set_title("keldo-crypto against its peers, same process, same inputs", fontsize=9)
    fig.tight_layout(rect=(0, 0.02, 1, 1))
    fig.savefig(path, format="svg", metadata={"Date": None})
    plt.close(fig)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("results")
    ap.add_argument("--commit", default="")
    ap.add_argument("--svg", help="also write the ratios as an SVG chart to this file")
    args = ap.parse_args()
    ctx, runs = load(args.results)
    if not runs:
        sys.exit("report: no benchmark results (did the filter match nothing?)")
    print(f"- date: {ctx.get('date', '?')}")
    print(f"- CPU: {ctx.get('cpu_model', '?')} ({ctx.get('num_cpus', '?')} CPUs)")
    load_avg = ctx.get("load_avg")
    if load_avg:
        print("- load average at the start: " + ", ".join(f"{x:.2f}" for x in load_avg) +
              " (other work on the machine adds noise)")
    if args.commit:
        print(f"- commit: {args.commit}")
    cap = ctx.get("openssl_ia32cap", "")
    if cap:
        print(f"- OPENSSL_ia32cap={cap} (OpenSSL's CPU capability bits masked as given)")
    for key, what in (("sha256_backends", "SHA-256"), ("base64_backends", "Base64")):
        if ctx.get(key):
            print(f"- keldo-crypto {what} backends, each pinned in turn: {ctx[key]}")
    print("- times are CPU time per call (median of the repetitions); "
          "peer / ours above 1 means keldo-crypto is faster")
    print()
    print(table(runs))
    lines = scaling(runs)
    if lines:
        print()
        print(lines)
    if args.svg:
        chart(ctx, runs, args.svg, args.commit)
        print(f"report: chart written to {args.svg}", file=sys.stderr)


if __name__ == "__main__":
    main()

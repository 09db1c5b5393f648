"""Turns a Google Benchmark JSON report of the suite into the summary table."""
import json
import sys

CASES = ["arith", "sine", "shaper", "filter", "cond", "horner", "partials", "copy"]


def medians(path):
    with open(path) as f:
        report = json.load(f)
    times = {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b.get("run_name", b["name"])
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6}[b["time_unit"]]
        times[name] = (b["real_time"] * scale, b)
    return report["context"], times


def middle(values):
    values = sorted(v for v in values if v == v)
    if not values:
        return float("nan")
    n = len(values)
    return values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2


def per_sample(entry):
    ns, b = entry
    if b is not None and "samples" in b:
        return ns / b["samples"]
    return ns


def main():
    runs = [medians(path) for path in sys.argv[1:]]
    context = runs[0][0]
    nan = (float("nan"), None)

    def figure(name, run):
        return per_sample(run[1].get(name, nan))

    def across(name):
        return middle(figure(name, run) for run in runs)

    def ratio(a, b):
        return middle(figure(a, run) / figure(b, run) for run in runs)

    print(f"machine: {context.get('num_cpus')} cpus at {context.get('mhz_per_cpu')} MHz, "
          f"{context.get('host_name')}, {context.get('date')}; {len(runs)} runs")
    print()
    print(f"{'case':10} {'ours ns':>9} {'muparser':>9} {'native':>8} {'ours/mup':>9} {'ours/nat':>9} {'module':>8} "
          f"{'threaded':>9} {'walk':>8}")
    for case in CASES:
        print(f"{case:10} {across('ours/' + case):9.2f} {across('peer/' + case):9.2f} "
              f"{across('native/' + case):8.2f} {ratio('ours/' + case, 'peer/' + case):9.2f} "
              f"{ratio('ours/' + case, 'native/' + case):9.2f} {across('module/' + case):8.2f} "
              f"{across('threaded/' + case):9.2f} {across('walk/' + case):8.2f}")
    print()
    print("ns per sample, medians over the runs of each run's median; ratios likewise,")
    print("each taken within one run. module: through the process entry in blocks of 256;")
    print("threaded, walk: the same engine with the compiled program run by the threaded")
    print("runner instead of as machine code, or the tree walked")
    print()
    print("parse times (us):")
    for name in sorted(runs[0][1]):
        if name.startswith("parse/"):
            print(f"  {name[6:]:10} {across(name) / 1e3:10.2f}")
    for name, (ns, b) in sorted(runs[0][1].items()):
        if name.startswith("memory/"):
            print(f"{name}: {b.get('bytes', 0):.0f} bytes held by one instance")


main()

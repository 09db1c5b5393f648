"""Turns a Google Benchmark JSON report of the suite into the summary table."""
import json
import sys

CASES = ["arith", "sine", "shaper", "filter", "cond", "horner", "partials"]


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


def main():
    context, t = medians(sys.argv[1])
    print(f"machine: {context.get('num_cpus')} cpus at {context.get('mhz_per_cpu')} MHz, "
          f"{context.get('host_name')}, {context.get('date')}")
    print()
    print(f"{'case':10} {'ours ns':>9} {'muparser':>9} {'native':>8} {'ours/mup':>9} {'ours/nat':>9} {'module':>8} "
          f"{'walk':>8}")
    for case in CASES:
        ours = t.get(f"ours/{case}", (float("nan"),))[0]
        peer = t.get(f"peer/{case}", (float("nan"),))[0]
        native = t.get(f"native/{case}", (float("nan"),))[0]
        module = t.get(f"module/{case}", (float("nan"), None))
        module_ns = module[0]
        if module[1] is not None and "samples" in module[1]:
            module_ns = module[0] / module[1]["samples"]
        walk = t.get(f"walk/{case}", (float("nan"),))[0]
        print(f"{case:10} {ours:9.2f} {peer:9.2f} {native:8.2f} {ours / peer:9.2f} {ours / native:9.1f} "
              f"{module_ns:8.2f} {walk:8.2f}")
    print()
    print("ns per sample; module: through the process entry in blocks of 256;")
    print("walk: the same engine with the tree walked instead of the compiled form")
    print()
    print("parse times (us):")
    for name, (ns, _) in sorted(t.items()):
        if name.startswith("parse/"):
            print(f"  {name[6:]:10} {ns / 1e3:10.2f}")
    for name, (ns, b) in sorted(t.items()):
        if name.startswith("memory/"):
            print(f"{name}: {b.get('bytes', 0):.0f} bytes held by one instance")


main()

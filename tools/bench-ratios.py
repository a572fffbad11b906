#!/usr/bin/env python3
"""Runs a benchmark program whose references are named after the case they
measure (BM_Stage next to BM_Stage_Memcpy and BM_Stage_OpenCV, same
arguments) and prints each case's median time as a ratio of each reference's
median in the same run.

    tools/bench-ratios.py build/default/bench/bench-toolbox_filters [--repetitions N] [benchmark options]
"""
import argparse
import collections
import json
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--repetitions", type=int, default=5)
    args, extra = parser.parse_known_args()
    run = subprocess.run(
        [args.program, "--benchmark_format=json",
         f"--benchmark_repetitions={args.repetitions}",
         "--benchmark_report_aggregates_only=true"] + extra,
        check=True, stdout=subprocess.PIPE, text=True)
    medians = {}
    for b in json.loads(run.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            medians[b["run_name"]] = b["real_time"], b["time_unit"]

    # BM_Stage_Reference/args -> (BM_Stage/args, Reference)
    references = collections.defaultdict(dict)
    for name in medians:
        base, _, arguments = name.partition("/")
        stem, _, reference = base.rpartition("_")
        case = stem + ("/" + arguments if arguments else "")
        if stem and case in medians:
            references[case][reference] = medians[name][0]

    width = max((len(c) for c in references), default=10)
    for case in sorted(references, key=list(medians).index):
        time, unit = medians[case]
        ratios = "  ".join(f"/{r} {time / t:6.2f}" for r, t in sorted(references[case].items()))
        print(f"{case:<{width}}  {time:10.1f} {unit}  {ratios}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env bash
# Builds the optimised build with the benchmarks, runs every benchmark and prints one table: each
# figure, the floor measured in the same run, and their ratio (figure / floor).
#
# The logbook benchmarks run on logbook-shaped data sets of 100,000 and 1,000,000 contacts (the
# 27-field record and the seven tags), made on the first run and kept in build/bench-data
# (QM_BENCH_DATA names another folder, QM_BENCH_SIZES other sizes, e.g. "100000").
# The grid benchmark (grid_bench) paints the logbook's grid on Qt's offscreen platform, which it
# chooses itself when QT_QPA_PLATFORM is not set.
# Arguments go to every benchmark program, e.g. --benchmark_repetitions=3 (the table then shows
# the mean and median rows) or --benchmark_filter=Keystroke.
# The raw output of each program is kept in build/bench-results/.
# rig_follow_bench (radio moved to the logbook's frequency label) starts its own private bus and
# Tarvane with the tests' simulated radio; it needs dbus-daemon and runs offscreen.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_BUILD_BENCH=ON >/dev/null
cmake --build "$top/build" -j "$(nproc)"

results="$top/build/bench-results"
rm -rf "$results"
mkdir -p "$results"
status=0
for source in "$top"/bench/*_bench.cpp; do
  name=$(basename "$source" .cpp)
  program="$top/build/bin/$name"
  echo "running $name ..." >&2
  if ! "$program" --benchmark_out="$results/$name.json" --benchmark_out_format=json "$@" \
      >"$results/$name.txt" 2>&1; then
    echo "$name failed; see $results/$name.txt" >&2
    status=1
  fi
done
# The event timing is a plain program on a private bus of its own; it prints RESULT lines.
if [ -x "$top/build/bin/tarvane_events_timing" ]; then
  echo "running tarvane_events_timing ..." >&2
  if ! QT_QPA_PLATFORM=offscreen "$top/build/bin/tarvane_events_timing" \
      >"$results/tarvane_events_timing.txt" 2>&1; then
    echo "tarvane_events_timing failed; see $results/tarvane_events_timing.txt" >&2
    status=1
  fi
fi

python3 - "$results" <<'EOF'
import glob, json, os, re, sys

results = sys.argv[1]

def pretty(us):
    if us is None:
        return "-"
    if us >= 1e6:
        return "%.2f s" % (us / 1e6)
    if us >= 1e3:
        return "%.2f ms" % (us / 1e3)
    if us >= 1:
        return "%.1f us" % us
    return "%.0f ns" % (us * 1e3)

rows = []
for path in sorted(glob.glob(os.path.join(results, "*.json"))):
    program = os.path.basename(path)[:-5]
    try:
        with open(path) as f:
            data = json.load(f)
    except (OSError, ValueError):
        continue  # nothing ran (a filter left it out, or it failed: see above)
    runs = data.get("benchmarks", [])
    aggregated = {r.get("run_name") for r in runs if r.get("run_type") == "aggregate"}
    for r in runs:
        if r.get("run_type") == "aggregate":
            if r.get("aggregate_name") not in ("mean", "median"):
                continue
        elif r.get("run_name") in aggregated:
            continue
        if r.get("error_occurred"):
            rows.append((program, r["name"] + " (error: %s)" % r.get("error_message", ""), None, None, None))
            continue
        name = re.sub(r"/(manual_time|real_time|iterations:\d+)", "", r["name"])
        if r.get("peak_rss_mb"):
            name += " (peak %.0f MB)" % r["peak_rss_mb"]
        rows.append((program, name,
                     r.get("figure_us"), r.get("floor_us"), r.get("ratio")))
        # A second floor measured in the same run (index_build_bench: one pass reading the table).
        if r.get("io_floor_us") is not None:
            rows.append((program, name + " vs one table pass",
                         r.get("figure_us"), r.get("io_floor_us"), r.get("io_ratio")))
timing = os.path.join(results, "tarvane_events_timing.txt")
if os.path.exists(timing):
    for line in open(timing):
        if line.startswith("RESULT "):
            fields = line.split()
            values = dict(f.split("=", 1) for f in fields[2:])
            rows.append(("tarvane_events_timing", fields[1], float(values["figure_us"]),
                         float(values["floor_us"]), float(values["ratio"])))

width = max([len(r[1]) for r in rows] + [9])
print()
print("%-22s %-*s %12s %12s %9s" % ("program", width, "benchmark", "figure", "floor", "ratio"))
print("-" * (22 + width + 37))
for program, name, figure, floor, ratio in rows:
    print("%-22s %-*s %12s %12s %9s" % (program, width, name, pretty(figure), pretty(floor),
                                         "-" if ratio is None else "%.3g" % ratio))
EOF
exit $status

#!/usr/bin/python3
"""The cost of zelk8.run from Python against the C++ call it makes
(zelk8::run_text), on the bundled anthracene, in one process: the best of N
calls each; with --batch N also zelk8.batch against zelk8-batch on N crystals.
Run by hand, after building the package:

    PYTHONPATH=build/default/python nice -n 19 /usr/bin/python3 bench/python_run.py [N]
    ZELK8_BATCH_BINARY=build/default/src/batch/zelk8-batch PYTHONPATH=build/default/python \
        nice -n 19 /usr/bin/python3 bench/python_run.py 5 --batch 100

The Python figure includes everything zelk8.run returns at once (the status,
the files as Python text); the typed report is read on first use of
run.report, and is timed on its own line."""
import os
import sys
import time

import zelk8
from zelk8 import _zelk8

repeats = int(sys.argv[1]) if len(sys.argv) > 1 and sys.argv[1].isdigit() else 20
here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "..", "examples", "anthracene", "zelk8.dat"), encoding="utf-8") as f:
    text = f.read()

for threads in (1, 0):
    cpp = _zelk8.time_run_text(text, repeats, threads)
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        run = zelk8.run(text, map_threads=threads)
        run.files
        best = min(best, time.perf_counter() - start)
    label = "1 map thread" if threads == 1 else "all CPUs"
    print(f"anthracene, {label}: C++ run_text {cpp * 1e3:.3f} ms, zelk8.run {best * 1e3:.3f} ms, "
          f"ratio {best / cpp:.3f} (best of {repeats})")

best = float("inf")
for _ in range(repeats):
    run = zelk8.run(text, map_threads=1)
    start = time.perf_counter()
    run.report.map.Etot.values
    best = min(best, time.perf_counter() - start)
print(f"reading the typed report and its map back: {best * 1e3:.3f} ms")

# With --batch N: N crystals (the bundled CIFs copied under N names) through
# zelk8.batch and through zelk8-batch, each from scratch with the default
# lattice radius; ZELK8_BATCH_BINARY names the tool.
if "--batch" in sys.argv:
    import shutil
    import subprocess
    import tempfile

    count = int(sys.argv[sys.argv.index("--batch") + 1])
    scratch = tempfile.mkdtemp(prefix="zelk8-python-bench-")
    inputs = os.path.join(scratch, "in")
    os.makedirs(inputs)
    names = ["anthracene", "naphthalene", "quinacridone"]
    for k in range(count):
        shutil.copy(os.path.join(here, "..", "examples", "cif", names[k % 3] + ".cif"),
                    os.path.join(inputs, f"{names[k % 3]}-{k:03d}.cif"))
    # Rounds alternate which goes first, each into a fresh folder, so that
    # neither always meets the other's unwritten files or a cold cache.
    rounds = 4
    tool_times, python_times = [], []
    for k in range(rounds):
        for which in ("tool", "python") if k % 2 == 0 else ("python", "tool"):
            out = os.path.join(scratch, f"{which}-{k}")
            start = time.perf_counter()
            if which == "tool":
                subprocess.run([os.environ["ZELK8_BATCH_BINARY"], inputs, "-o", out, "--force"],
                               check=False, capture_output=True)
                tool_times.append(time.perf_counter() - start)
            else:
                zelk8.batch([inputs], out=out, force=True)
                python_times.append(time.perf_counter() - start)
    for k in range(rounds):
        print(f"{count} crystals, round {k + 1}: zelk8-batch {tool_times[k]:.2f} s, "
              f"zelk8.batch {python_times[k]:.2f} s, ratio {python_times[k] / tool_times[k]:.3f}")
    tool_median = sorted(tool_times)[rounds // 2 - 1:rounds // 2 + 1]
    python_median = sorted(python_times)[rounds // 2 - 1:rounds // 2 + 1]
    print(f"medians: zelk8-batch {sum(tool_median) / 2:.2f} s, zelk8.batch {sum(python_median) / 2:.2f} s, "
          f"ratio {sum(python_median) / sum(tool_median):.3f}")
    shutil.rmtree(scratch)

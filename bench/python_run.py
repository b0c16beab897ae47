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
    start = time.perf_counter()
    subprocess.run([os.environ["ZELK8_BATCH_BINARY"], inputs, "-o", os.path.join(scratch, "tool"),
                    "--force"], check=False, capture_output=True)
    tool = time.perf_counter() - start
    start = time.perf_counter()
    zelk8.batch([inputs], out=os.path.join(scratch, "python"), force=True)
    python = time.perf_counter() - start
    print(f"{count} crystals: zelk8-batch {tool:.2f} s, zelk8.batch {python:.2f} s, "
          f"ratio {python / tool:.3f}")
    shutil.rmtree(scratch)

# The companions from Python: prepare as zelk8-prep writes, the batch's
# DataFrame as its summary.csv, the lattice energy as the batch sums it.
import csv
import json
import math
import os
import shutil
import signal
import subprocess
import sys
import time

import pandas as pd
import pytest

import zelk8
from conftest import EXAMPLES, read_bytes, run_tool, tool

CIFS = os.path.join(EXAMPLES, "cif")


def cif(name):
    return os.path.join(CIFS, name + ".cif")


@pytest.mark.parametrize("options,words", [
    ({}, []),
    ({"cutoff": 12, "charges": (0.1, 0, 0, 0)}, ["--cutoff", "12", "--charges", "0.1,0,0,0"]),
    ({"no_map": True, "model": "x23"}, ["--no-map", "--model", "x23"]),
])
def test_prepare_writes_what_the_tool_writes(options, words, work):
    summary = os.path.join(work, "prep.json")
    done = run_tool([tool("ZELK8_PREP_BINARY"), cif("anthracene"), "--json", summary] + words)
    assert done.returncode == 0, done.stderr
    prepared = zelk8.prepare(cif("anthracene"), **options)
    assert prepared.input == done.stdout
    assert prepared.json() == read_bytes(summary).decode()
    assert prepared.summary["formula"] == "C14H10" and prepared.summary["units"]
    prefix = "zelk8-prep: warning: "
    lines = done.stderr.splitlines(keepends=True)
    assert prepared.warnings == [l[len(prefix):].rstrip("\n") for l in lines if l.startswith(prefix)]
    assert prepared.summary_text == "".join(l for l in lines if not l.startswith(prefix))
    # The same CIF given as text, named as on the command line.
    with open(cif("anthracene"), encoding="utf-8") as f:
        again = zelk8.prepare(f.read(), name=cif("anthracene"), **options)
    assert again.input == done.stdout and again.json() == prepared.json()
    assert prepared.run().status == 0


def test_prepare_errors_carry_the_tools_message(work):
    with pytest.raises(zelk8.InputError, match="--cutoff"):
        zelk8.prepare(cif("anthracene"), cutoff="far")
    with pytest.raises(zelk8.InputError, match=r"--bogus.*help\(zelk8.prepare\)"):
        zelk8.prepare(cif("anthracene"), bogus=1)
    with pytest.raises(zelk8.InputError, match="no_such.cif"):
        zelk8.prepare(os.path.join(work, "no_such.cif"))
    broken = os.path.join(work, "broken.cif")
    with open(broken, "w", encoding="utf-8") as f:
        f.write("data_x\n_cell_length_a 5\nloop_\n_atom_site_label\n")
    with pytest.raises(zelk8.InputError, match="broken.cif"):
        zelk8.prepare(broken)
    with pytest.raises(zelk8.InputError, match="write"):
        zelk8.prepare(cif("anthracene"), output="x.dat")
    with pytest.raises(zelk8.InputError, match="set by the batch"):
        zelk8.batch([cif("anthracene")], skip_units=20)


def csv_rows(path):
    with open(path, encoding="utf-8", newline="") as f:
        return list(csv.reader(f))


def test_batch_frame_equals_summary_csv(work):
    out = os.path.join(work, "batch")
    df = zelk8.batch([CIFS], out=out, jobs=2, lattice_radius=12)
    header, *rows = csv_rows(os.path.join(out, "summary.csv"))
    assert list(df.columns) == header == zelk8.summary_columns
    assert len(df) == len(rows) == 3
    assert list(df["status"]) == ["ok"] * 3
    kinds = dict(zelk8._zelk8.summary_columns)
    for k, row in enumerate(rows):
        for column, text in zip(header, row):
            value = df.iloc[k][column]
            if kinds[column] == "number":
                assert (math.isnan(value) and not text) or value == float(text), column
            elif kinds[column] == "count":
                assert (value is pd.NA and not text) or value == int(text), column
            elif kinds[column] == "list":
                assert " | ".join(value) == text, column
            else:
                assert value == text, column
    assert df["lattice_energy"].dtype == float and (df["lattice_energy"] < 0).all()

    # The same crystals through zelk8-batch: the same table (but the seconds).
    tool_out = os.path.join(work, "tool")
    done = run_tool([tool("ZELK8_BATCH_BINARY"), CIFS, "-o", tool_out, "-j", "2",
                     "--lattice-radius", "12"])
    assert done.returncode == 0, done.stderr
    tool_header, *tool_rows = csv_rows(os.path.join(tool_out, "summary.csv"))
    seconds = tool_header.index("seconds")
    strip = lambda r: r[:seconds] + r[seconds + 1:]  # noqa: E731
    assert [strip(r) for r in tool_rows] == [strip(r) for r in rows]

    # The lattice energy of one crystal is its row's.
    energy = zelk8.lattice_energy(cif("anthracene"), radius=12)
    row = df[df["name"] == "anthracene"].iloc[0]
    assert float(energy) == row["lattice_energy"]
    assert energy.molecules == row["lattice_molecules"]


def test_batch_of_a_bad_cif_has_its_row(work):
    broken = os.path.join(work, "broken.cif")
    with open(broken, "w", encoding="utf-8") as f:
        f.write("data_x\n_cell_length_a 5\n")
    df = zelk8.batch([broken], lattice_radius=0)
    assert len(df) == 1 and df.iloc[0]["status"] != "ok" and df.iloc[0]["message"]
    with pytest.raises(zelk8.InputError):
        zelk8.lattice_energy(broken)
    with pytest.raises(zelk8.InputError):
        zelk8.batch([os.path.join(work, "nothing-here.cif")])


def test_ctrl_c_stops_the_batch_keeping_whole_crystals(work):
    # Enough crystals that the interrupt comes in the middle: it raises
    # KeyboardInterrupt in the interpreter, which goes on; the crystals
    # published are whole, nothing temporary is left, and a second call in
    # the same interpreter does the rest.
    inputs = os.path.join(work, "in")
    os.makedirs(inputs)
    names = ["anthracene", "naphthalene", "quinacridone"]
    for k in range(300):
        shutil.copy(cif(names[k % 3]), os.path.join(inputs, f"c{k:03d}.cif"))
    out = os.path.join(work, "out")
    script = ("import sys, zelk8\n"
              "try:\n"
              "    zelk8.batch([sys.argv[1]], out=sys.argv[2])\n"
              "    print('finished')\n"
              "except KeyboardInterrupt as e:\n"
              "    print('interrupted:', e, flush=True)\n"
              "    input()\n"
              "    df = zelk8.batch([sys.argv[1]], out=sys.argv[2])\n"
              "    print('rerun', len(df), (df['status'] == 'ok').sum())\n")
    child = subprocess.Popen([sys.executable, "-c", script, inputs, out], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def published():
        if not os.path.isdir(out):
            return []
        return [d for d in os.listdir(out)
                if not d.startswith(".") and os.path.isfile(os.path.join(out, d, "result.json"))]

    deadline = time.monotonic() + 120
    while not published() and child.poll() is None and time.monotonic() < deadline:
        time.sleep(0.01)
    child.send_signal(signal.SIGINT)
    first = child.stdout.readline()
    if first.startswith("finished"):
        child.communicate(timeout=300)
        pytest.skip("the batch ended before the interrupt reached it")
    assert first.startswith("interrupted: zelk8-batch: interrupted"), first + child.stderr.read()
    kept = published()
    assert 0 < len(kept) < 300
    assert not [d for d in os.listdir(out) if ".tmp-" in d or d.endswith(".running")]
    for name in kept:
        with open(os.path.join(out, name, "result.json"), encoding="utf-8") as f:
            assert json.load(f)["summary"]["status"] == "ok"
    stdout, stderr = child.communicate("\n", timeout=300)
    assert child.returncode == 0, stderr
    assert stdout.split() == ["rerun", "300", "300"], stdout + stderr

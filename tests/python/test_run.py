# The program from Python: the bundled examples byte for byte as the
# executable writes them, the typed report against the page data that
# zelk8-view builds from the same report, the pictures and pages as the
# tools write them, and bad input as exceptions.
import json
import math
import os
import shutil

import numpy as np
import pytest

import zelk8
from conftest import EXAMPLE_RUNS, EXAMPLES, executable_run, read_bytes, run_tool, tool


def example_text(name):
    with open(os.path.join(EXAMPLES, name, "zelk8.dat"), encoding="utf-8") as f:
        return f.read()


@pytest.mark.parametrize("example", EXAMPLE_RUNS)
def test_examples_byte_identical_to_the_executable(example, work):
    expected = executable_run(example, os.path.join(work, "exe"))
    run = zelk8.run(example_text(example))
    assert run.status == 0 and run.diagnostic == ""
    assert sorted(run.files) == sorted(expected)
    for name, text in run.files.items():
        assert text.encode() == expected[name], name
    # run_folder leaves the same files in the folder.
    folder = os.path.join(work, "lib")
    os.makedirs(folder)
    shutil.copy(os.path.join(EXAMPLES, example, "zelk8.dat"), folder)
    again = zelk8.run_folder(folder)
    assert again.status == 0
    for name in expected:
        assert read_bytes(os.path.join(folder, name)) == expected[name], name


def page_json(folder, work):
    out = os.path.join(work, "page.json")
    done = run_tool([tool("ZELK8_VIEW_BINARY"), folder, "-o", os.path.join(work, "p.html"),
                     "--json", out])
    assert done.returncode == 0, done.stderr
    with open(out, encoding="utf-8") as f:
        return json.load(f)


def same(value, expected):
    if expected is None:
        return math.isnan(value)
    return value == expected


@pytest.mark.parametrize("example", ["anthracene", "quinacridone", "anthracene-nomap"])
def test_units_and_map_equal_the_report_readers(example, work):
    folder = os.path.join(work, example)
    executable_run(example, folder)
    data = page_json(folder, work)
    report = zelk8.run(example_text(example)).report
    assert report.complete

    units = report.units.to_pandas()
    assert len(units) == len(data["units"]) > 0
    for k, expected in enumerate(data["units"]):
        row = units.iloc[k]
        assert row["name"] == expected["name"]
        for column in ("number", "d_shortest", "d_center", "dihedral_angle", "EvdW", "Estat",
                       "Etot"):
            assert same(row[column], expected[column]), (k, column)
        for axis, column in enumerate(("X", "Y", "Z")):
            assert same(row[column], expected["centre"][axis])
        ops = [row[c] for c in ("a11", "a12", "a13", "a21", "a22", "a23", "a31", "a32", "a33",
                                "t1", "t2", "t3")]
        assert all(same(v, e) for v, e in zip(ops, expected["operation"]))
        if not expected["marker"]:
            assert row["operation"] == expected["operation_text"]
    assert float(report.lattice_sum) == data["lattice_etot"]

    atoms = report.atoms.to_pandas()
    assert list(atoms["label"]) == [a["label"] for a in data["atoms"]]
    assert report.cell.a.text and float(report.cell.a) == data["cell"]["a"]

    if data["map"] is None:
        assert report.map is None
        with pytest.raises(zelk8.NoMapError):
            report.map_svg(os.path.join(work, "none.svg"))
        return
    m = report.map
    np.testing.assert_array_equal(m.l_shifts, np.array(data["map"]["l_shifts"], dtype=float))
    np.testing.assert_array_equal(m.s_shifts, np.array(data["map"]["s_shifts"], dtype=float))
    for name in ("EvdW", "Estat", "Etot"):
        grid = getattr(m, name)
        expected = np.array(data["map"][name]["values"], dtype=float)
        assert grid.values.shape == (len(m.s_shifts), len(m.l_shifts))
        np.testing.assert_array_equal(grid.values, expected)
        # The printed text of every cell is kept, also where the value is NaN.
        for row, column, text in data["map"][name]["off_scale"]:
            assert math.isnan(grid.values[row, column]) and grid.printed[row, column] == text
        assert grid.printed.shape == grid.values.shape
    assert m.overlap_points == data["map"]["overlap_points"]
    assert float(m.Etot.minimum.energy) == data["map"]["Etot"]["minimum"]["energy"]


def test_off_scale_cells_are_nan_with_their_text():
    # Two cells of the first Etot row printed off-scale: NaN in the values,
    # the text kept, every other cell as printed.
    text = zelk8.run(example_text("anthracene")).files["at8.dat"]
    lines = text.split("\n")
    row = lines.index(next(l for l in lines if l.startswith(" Etot "))) + 1
    line = lines[row]
    lines[row] = line[:20] + "  ********" + "       NaN" + line[40:]
    report = zelk8.read_report_text("\n".join(lines))
    grid = report.map.Etot
    assert np.isnan(grid.values[0, 1]) and grid.printed[0, 1] == "********"
    assert np.isnan(grid.values[0, 2]) and grid.printed[0, 2] == "NaN"
    assert np.isnan(grid.values).sum() == 2
    finite = ~np.isnan(grid.values)
    assert np.array_equal([float(t) for t in grid.printed[finite]], grid.values[finite])
    assert grid.values[0, 0] == float(line[10:20])
    assert not np.isnan(report.map.EvdW.values).any()


@pytest.mark.parametrize("example", ["anthracene", "quinacridone"])
def test_pictures_and_pages_as_the_tools_write_them(example, work):
    folder = os.path.join(work, example)
    executable_run(example, folder)
    done = run_tool([tool("ZELK8_MAP_BINARY"), "at8.dat", "-o", "tool.svg"], cwd=folder)
    assert done.returncode == 0, done.stderr
    done = run_tool([tool("ZELK8_VIEW_BINARY"), ".", "-o", "tool.html"], cwd=folder)
    assert done.returncode == 0, done.stderr

    report = zelk8.read_report(os.path.join(folder, "at8.dat"))
    cwd = os.getcwd()
    try:
        os.chdir(folder)
        zelk8.read_report("at8.dat").map_svg("lib.svg")
        zelk8.run_folder(".").page("lib.html")
    finally:
        os.chdir(cwd)
    assert read_bytes(os.path.join(folder, "lib.svg")) == read_bytes(os.path.join(folder, "tool.svg"))
    assert read_bytes(os.path.join(folder, "lib.html")) == read_bytes(
        os.path.join(folder, "tool.html"))
    assert report.page_data()["crystal"] == example


def test_bad_input_raises_the_family(work):
    text = example_text("anthracene")
    cut = "\n".join(text.splitlines()[:3]) + "\n"
    with pytest.raises(zelk8.InputError) as caught:
        zelk8.run(cut)
    assert isinstance(caught.value, zelk8.Error) and isinstance(caught.value, ValueError)
    assert "zelk8.dat line" in str(caught.value)
    # The run as far as it got, the same as the executable leaves it.
    partial = caught.value.run
    assert partial.status == 2 and partial.diagnostic == str(caught.value)
    assert not partial.report.complete and partial.report.stop_message
    unchecked = zelk8.run(cut, check=False)
    assert unchecked.status == 2 and unchecked.files["at8.dat"] == partial.files["at8.dat"]
    folder = os.path.join(work, "cut")
    os.makedirs(folder)
    with open(os.path.join(folder, "zelk8.dat"), "w", encoding="utf-8") as f:
        f.write(cut)
    done = run_tool([tool("ZELK8_BINARY")], cwd=folder)
    assert done.returncode == 2 and done.stderr.strip() == "zelk8: " + str(caught.value)
    assert read_bytes(os.path.join(folder, "at8.dat")) == partial.files["at8.dat"].encode()

    # A folder without zelk8.dat: nothing written, the program's message.
    with pytest.raises(zelk8.InputError, match="zelk8.dat"):
        zelk8.run_folder(os.path.join(work, "missing"))

    # Not a report: the line is named.
    with pytest.raises(zelk8.ReportError) as caught:
        zelk8.read_report_text("not a report\n", source="x.dat")
    assert caught.value.line == 1 and caught.value.source == "x.dat"
    with pytest.raises(zelk8.ReportError):
        zelk8.read_report(os.path.join(work, "nothing", "at8.dat"))

    # A file that cannot be written.
    run = zelk8.run(text)
    with pytest.raises(zelk8.OutputError) as caught:
        run.map_svg(os.path.join(work, "no", "such", "folder", "map.svg"))
    assert isinstance(caught.value, OSError) and "map.svg" in str(caught.value)


def test_runs_side_by_side_in_threads():
    # The lock is released during a run: runs in threads at once give what
    # they give one after another.
    from concurrent.futures import ThreadPoolExecutor

    texts = [example_text(name) for name in EXAMPLE_RUNS] * 2
    alone = [zelk8.run(text, map_threads=1).files for text in texts]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(lambda text: zelk8.run(text, map_threads=1).files, texts))
    assert together == alone

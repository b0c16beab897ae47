"""zelk8 for Python: the program and its companions in process.

    import zelk8
    run = zelk8.run(open("zelk8.dat").read())
    run.files["at8.dat"]            # the report, byte for byte what zelk8 writes
    run.report.units.to_pandas()    # the unit blocks as a table
    run.report.map.Etot.values      # the shift map, VS rows by VL columns, NaN off-scale

Every printed number of a report is a Field: ``.text`` as printed, ``.value``
(None when printed off-scale) and ``float(field)`` (NaN when off-scale).
Errors are exceptions of the family ``zelk8.Error``.
"""

import csv
import io
import os
import shutil
import tempfile
import threading
from collections.abc import Sequence

import numpy as np

from . import _zelk8
from ._zelk8 import (  # noqa: F401  (the interface)
    Error,
    Field,
    InputError,
    NoMapError,
    OutputError,
    ReportError,
)

__version__ = _zelk8.version

__all__ = [
    "run",
    "run_folder",
    "read_report",
    "read_report_text",
    "prepare",
    "lattice_energy",
    "batch",
    "summary_columns",
    "Error",
    "InputError",
    "OutputError",
    "ReportError",
    "NoMapError",
    "Field",
]

# The columns of a batch's summary, in order, with what each holds
# ("text", "number", "count" or "list").
summary_columns = [name for name, _ in _zelk8.summary_columns]
_column_kinds = dict(_zelk8.summary_columns)


def _pandas():
    import pandas

    return pandas


def _import_pandas_quietly():
    # A failed import is raised again, with its message, where the table is
    # made.
    try:
        _pandas()
    except ImportError:
        pass


def _nan_of(field):
    return np.nan if field.value is None else field.value


# ---------------------------------------------------------------------------
# The report


class AtomTable(Sequence):
    """The atom list of a report (the first atom set), with the molecule's
    frame coordinates and charges of the Molecular Coordinates table."""

    def __init__(self, atoms, coordinates):
        self._atoms = atoms
        self._coordinates = coordinates

    def __getitem__(self, k):
        return self._atoms[k]

    def __len__(self):
        return len(self._atoms)

    def to_pandas(self):
        """One row per atom: label, symbol, element, x, y, z (fractional) and,
        when the report holds them, l, s, v (Angstrom along VL, VS, VV) and
        charge. Off-scale numbers are NaN."""
        rows = []
        frame = self._coordinates if len(self._coordinates) == len(self._atoms) else None
        for k, a in enumerate(self._atoms):
            row = {
                "label": a.label,
                "symbol": a.symbol,
                "element": _nan_of(a.element),
                "x": _nan_of(a.x),
                "y": _nan_of(a.y),
                "z": _nan_of(a.z),
            }
            if frame is not None:
                f = frame[k]
                row.update(l=_nan_of(f.l), s=_nan_of(f.s), v=_nan_of(f.v), charge=_nan_of(f.charge))
            rows.append(row)
        columns = ["label", "symbol", "element", "x", "y", "z"]
        if frame is not None:
            columns += ["l", "s", "v", "charge"]
        df = _pandas().DataFrame(rows, columns=columns)
        if not df.empty:
            df["element"] = df["element"].astype("Int64")
        return df


_operation_names = ["a11", "a12", "a13", "a21", "a22", "a23", "a31", "a32", "a33", "t1", "t2", "t3"]


class UnitTable(Sequence):
    """The unit blocks of a report, in the order printed. Each unit has every
    printed field (number, name, d_shortest, d_center, centre, dihedral_angle,
    operation, EvdW, Estat, Etot) and the operation as symmetry text
    (operation_text)."""

    def __init__(self, units):
        self._units = units

    def __getitem__(self, k):
        return self._units[k]

    def __len__(self):
        return len(self._units)

    def to_pandas(self):
        """One row per unit: number, name, d_shortest, d_center, X, Y, Z (the
        centre along VL, VS, VV), dihedral_angle, operation (as text), EvdW,
        Estat, Etot, then a11 ... a33, t1 t2 t3. Off-scale numbers are NaN;
        their printed text is in ``df.attrs["printed"]`` by (row, column)."""
        rows = []
        printed = {}
        for k, u in enumerate(self._units):
            fields = [
                ("number", u.number),
                ("d_shortest", u.d_shortest),
                ("d_center", u.d_center),
                ("X", u.centre[0]),
                ("Y", u.centre[1]),
                ("Z", u.centre[2]),
                ("dihedral_angle", u.dihedral_angle),
                ("EvdW", u.EvdW),
                ("Estat", u.Estat),
                ("Etot", u.Etot),
            ] + list(zip(_operation_names, u.operation))
            row = {"name": u.name, "operation": u.operation_text}
            for column, field in fields:
                row[column] = _nan_of(field)
                if field.value is None:
                    printed[(k, column)] = field.text
            rows.append(row)
        columns = ["number", "name", "d_shortest", "d_center", "X", "Y", "Z", "dihedral_angle"]
        columns += ["operation", "EvdW", "Estat", "Etot"] + _operation_names
        df = _pandas().DataFrame(rows, columns=columns)
        if not df.empty and df["number"].notna().all():
            df["number"] = df["number"].astype(int)
        df.attrs["printed"] = printed
        return df


class MapGrid:
    """One energy table of the shift map (kJ/mol): ``values`` is a 2-D array,
    one row per VS shift and one column per VL shift, NaN where the report
    printed a value off-scale; ``printed`` holds every cell's text as
    printed; ``minimum`` the report's minimum line (None for Estat);
    ``overlap`` marks the overlap points (two atoms inside the maximum of the
    exp-6 term), where the energy is an artefact of the functional form."""

    def __init__(self, table, minimum, contacts):
        self.name = table.name
        self.values = table.values
        self.printed = np.array(table.texts, dtype=object).reshape(self.values.shape)
        self.minimum = minimum
        self.overlap = contacts["overlap"]

    def lowest(self):
        """(l index, s index, energy) of the lowest energy below zero that is
        not an overlap point, or None."""
        values = np.where(self.overlap, np.nan, self.values) if self.overlap.shape == self.values.shape else self.values
        if np.all(np.isnan(values)) or np.nanmin(values) >= 0:
            return None
        row, column = np.unravel_index(np.nanargmin(values), values.shape)
        return int(row), int(column), float(values[row, column])

    def __repr__(self):
        return f"MapGrid({self.name}, {self.values.shape[0]} x {self.values.shape[1]})"


class Map:
    """The shift map of a report: the stacked molecule moved by (l, s) along
    VL and VS at the height of the map heading."""

    def __init__(self, raw_report):
        m = raw_report.map
        contacts = raw_report.contacts()
        self.height = raw_report.map_height
        self.l_shifts = m.Etot.l_shifts
        self.s_shifts = m.Etot.s_shifts
        self.EvdW = MapGrid(m.EvdW, m.evdw_minimum, contacts)
        self.Estat = MapGrid(m.Estat, None, contacts)
        self.Etot = MapGrid(m.Etot, m.etot_minimum, contacts)
        self.shortest = contacts["shortest"]
        self.overlap = contacts["overlap"]
        self.overlap_points = contacts["overlap_points"]
        self.overlap_checked = contacts["checked"]
        self.overlap_note = contacts["note"]

    def __repr__(self):
        return f"Map({len(self.s_shifts)} VS x {len(self.l_shifts)} VL, height {self.height.text})"


class Report:
    """A zelk8 report (at8.dat) as the report library reads it.

    ``cell``, ``atoms``, ``axes`` (VL, VS, VV with length and direction),
    ``units``, ``lattice_sum`` (the "Etot =" line; None when absent), ``map``
    (None without one), ``coordinates``, ``centre_of_gravity``,
    ``run_parameters``; ``complete`` is False for a report cut short, and
    ``stop_message`` says where it stops."""

    def __init__(self, raw, source, folder=None, coord=None, crystal=None, side=None):
        self._raw = raw
        self.source = source
        self._folder = folder
        self._coord = coord
        self._crystal = crystal
        self._side = side or {}
        self._map = None

    cell = property(lambda self: self._raw.cell)
    axes = property(lambda self: self._raw.axes)
    centre_of_gravity = property(lambda self: self._raw.centre_of_gravity)
    run_parameters = property(lambda self: self._raw.run_parameters)
    coordinates = property(lambda self: self._raw.coordinates)
    lattice_sum = property(lambda self: self._raw.lattice_sum)
    complete = property(lambda self: self._raw.complete)
    stopped_at = property(lambda self: self._raw.stopped_at)
    stop_message = property(lambda self: self._raw.stop_message)

    @property
    def atoms(self):
        return AtomTable(self._raw.atoms, self._raw.coordinates)

    @property
    def units(self):
        return UnitTable(self._raw.units)

    @property
    def map(self):
        if self._raw.map is None:
            return None
        if self._map is None:
            self._map = Map(self._raw)
        return self._map

    def _crystal_name(self):
        if self._crystal:
            return self._crystal
        folder = os.path.abspath(self._folder or ".")
        return os.path.basename(os.path.normpath(folder))

    def page_data(self, cif=None):
        """The data the page embeds (zelk8-view --json), as a dict."""
        import json

        return json.loads(self._page(cif, as_json=True))

    def _page(self, cif, as_json):
        return _zelk8.page(
            self._raw,
            self._crystal_name(),
            self.source,
            self._coord,
            self._side.get("prep.json"),
            self._side.get("lattice.json"),
            os.fspath(cif) if cif else "",
            as_json,
        )

    def page(self, path="report.html", cif=None):
        """Writes the report page as zelk8-view does (one HTML file that opens
        offline); ``cif`` as zelk8-view --cif. Returns the path."""
        _zelk8.write_whole(os.fspath(path), self._page(cif, as_json=False))
        return path

    def map_svg(self, path="map.svg", max=None):
        """Writes the picture of the shift map as zelk8-map does; ``max`` as
        zelk8-map --max (kJ/mol). Raises NoMapError without a map."""
        _zelk8.write_whole(os.fspath(path), _zelk8.map_svg(self._raw, max, self.source))
        return path

    def __repr__(self):
        state = "complete" if self.complete else "cut short"
        return f"<zelk8 report {self.source}: {len(self._raw.units)} units, {state}>"


def _read_side(folder):
    side = {}
    for name in ("prep.json", "lattice.json"):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            with open(path, encoding="utf-8", errors="surrogateescape") as f:
                side[name] = f.read()
    return side


def _read_text(path):
    try:
        with open(path, encoding="utf-8", errors="surrogateescape", newline="") as f:
            return f.read()
    except OSError as e:
        raise InputError(f"{os.fspath(path)}: {e.strerror}") from None


def read_report(path):
    """The report of a zelk8 run: ``path`` is an at8.dat or the folder that
    holds one. coord.xyz and the batch's prep.json and lattice.json beside it
    go into its page. Raises ReportError for a file that is not a report."""
    path = os.fspath(path)
    if os.path.isdir(path):
        path = os.path.join(path, "at8.dat")
    folder = os.path.dirname(path) or "."
    raw = _zelk8.read_report_file(path)
    coord_path = os.path.join(folder, "coord.xyz")
    coord = _read_text(coord_path) if os.path.isfile(coord_path) else None
    return Report(raw, path, folder=folder, coord=coord, side=_read_side(folder))


def read_report_text(text, source="at8.dat"):
    """The report held in ``text``; ``source`` names it in messages."""
    return Report(_zelk8.read_report_text(text, source), source)


# ---------------------------------------------------------------------------
# The program


class Run:
    """One run of the program: ``status`` (0, 2 after a read failure of the
    input, 3 when a file could not be written), ``diagnostic`` (the message
    the program prints, empty after a complete run), ``files`` (the texts it
    writes: "at8.dat" always, "mopac.dat" and "coord.xyz" when written) and
    ``report`` (the typed report of at8.dat)."""

    def __init__(self, result, folder=None, name=None):
        self._result = result
        self.status = result.status
        self.diagnostic = result.diagnostic
        self.folder = folder
        self.name = name
        self.stack_unit = result.stack_unit
        self._files = None
        self._report = None

    @property
    def files(self):
        if self._files is None:
            r = self._result
            self._files = {"at8.dat": r.at8}
            if r.mopac is not None:
                self._files["mopac.dat"] = r.mopac
            if r.coord is not None:
                self._files["coord.xyz"] = r.coord
        return self._files

    @property
    def report(self):
        if self._report is None:
            source = os.path.join(self.folder, "at8.dat") if self.folder else "at8.dat"
            raw = _zelk8.read_report_text(self._result.at8, source)
            crystal = self.name
            if not crystal and self.folder:
                crystal = os.path.basename(os.path.normpath(os.path.abspath(self.folder)))
            side = _read_side(self.folder) if self.folder else {}
            self._report = Report(raw, source, folder=self.folder, coord=self._result.coord,
                                  crystal=crystal or "zelk8", side=side)
        return self._report

    def page(self, path="report.html", cif=None):
        """The report page, as zelk8-view writes it for this run."""
        return self.report.page(path, cif=cif)

    def map_svg(self, path="map.svg", max=None):
        """The map picture, as zelk8-map writes it for this run."""
        return self.report.map_svg(path, max=max)

    def write(self, folder):
        """Writes the files of the run into ``folder`` (each whole)."""
        for name, text in self.files.items():
            _zelk8.write_whole(os.path.join(os.fspath(folder), name), text)

    def __repr__(self):
        return f"<zelk8 run: status {self.status}, files {sorted(self.files)}>"


def _checked(run, check):
    if check and run.status == 2:
        error = InputError(run.diagnostic)
        error.run = run
        raise error
    if check and run.status == 3:
        error = OutputError(run.diagnostic)
        error.run = run
        raise error
    return run


def run(text, map_threads=0, check=True, name=None):
    """The program on the text of a zelk8.dat. With ``check`` (the default)
    an input the program cannot read raises InputError with its diagnostic
    (the file, line and record); the run, with the report as far as it got,
    is the exception's ``run``. ``map_threads`` as the program's (0: all
    CPUs). The interpreter's lock is released during the run."""
    if isinstance(text, os.PathLike):
        raise TypeError("zelk8.run takes the text of a zelk8.dat; for a folder use zelk8.run_folder")
    return _checked(Run(_zelk8.run_text(text, map_threads), name=name), check)


def run_folder(path=".", map_threads=0, check=True):
    """The program in ``path``, a folder holding zelk8.dat: writes at8.dat,
    mopac.dat and coord.xyz there as the program does, byte for byte."""
    path = os.fspath(path)
    return _checked(Run(_zelk8.run_folder(path, map_threads), folder=path), check)


# ---------------------------------------------------------------------------
# The companions


def _option_words(options, own=()):
    """Keyword options as command-line words: cutoff=12 -> --cutoff 12,
    no_map=True -> --no-map, charges=(0.1, 0, 0, 0) -> --charges 0.1,0,0,0."""
    words = []
    for key, value in options.items():
        if key in own:
            continue
        flag = "--" + key.replace("_", "-")
        if value is None or value is False:
            continue
        if value is True:
            words.append(flag)
        elif isinstance(value, (list, tuple)):
            words += [flag, ",".join(str(v) for v in value)]
        else:
            words += [flag, os.fspath(value) if isinstance(value, os.PathLike) else str(value)]
    return words


class Prepared:
    """What zelk8-prep makes of a CIF: ``input`` (the text of zelk8.dat),
    ``summary`` (what its --json file holds, as a dict: formula, space
    group, units written with their ranks, distances and operations,
    stacking unit and why, net charge, ...), ``summary_text`` (the summary
    it prints) and ``warnings`` (one text each, as printed after
    "zelk8-prep: warning: ")."""

    def __init__(self, name, result):
        import json

        self.name = name
        self.input = result.input
        self.warnings = list(result.warnings)
        self.summary_text = result.summary_text
        self._json = result.json()
        self.summary = json.loads(self._json)

    def json(self):
        """The text of zelk8-prep's --json file."""
        return self._json

    def run(self, map_threads=0, check=True):
        """The program on this input."""
        name = os.path.splitext(os.path.basename(self.name))[0]
        return run(self.input, map_threads=map_threads, check=check, name=name)

    def write(self, path="zelk8.dat"):
        """Writes the input (whole) to ``path``."""
        _zelk8.write_whole(os.fspath(path), self.input)
        return path

    def __repr__(self):
        return f"<zelk8 input of {self.name}: {len(self.warnings)} warnings>"


_prepare_refused = {"output": "-o/--output", "o": "-o/--output", "json": "--json"}


def prepare(cif, name=None, **options):
    """zelk8-prep on a CIF, in process: ``cif`` is a path, or the CIF's text
    (holding a line end; ``name`` then names it in messages and the summary,
    "crystal.cif" by default). Options are named as on zelk8-prep's command
    line: ``charges="0.1,-0.4,-0.3,0"``, ``cutoff=12``, ``stack=3``,
    ``no_map=True``, ``molecule=2``, ``model="x23"``, ``block="x"``, ...
    Raises InputError with zelk8-prep's message when the CIF or an option
    cannot be used. The interpreter's lock is released meanwhile."""
    for key, option in _prepare_refused.items():
        if options.get(key):
            raise InputError(f"zelk8.prepare: {option} is not taken; the input is Prepared.input "
                             f"(Prepared.write(path) writes it), the summary Prepared.json()")
    if isinstance(cif, bytes):
        cif = cif.decode("utf-8", errors="surrogateescape")
    if isinstance(cif, str) and "\n" in cif:
        text = cif
        name = name or "crystal.cif"
    else:
        name = name or os.fspath(cif)
        text = _read_text(os.fspath(cif))
    return Prepared(name, _zelk8.prepare(text, [name] + _option_words(options)))


def _summary_frame(text):
    """summary.csv as a DataFrame: text columns as text, number columns as
    floats (NaN when empty or printed off-scale; the printed text is in
    ``df.attrs["printed"]``), count columns as nullable integers, list columns
    as lists of texts."""
    pd = _pandas()
    reader = csv.reader(io.StringIO(text))
    header = next(reader)
    records = list(reader)
    data = {}
    printed = {}
    for k, name in enumerate(header):
        kind = _column_kinds.get(name, "text")
        cells = [r[k] if k < len(r) else "" for r in records]
        if kind == "number":
            values = []
            for row, cell in enumerate(cells):
                try:
                    values.append(float(cell) if cell else np.nan)
                except ValueError:
                    values.append(np.nan)
                    printed[(row, name)] = cell
            data[name] = pd.Series(values, dtype="float64")
        elif kind == "count":
            data[name] = pd.Series([int(c) if c else None for c in cells], dtype="Int64")
        elif kind == "list":
            data[name] = pd.Series([c.split(_zelk8.list_separator) if c else [] for c in cells],
                                   dtype=object)
        else:
            data[name] = pd.Series(cells, dtype=object)
    df = pd.DataFrame(data, columns=header)
    df.attrs["printed"] = printed
    return df


def batch(paths, out=None, jobs=None, lattice_radius=25, force=False, progress=False, **options):
    """zelk8-batch in this process: every CIF of ``paths`` (CIF files,
    folders, manifests) through prep, the program, the map picture, the
    lattice sum and the page, returning the summary as a
    DataFrame with exactly summary.csv's columns. With ``out`` the folder is
    written (and kept) there as zelk8-batch writes it; without, it is made in
    a temporary folder and removed. Options are zelk8-prep's, for every
    crystal (``charges=``, ``cutoff=``, ``model=``, ``stack=``, ``map=``,
    ``no_map=True``, ...). ``progress`` prints the batch's messages. The
    interpreter's lock is released during the batch."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    paths = [os.fspath(p) for p in paths]
    if not paths:
        raise InputError("zelk8.batch: no input given: name CIF files, folders or manifests")
    words = _option_words(options)
    for word in words:
        if word.startswith("--") and _zelk8.reserved_prep_option(word):
            raise InputError(f"zelk8.batch: {word} is set by the batch itself")
    scratch = None
    if out is None:
        scratch = tempfile.mkdtemp(prefix="zelk8-batch-")
        out = scratch
    # pandas, needed only for the table at the end, is imported while the
    # batch runs without Python's lock (a first import takes a few tenths of
    # a second).
    importer = threading.Thread(target=_import_pandas_quietly, daemon=True)
    importer.start()
    try:
        status, log = _zelk8.batch(paths, os.fspath(out), int(jobs or 0), words,
                                   float(lattice_radius), bool(force))
        importer.join()
        if progress and log:
            import sys

            sys.stderr.write(log)
        if status == 130:
            raise KeyboardInterrupt(log.strip().splitlines()[-1] if log.strip() else "interrupted")
        if status == 2:
            raise InputError(log.strip() or "zelk8.batch: bad inputs")
        if status == 3:
            raise OutputError(log.strip())
        summary = os.path.join(os.fspath(out), "summary.csv")
        if not os.path.isfile(summary):
            raise Error(log.strip() or f"zelk8.batch: no {summary} was written")
        with open(summary, encoding="utf-8", newline="") as f:
            return _summary_frame(f.read())
    finally:
        if scratch is not None:
            shutil.rmtree(scratch, ignore_errors=True)


class LatticeEnergy(float):
    """The lattice energy (kJ/mol per molecule) as a float, NaN when there is
    none; ``molecules`` the molecules summed, ``message`` why there is none
    (or that the crystal is not bound in this model), ``row`` the batch row."""

    def __new__(cls, row):
        energy = row["lattice_energy"]
        self = super().__new__(cls, np.nan if energy is None or energy != energy else energy)
        molecules = row["lattice_molecules"]
        self.molecules = None if molecules is None or molecules is _pandas().NA else int(molecules)
        self.message = row["message"]
        self.row = row
        return self


def lattice_energy(cif, radius=25, **options):
    """The lattice energy of the crystal in ``cif`` (a path) over every
    molecule whose centroid lies within ``radius`` Angstrom, as zelk8-batch
    sums it; options as for prepare()."""
    if not radius or radius <= 0:
        raise InputError("zelk8.lattice_energy: radius must be above 0 Angstrom")
    df = batch([cif], lattice_radius=radius, jobs=1, **options)
    row = df.iloc[0]
    if row["status"] != "ok" and (row["lattice_energy"] != row["lattice_energy"]):
        raise InputError(f"{os.fspath(cif)}: {row['message']}")
    return LatticeEnergy(row)

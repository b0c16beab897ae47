// zelk8._zelk8: the libraries of the program and its companions, called in
// process from Python. The package zelk8 (zelk8/__init__.py) builds its
// objects on these calls; everything here keeps the libraries' own types and
// texts, so that a run from Python writes what the tools write.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "batch.hpp"
#include "cif_symmetry.hpp"
#include "contacts.hpp"
#include "coord_file.hpp"
#include "crystal.hpp"
#include "files.hpp"
#include "manifest.hpp"
#include "map_svg.hpp"
#include "options.hpp"
#include "page.hpp"
#include "page_data.hpp"
#include "prep.hpp"
#include "program.hpp"
#include "records.hpp"
#include "report.hpp"
#include "summary.hpp"
#include "write_whole.hpp"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace zelk8::python {

namespace {

// The exception family, made once when the module is loaded.
struct Exceptions {
  PyObject* error = nullptr;   // zelk8.Error
  PyObject* input = nullptr;   // zelk8.InputError: the input cannot be used
  PyObject* output = nullptr;  // zelk8.OutputError: a file cannot be written
  PyObject* report = nullptr;  // zelk8.ReportError: not a zelk8 report
  PyObject* no_map = nullptr;  // zelk8.NoMapError: the report holds no map
} exceptions;

// Raised from the functions below with the message the tool would print.
using InputProblem = report::InputError;
using OutputProblem = report::OutputError;

PyObject* new_exception(py::module_& m, const char* name, py::tuple bases, const char* doc) {
  const std::string qualified = std::string("zelk8.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), /*dict=*/nullptr);
  if (type == nullptr) throw py::error_already_set();
  m.add_object(name, py::handle(type));
  return type;
}

// A text the program wrote, as Python text: the bytes of the file, with any
// byte that is not UTF-8 (a label of the input) kept by surrogateescape so
// that writing it back gives the same bytes.
py::str text_of(const std::string& bytes) {
  PyObject* s =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

std::string bytes_of(const py::handle& text) {
  if (py::isinstance<py::bytes>(text)) return text.cast<std::string>();
  PyObject* b = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
  if (b == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(b).cast<std::string>();
}

std::optional<py::str> optional_text(const std::optional<std::string>& bytes) {
  if (!bytes) return std::nullopt;
  return text_of(*bytes);
}

double value_or_nan(const report::Field& field) {
  return field.value ? *field.value : std::numeric_limits<double>::quiet_NaN();
}

// A table's cells as a 2-D array, rows (VS shifts) by columns (VL shifts);
// a field printed off-scale is NaN.
py::array_t<double> table_values(const report::MapTable& table) {
  py::array_t<double> out({table.rows(), table.columns()});
  auto cells = out.mutable_unchecked<2>();
  for (std::size_t r = 0; r < table.rows(); ++r)
    for (std::size_t c = 0; c < table.columns(); ++c)
      cells(r, c) = c < table.cells[r].size() ? value_or_nan(table.cells[r][c])
                                              : std::numeric_limits<double>::quiet_NaN();
  return out;
}

py::array_t<double> field_values(const std::vector<report::Field>& fields) {
  py::array_t<double> out(fields.size());
  auto cells = out.mutable_unchecked<1>();
  for (std::size_t k = 0; k < fields.size(); ++k) cells(k) = value_or_nan(fields[k]);
  return out;
}

report::Report read_report_text(const std::string& text, const std::string& source) {
  std::istringstream in(text);
  return report::read_report(in, source);
}

// The program in a folder: zelk8.dat read whole, the files it writes left
// there, each written whole. As the executable: a zelk8.dat that cannot be
// read leaves the folder as it was (status 2).
RunResult run_folder(const std::string& folder, int map_threads) {
  const fs::path input = fs::path(folder) / "zelk8.dat";
  try {
    records::InputFile probe(input.string());
  } catch (const records::ReadError& e) {
    RunResult result;
    result.status = 2;
    result.diagnostic = e.what();
    return result;
  }
  std::ifstream in(input, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  RunResult result = run_text(text.str(), map_threads);
  try {
    report::write_whole(fs::path(folder) / "at8.dat", result.at8);
    if (result.mopac) report::write_whole(fs::path(folder) / "mopac.dat", *result.mopac);
    if (result.coord) report::write_whole(fs::path(folder) / "coord.xyz", *result.coord);
  } catch (const report::OutputError& e) {
    result.status = report::exit_output;
    result.diagnostic = e.what();
  }
  return result;
}

// The page of a report, as zelk8-view writes it for a run folder holding
// the report, `coord` (coord.xyz) and the batch's side files.
struct PageInputs {
  std::string crystal;
  std::string report_name;
  std::optional<std::string> coord;
  std::optional<std::string> prep_json;
  std::optional<std::string> lattice_json;
  std::string cif;
};

std::optional<nlohmann::json> side_json(const std::optional<std::string>& text,
                                        const std::string& name, std::string& note) {
  if (!text) return std::nullopt;
  nlohmann::json value = nlohmann::json::parse(*text, nullptr, false);
  if (value.is_discarded() || !value.is_object()) {
    note += (note.empty() ? "" : "; ") + (name + " is not a JSON object, left out");
    return std::nullopt;
  }
  return value;
}

nlohmann::json page_json(const report::Report& report, const PageInputs& inputs) {
  view::PageSource source;
  source.crystal = inputs.crystal;
  source.report_name = inputs.report_name;
  if (inputs.coord) {
    std::istringstream coord(*inputs.coord);
    source.neighbours = view::read_neighbours(coord, report.coordinates.size(), report.units.size(),
                                              report.elements.rows.size() >= 2);
  }
  source.prep = side_json(inputs.prep_json, "prep.json", source.side_files_note);
  source.lattice = side_json(inputs.lattice_json, "lattice.json", source.side_files_note);
  source.cif_accepted = true;
  if (!inputs.cif.empty()) source.symmetry = view::cif_operations(inputs.cif, report);
  return view::page_data(report, source);
}

}  // namespace

}  // namespace zelk8::python

PYBIND11_MODULE(_zelk8, m) {
  using namespace zelk8;
  using namespace zelk8::python;
  m.doc() = "The zelk8 libraries in process; use the package zelk8.";

  auto& x = exceptions;
  x.error = new_exception(m, "Error", py::make_tuple(py::handle(PyExc_Exception)),
                          "Every error of zelk8; the message is the tool's own.");
  x.input = new_exception(m, "InputError",
                          py::make_tuple(py::handle(x.error), py::handle(PyExc_ValueError)),
                          "An input that cannot be used: it names the file, the line or the "
                          "option, and what to do.");
  x.output = new_exception(m, "OutputError",
                           py::make_tuple(py::handle(x.error), py::handle(PyExc_OSError)),
                           "A file that cannot be written; nothing is left half-written.");
  x.report = new_exception(m, "ReportError", py::make_tuple(py::handle(x.input)),
                           "A text that is not a zelk8 report, naming the line.");
  x.no_map = new_exception(m, "NoMapError", py::make_tuple(py::handle(x.input)),
                           "A report without a shift map to draw.");

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const report::ReportError& e) {
      py::object error = py::reinterpret_borrow<py::object>(exceptions.report)(e.what());
      error.attr("source") = e.source();
      error.attr("line") = e.line();
      PyErr_SetObject(exceptions.report, error.ptr());
    } catch (const map::NoMap& e) {
      PyErr_SetString(exceptions.no_map, e.what());
    } catch (const report::OutputError& e) {
      PyErr_SetString(exceptions.output, e.what());
    } catch (const report::InputError& e) {
      PyErr_SetString(exceptions.input, e.what());
    }
  });

  // The report, as the report library reads it.
  py::class_<report::Field>(m, "Field",
                            "One printed number: its text and its value (None when printed "
                            "off-scale: asterisks, NaN, Infinity).")
      .def_readonly("text", &report::Field::text)
      .def_readonly("value", &report::Field::value)
      .def_property_readonly("finite", &report::Field::finite)
      .def_property_readonly("overflow", &report::Field::overflow)
      .def("__float__", &value_or_nan)
      .def("__repr__", [](const report::Field& f) { return "Field('" + f.text + "')"; })
      .def("__str__", [](const report::Field& f) { return f.text; });

  py::class_<report::Cell>(m, "Cell")
      .def_readonly("a", &report::Cell::a)
      .def_readonly("b", &report::Cell::b)
      .def_readonly("c", &report::Cell::c)
      .def_readonly("alpha", &report::Cell::alpha)
      .def_readonly("beta", &report::Cell::beta)
      .def_readonly("gamma", &report::Cell::gamma)
      .def("__repr__", [](const report::Cell& c) {
        return "Cell(a=" + c.a.text + ", b=" + c.b.text + ", c=" + c.c.text +
               ", alpha=" + c.alpha.text + ", beta=" + c.beta.text + ", gamma=" + c.gamma.text +
               ")";
      });

  py::class_<report::Atom>(m, "Atom")
      .def_readonly("element", &report::Atom::element)
      .def_readonly("x", &report::Atom::x)
      .def_readonly("y", &report::Atom::y)
      .def_readonly("z", &report::Atom::z)
      .def_readonly("label", &report::Atom::label)
      .def_readonly("symbol", &report::Atom::symbol);

  py::class_<report::FrameAtom>(m, "FrameAtom")
      .def_readonly("element", &report::FrameAtom::element)
      .def_readonly("l", &report::FrameAtom::l)
      .def_readonly("s", &report::FrameAtom::s)
      .def_readonly("v", &report::FrameAtom::v)
      .def_readonly("charge", &report::FrameAtom::charge)
      .def_readonly("label", &report::FrameAtom::label)
      .def_readonly("symbol", &report::FrameAtom::symbol);

  py::class_<report::Axis>(m, "Axis")
      .def_readonly("length", &report::Axis::length)
      .def_readonly("direction", &report::Axis::direction);
  py::class_<report::Orientation>(m, "Axes")
      .def_readonly("VL", &report::Orientation::vl)
      .def_readonly("VS", &report::Orientation::vs)
      .def_readonly("VV", &report::Orientation::vv);

  py::class_<report::RunParameters>(m, "RunParameters")
      .def_readonly("stack_unit", &report::RunParameters::stack_unit)
      .def_readonly("charge_h", &report::RunParameters::charge_h)
      .def_readonly("charge_1", &report::RunParameters::charge_1)
      .def_readonly("charge_2", &report::RunParameters::charge_2)
      .def_readonly("charge_3", &report::RunParameters::charge_3);

  py::class_<report::Unit>(m, "Unit")
      .def_readonly("number", &report::Unit::number)
      .def_readonly("name", &report::Unit::name)
      .def_readonly("d_shortest", &report::Unit::shortest_distance)
      .def_readonly("d_center", &report::Unit::centre_distance)
      .def_readonly("centre", &report::Unit::centre)
      .def_readonly("dihedral_angle", &report::Unit::dihedral_angle)
      .def_readonly("operation", &report::Unit::operation)
      .def_property_readonly(
          "operation_text",
          [](const report::Unit& u) { return report::symmetry_text(u.operation); })
      .def_readonly("EvdW", &report::Unit::evdw)
      .def_readonly("Estat", &report::Unit::estat)
      .def_readonly("Etot", &report::Unit::etot);

  py::class_<report::MapTable>(m, "MapTable")
      .def_readonly("name", &report::MapTable::name)
      .def_property_readonly("l_shifts",
                             [](const report::MapTable& t) { return field_values(t.l_shifts); })
      .def_property_readonly("s_shifts",
                             [](const report::MapTable& t) { return field_values(t.s_shifts); })
      .def_property_readonly("values", &table_values)
      .def_property_readonly("texts", [](const report::MapTable& t) {
        std::vector<std::vector<std::string>> out(t.rows());
        for (std::size_t r = 0; r < t.rows(); ++r)
          for (const report::Field& f : t.cells[r]) out[r].push_back(f.text);
        return out;
      });

  py::class_<report::MapMinimum>(m, "MapMinimum")
      .def_readonly("l", &report::MapMinimum::l)
      .def_readonly("s", &report::MapMinimum::s)
      .def_readonly("energy", &report::MapMinimum::energy)
      .def("__repr__", [](const report::MapMinimum& n) {
        return "MapMinimum(l=" + n.l.text + ", s=" + n.s.text + ", energy=" + n.energy.text + ")";
      });

  py::class_<report::ShiftMap>(m, "ShiftMap")
      .def_readonly("EvdW", &report::ShiftMap::evdw)
      .def_readonly("evdw_minimum", &report::ShiftMap::evdw_minimum)
      .def_readonly("Estat", &report::ShiftMap::estat)
      .def_readonly("Etot", &report::ShiftMap::etot)
      .def_readonly("etot_minimum", &report::ShiftMap::etot_minimum);

  py::class_<report::Stop>(m, "Stop")
      .def_readonly("line", &report::Stop::line)
      .def_property_readonly("expected", [](const report::Stop& s) {
        return std::string(report::section_name(s.expected));
      });

  py::class_<report::Report, std::shared_ptr<report::Report>>(m, "Report")
      .def_readonly("cell", &report::Report::cell)
      .def_readonly("atoms", &report::Report::atoms)
      .def_readonly("centre_of_gravity", &report::Report::centre_of_gravity)
      .def_readonly("axes", &report::Report::orientation)
      .def_readonly("run_parameters", &report::Report::run_parameters)
      .def_readonly("coordinates", &report::Report::coordinates)
      .def_readonly("units", &report::Report::units)
      .def_readonly("lattice_sum", &report::Report::lattice_etot)
      .def_readonly("map_height", &report::Report::map_height)
      .def_readonly("map", &report::Report::map)
      .def_readonly("complete", &report::Report::complete)
      .def_readonly("stopped_at", &report::Report::stopped_at)
      .def_property_readonly("stop_message",
                             [](const report::Report& r) { return view::stop_message(r); })
      .def("contacts", [](const report::Report& r) {
        const report::MapContacts contacts = report::map_contacts(r);
        const std::size_t rows = contacts.shortest.size();
        const std::size_t columns = rows ? contacts.shortest[0].size() : 0;
        py::array_t<double> shortest({rows, columns});
        py::array_t<bool> overlap({rows, columns});
        auto s = shortest.mutable_unchecked<2>();
        auto o = overlap.mutable_unchecked<2>();
        for (std::size_t i = 0; i < rows; ++i)
          for (std::size_t j = 0; j < columns; ++j) {
            s(i, j) = contacts.shortest[i][j];
            o(i, j) = contacts.overlap[i][j];
          }
        py::dict out;
        out["shortest"] = shortest;
        out["overlap"] = overlap;
        out["overlap_points"] = contacts.overlap_points;
        out["checked"] = contacts.checked;
        out["note"] = contacts.note;
        return out;
      });

  m.def(
      "read_report_text",
      [](const py::handle& text, const std::string& source) {
        return std::make_shared<report::Report>(read_report_text(bytes_of(text), source));
      },
      py::arg("text"), py::arg("source") = "at8.dat");
  m.def(
      "read_report_file",
      [](const std::string& path) {
        return std::make_shared<report::Report>(report::read_report_file(path));
      },
      py::arg("path"));

  // The program.
  py::class_<RunResult>(m, "RunResult")
      .def_readonly("status", &RunResult::status)
      .def_readonly("diagnostic", &RunResult::diagnostic)
      .def_property_readonly("at8", [](const RunResult& r) { return text_of(r.at8); })
      .def_property_readonly("mopac", [](const RunResult& r) { return optional_text(r.mopac); })
      .def_property_readonly("coord", [](const RunResult& r) { return optional_text(r.coord); })
      .def_readonly("stack_unit", &RunResult::stack_unit)
      .def_readonly("lattice_etot", &RunResult::lattice_etot)
      .def_readonly("map_height", &RunResult::map_height);

  m.def(
      "run_text",
      [](const py::handle& text, int map_threads) {
        const std::string input = bytes_of(text);
        py::gil_scoped_release free;
        return run_text(input, map_threads);
      },
      py::arg("text"), py::arg("map_threads") = 0);
  m.def(
      "run_folder",
      [](const std::string& folder, int map_threads) {
        py::gil_scoped_release free;
        return run_folder(folder, map_threads);
      },
      py::arg("folder"), py::arg("map_threads") = 0);

  // For bench/python_run.py: the seconds of one run_text call from C++, the
  // best of `repeats`, to set beside zelk8.run's.
  m.def(
      "time_run_text",
      [](const py::handle& text, int repeats, int map_threads) {
        const std::string input = bytes_of(text);
        py::gil_scoped_release free;
        double best = std::numeric_limits<double>::infinity();
        for (int k = 0; k < repeats; ++k) {
          const auto start = std::chrono::steady_clock::now();
          const RunResult result = run_text(input, map_threads);
          const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
          best = std::min(best, took.count());
        }
        return best;
      },
      py::arg("text"), py::arg("repeats"), py::arg("map_threads") = 0);

  // The companions' pictures and pages.
  m.def(
      "map_svg",
      [](const report::Report& r, std::optional<float> max, const std::string& source) {
        return map::render_svg(map::stack_map_of(r), {max, source});
      },
      py::arg("report"), py::arg("max") = std::nullopt, py::arg("source") = "at8.dat");
  m.def(
      "page",
      [](const report::Report& r, const std::string& crystal, const std::string& report_name,
         const std::optional<std::string>& coord, const std::optional<std::string>& prep_json,
         const std::optional<std::string>& lattice_json, const std::string& cif, bool as_json) {
        const nlohmann::json data =
            page_json(r, {crystal, report_name, coord, prep_json, lattice_json, cif});
        return as_json ? data.dump(1) + "\n" : view::render_page(data);
      },
      py::arg("report"), py::arg("crystal"), py::arg("report_name"), py::arg("coord"),
      py::arg("prep_json"), py::arg("lattice_json"), py::arg("cif") = "",
      py::arg("as_json") = false);
  m.def(
      "write_whole",
      [](const std::string& path, const py::handle& text) {
        const std::string bytes = bytes_of(text);
        report::write_whole(path, bytes);
      },
      py::arg("path"), py::arg("text"));

  // zelk8-prep's work on a CIF held in memory: the command line's words
  // (the CIF's name first, as the tool's), no file written.
  py::class_<prep::Prepared>(m, "PrepResult")
      .def_property_readonly("input", [](const prep::Prepared& p) { return text_of(p.input); })
      .def_readonly("warnings", &prep::Prepared::warnings)
      .def_readonly("summary_text", &prep::Prepared::summary_text)
      .def("json", &prep::Prepared::json);
  m.def(
      "prepare",
      [](const py::handle& cif_text, const std::vector<std::string>& args) {
        const std::string cif = bytes_of(cif_text);
        py::gil_scoped_release free;
        try {
          const prep::Command command = prep::parse_command_line(args);
          if (command.print)
            throw InputProblem(
                "zelk8.prepare: help and version are zelk8-prep's own; "
                "help(zelk8.prepare) names the options");
          const prep::Options& options = command.options;
          const prep::Crystal crystal =
              prep::read_crystal_text(cif, options.cif_path, options.block);
          return prep::prepare(crystal, options);
        } catch (const prep::OutputError& e) {
          throw OutputProblem(e.what());
        } catch (const prep::PrepError& e) {
          // The tool's pointer to its --help is help(zelk8.prepare) here.
          std::string message = e.what();
          const std::string see_help = "(see --help)";
          if (const auto at = message.find(see_help); at != std::string::npos)
            message.replace(at, see_help.size(), "(help(zelk8.prepare) names the options)");
          throw InputProblem(message);
        } catch (const InputProblem&) {
          throw;
        } catch (const std::exception& e) {
          // What the CIF library refuses, named as the tool names it.
          throw InputProblem((args.empty() ? std::string() : args.front() + ": ") + e.what());
        }
      },
      py::arg("cif_text"), py::arg("args"));

  // zelk8-batch in this process: (status, messages); the summary is in `out`.
  m.def(
      "batch",
      [](const std::vector<std::string>& inputs, const std::string& out, int jobs,
         const std::vector<std::string>& prep_options, double lattice_radius, bool force) {
        batch::Parameters p;
        p.inputs = inputs;
        p.out = out;
        p.jobs = jobs;
        p.prep_options = prep_options;
        p.lattice_radius = lattice_radius;
        p.force = force;
        // The batch runs on a thread of its own while this one, the
        // interpreter's, looks every tenth of a second for a signal the
        // interpreter caught (Ctrl-C reaches Python's handler, or any thread
        // that does not block it, rather than the batch's own watcher): the
        // batch is then stopped as zelk8-batch is by SIGINT, and the
        // interpreter's exception raised once it has ended (KeyboardInterrupt
        // by the package, from the batch's status and message).
        std::ostringstream err;
        std::future<int> running = std::async(std::launch::async, [&p, &err] {
          try {
            return batch::run_batch(p, err);
          } catch (const std::exception& e) {
            err << "zelk8-batch: " << e.what() << '\n';
            return static_cast<int>(batch::exit_failed);
          }
        });
        std::optional<py::error_already_set> caught;
        for (;;) {
          bool ended = false;
          {
            py::gil_scoped_release free;
            ended = running.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready;
          }
          if (ended) break;
          if (!caught && PyErr_CheckSignals() != 0) {
            caught.emplace();
            batch::stop_all_crystals(SIGINT);
          }
        }
        const int status = running.get();
        // A Ctrl-C that came after the last crystal, and any other exception
        // of a signal handler, is raised as it stands.
        if (caught &&
            (status != batch::exit_interrupted || !caught->matches(PyExc_KeyboardInterrupt)))
          throw std::move(*caught);
        return py::make_tuple(status, err.str());
      },
      py::arg("inputs"), py::arg("out"), py::arg("jobs"), py::arg("prep_options"),
      py::arg("lattice_radius"), py::arg("force"));

  m.def("reserved_prep_option", &batch::reserved_prep_option, py::arg("word"));

  py::list columns;
  for (const batch::Column& c : batch::summary_columns) {
    const char* kind = c.kind == batch::Kind::text     ? "text"
                       : c.kind == batch::Kind::number ? "number"
                       : c.kind == batch::Kind::count  ? "count"
                                                       : "list";
    columns.append(py::make_tuple(std::string(c.name), kind));
  }
  m.attr("summary_columns") = columns;
  m.attr("list_separator") = std::string(batch::list_separator);

  m.attr("version") = ZELK8_VERSION;
}

// Runs zelk8 on an input in a scratch folder and hands back its report, and
// prints a read report again in the program's own layout, so that a test can
// compare the reader's fields with the text the program wrote.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "report.hpp"
#include "report_layout.hpp"

namespace zelk8::report::testing {

namespace fs = std::filesystem;

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_text(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string example_input(const std::string& name) {
  return read_text(fs::path(ZELK8_SOURCE_DIR) / "examples" / name / "zelk8.dat");
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// Writes `input` as zelk8.dat in a fresh folder, runs the program there and
// returns the report it wrote; fails the test when the run does not end with
// 0 (or, with `expect_success` false, when it does).
inline std::string run_zelk8(const std::string& input, const std::string& tag,
                             bool expect_success = true) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir = fs::path(::testing::TempDir()) / "report_runs" /
                       (std::string(info->test_suite_name()) + "." + info->name() + tag);
  fs::remove_all(dir);
  fs::create_directories(dir);
  write_text(dir / "zelk8.dat", input);
  const std::string command = "cd '" + dir.string() + "' && '" + ZELK8_BINARY + "' 2> stderr.txt";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(status) && WEXITSTATUS(status) == 0, expect_success)
      << tag << ": zelk8 status " << status << ": " << read_text(dir / "stderr.txt");
  return read_text(dir / "at8.dat");
}

// Prints a read report back through the report's layout
// (records::report_layout): each field's text as read, right-justified in its
// width, the layout's texts between. Checks on the way that each finite
// field's value is the number its text spells and that each text fits.
class Printer {
 public:
  std::string print(const Report& r) {
    namespace layout = records::report_layout;
    const Cell& c = r.cell;
    put(layout::cell, {f(c.a), f(c.b), f(c.c), f(c.alpha), f(c.beta), f(c.gamma)});
    for (const Atom& a : r.atoms) {
      put(layout::atom, {f(a.element), f(a.x), f(a.y), f(a.z), pad(a.label), pad(a.symbol)});
    }
    put(layout::element_heading, {f(r.elements.heading_value)});
    for (const ElementRow& e : r.elements.rows) {
      put(layout::element_row,
          {pad(e.symbol), f(e.atoms), f(e.nel), f(e.nobl), f(e.emin), f(e.r0)});
    }
    if (r.elements.sum) {
      const ElementSum& s = *r.elements.sum;
      put(layout::element_sum, {f(s.atoms), f(s.nel), f(s.nobl), f(s.heavy), f(s.molecule_atoms),
                                f(s.zero), f(s.atom_count)});
    }
    const TransferMatrix& t = r.transfer_matrix;
    put(layout::transfer_matrix, {f(t.t11), f(t.t12), f(t.t13), f(t.t22), f(t.t23), f(t.t33)});
    put(layout::centre_of_gravity, v(r.centre_of_gravity));
    put(layout::moments_heading, {});
    for (const Vector3& m : r.moments) {
      put(layout::moments_row, v(m));
    }
    const Orientation& o = r.orientation;
    const std::pair<std::string_view, const Axis*> axes[] = {{layout::orientation_vl, &o.vl},
                                                             {layout::orientation_vs, &o.vs},
                                                             {layout::orientation_vv, &o.vv}};
    for (const auto& [format, axis] : axes) {
      std::vector<std::string> fields = {f(axis->length)};
      for (std::string& text : v(axis->direction)) {
        fields.push_back(std::move(text));
      }
      put(format, fields);
    }
    const RunParameters& p = r.run_parameters;
    put(layout::run_parameters,
        {f(p.stack_unit), f(p.charge_h), f(p.charge_1), f(p.charge_2), f(p.charge_3)});
    put(layout::coordinates_heading, {});
    for (const FrameAtom& a : r.coordinates) {
      put(layout::coordinates_atom,
          {f(a.element), f(a.l), f(a.s), f(a.v), f(a.charge), pad(a.label), pad(a.symbol)});
    }
    put(layout::extents, {f(r.extents.vs), f(r.extents.vl)});
    put(layout::units_heading, {});
    for (const Unit& u : r.units) {
      std::vector<std::string> fields = {f(u.number), pad(u.name), f(u.shortest_distance),
                                         f(u.centre_distance)};
      for (std::string& text : v(u.centre)) {
        fields.push_back(std::move(text));
      }
      fields.push_back(f(u.dihedral_angle));
      const Field* energies[] = {&u.evdw, &u.estat, &u.etot};
      for (int row = 0; row < 3; ++row) {
        for (int k = 0; k < 3; ++k) {
          fields.push_back(f(u.operation[3 * row + k]));
        }
        fields.push_back(f(u.operation[9 + row]));
        fields.push_back(f(*energies[row]));
      }
      put(layout::unit_block, fields);
    }
    if (r.lattice_etot) {
      put(layout::lattice_sum, {f(*r.lattice_etot)});
    }
    if (r.map_height) {
      put(layout::map_heading, {f(*r.map_height)});
    }
    if (r.map) {
      table(layout::map_evdw_header, r.map->evdw);
      put(layout::map_minimum, minimum(r.map->evdw_minimum));
      table(layout::map_estat_header, r.map->estat);
      table(layout::map_etot_header, r.map->etot);
      put(layout::map_minimum, minimum(r.map->etot_minimum));
    }
    return text_;
  }

 private:
  void put(std::string_view format, const std::vector<std::string>& fields) {
    const records::Format compiled(format);
    const std::vector<records::Placement> placements = records::placements(compiled);
    std::vector<std::string_view> printed;
    std::size_t field = 0;
    for (const std::string& text : fields) {
      // The field's place, the format taken again from its start when the
      // fields outnumber it (a map row).
      while (placements[field % placements.size()].text) {
        ++field;
      }
      EXPECT_LE(text.size(), placements[field % placements.size()].width) << text;
      ++field;
      printed.push_back(text);
    }
    records::format_printed_to(text_, compiled, printed);
  }

  // A text field (A4): as printed, blank-padded after the text.
  static std::string pad(std::string text) {
    text.resize(4, ' ');
    return text;
  }

  static std::string f(const Field& field) {
    if (field.value) {
      EXPECT_EQ(*field.value, std::strtod(field.text.c_str(), nullptr)) << field.text;
    } else {
      EXPECT_TRUE(field.overflow() || field.non_finite()) << field.text;
    }
    return field.text;
  }

  static std::vector<std::string> v(const Vector3& vector) {
    return {f(vector[0]), f(vector[1]), f(vector[2])};
  }

  static std::vector<std::string> minimum(const MapMinimum& m) {
    return {f(m.l), f(m.s), f(m.energy)};
  }

  // The header with the VL shifts, then each row: its VS shift and energies.
  void table(std::string_view header, const MapTable& t) {
    std::vector<std::string> shifts;
    for (const Field& l : t.l_shifts) {
      shifts.push_back(f(l));
    }
    put(header, shifts);
    for (std::size_t row = 0; row < t.rows(); ++row) {
      std::vector<std::string> fields = {f(t.s_shifts[row])};
      for (const Field& cell : t.cells[row]) {
        fields.push_back(f(cell));
      }
      put(records::report_layout::map_row, fields);
    }
  }

  std::string text_;
};

}  // namespace zelk8::report::testing

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

// Prints the fields of a read report right-justified in their widths and the
// texts of the layout between them. Checks on the way that each finite field's
// value is the number its text spells.
class Printer {
 public:
  std::string print(const Report& r) {
    const Cell& c = r.cell;
    line(f(c.a, 10) + f(c.b, 10) + f(c.c, 10) + f(c.alpha, 10) + f(c.beta, 10) + f(c.gamma, 10));
    for (const Atom& a : r.atoms) {
      line(f(a.element, 4) + " " + f(a.x, 10) + f(a.y, 10) + f(a.z, 10) + "    " + pad(a.label) +
           " " + pad(a.symbol));
    }
    line("");
    line("  Atom       NEL NOBL     Emin      R0" + f(r.elements.heading_value, 10));
    for (const ElementRow& e : r.elements.rows) {
      line("  " + pad(e.symbol) + f(e.atoms, 5) + f(e.nel, 5) + f(e.nobl, 5) + f(e.emin, 10) +
           f(e.r0, 10));
    }
    if (r.elements.sum) {
      const ElementSum& s = *r.elements.sum;
      line("  Sum " + f(s.atoms, 5) + f(s.nel, 5) + f(s.nobl, 5) + f(s.heavy, 5) +
           f(s.molecule_atoms, 5) + f(s.zero, 5) + f(s.atom_count, 5));
    }
    const TransferMatrix& t = r.transfer_matrix;
    line("");
    line("");
    line(" TRANSFER MATRIX");
    line("   " + f(t.t11, 10) + f(t.t12, 10) + f(t.t13, 10));
    line(std::string(13, ' ') + f(t.t22, 10) + f(t.t23, 10));
    line(std::string(23, ' ') + f(t.t33, 10));
    line("");
    line(" CENTER OF GRAVITY= (" + v(r.centre_of_gravity) + "  )");
    line("");
    line(" Molecular moments");
    for (const Vector3& m : r.moments) {
      line(v(m));
    }
    line("");
    line(" Molecular orientation vectors");
    const Orientation& o = r.orientation;
    line(f(o.vl.length, 10) + " A  VL = " + v(o.vl.direction));
    line(f(o.vs.length, 10) + " A  VS = " + v(o.vs.direction));
    line(f(o.vv.length, 10) + " A  VV = " + v(o.vv.direction));
    const RunParameters& p = r.run_parameters;
    line(f(p.stack_unit, 4) + " " + f(p.charge_h, 10) + f(p.charge_1, 10) + f(p.charge_2, 10) +
         f(p.charge_3, 10));
    line("");
    line(" Molecular Coordinates");
    line("       VL//      VS//      VV//");
    for (const FrameAtom& a : r.coordinates) {
      line(f(a.element, 4) + " " + f(a.l, 10) + f(a.s, 10) + f(a.v, 10) + f(a.charge, 10) + "    " +
           pad(a.label) + pad(a.symbol));
    }
    line(" VV = " + f(r.extents.vs, 10) + "  VL = " + f(r.extents.vl, 10));
    line("");
    line(
        "Intermolecular potentials                X         Y         Z       Dihedral "
        "Angle");
    line("                d shortest  d center (A)                      kJ/mol");
    for (const Unit& u : r.units) {
      line(f(u.number, 3) + "TH UNIT " + pad(u.name) + f(u.shortest_distance, 10) +
           f(u.centre_distance, 10) + "  (" + v(u.centre) + " )" + f(u.dihedral_angle, 10));
      const char* labels[] = {"   EvdW = ", "   Est  = ", "   Etot = "};
      const Field* energies[] = {&u.evdw, &u.estat, &u.etot};
      for (int row = 0; row < 3; ++row) {
        line("     (" + f(u.operation[3 * row], 10) + f(u.operation[3 * row + 1], 10) +
             f(u.operation[3 * row + 2], 10) + " )" + f(u.operation[9 + row], 10) + labels[row] +
             f(*energies[row], 10));
      }
      line("");
    }
    if (r.lattice_etot) {
      line(std::string(51, ' ') + "Etot = " + f(*r.lattice_etot, 10));
      line("");
    }
    if (r.map_height) {
      line(" Map of the stacked molecule shift at Z =" + f(*r.map_height, 10));
      line("");
    }
    if (r.map) {
      table(" EvdW     ", r.map->evdw);
      minimum(r.map->evdw_minimum);
      table(" Estat    ", r.map->estat);
      table(" Etot     ", r.map->etot);
      minimum(r.map->etot_minimum);
    }
    return text_;
  }

 private:
  void line(const std::string& text) { text_ += text + "\n"; }

  static std::string pad(std::string text) {
    text.resize(4, ' ');
    return text;
  }

  static std::string f(const Field& field, std::size_t width) {
    if (field.value) {
      EXPECT_EQ(*field.value, std::strtod(field.text.c_str(), nullptr)) << field.text;
    } else {
      EXPECT_TRUE(field.overflow() || field.non_finite()) << field.text;
    }
    EXPECT_LE(field.text.size(), width) << field.text;
    return std::string(width - std::min(width, field.text.size()), ' ') + field.text;
  }

  static std::string v(const Vector3& vector) {
    return f(vector[0], 10) + f(vector[1], 10) + f(vector[2], 10);
  }

  // The header, then each row wrapped after 100 fields.
  void table(const std::string& name, const MapTable& t) {
    line("");
    std::string header = name;
    for (const Field& l : t.l_shifts) {
      header += f(l, 10);
    }
    line(header);
    for (std::size_t row = 0; row < t.rows(); ++row) {
      std::vector<const Field*> fields = {&t.s_shifts[row]};
      for (const Field& cell : t.cells[row]) {
        fields.push_back(&cell);
      }
      std::string text;
      for (std::size_t k = 0; k < fields.size(); ++k) {
        if (k > 0 && k % 100 == 0) {
          line(text);
          text.clear();
        }
        text += f(*fields[k], 10);
      }
      line(text);
    }
  }

  void minimum(const MapMinimum& m) {
    line("");
    line(std::string(110, ' ') + f(m.l, 10) + f(m.s, 10) + f(m.energy, 10));
  }

  std::string text_;
};

}  // namespace zelk8::report::testing

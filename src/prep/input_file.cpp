#include "input_file.hpp"

#include <cmath>
#include <cstdio>

namespace zelk8::prep {

namespace {

std::string printf_string(const char* format, auto... values) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return buffer;
}

// A free-format real with at least `decimals` places, more when fewer would
// change it.
std::string free_real(double value, int decimals) {
  for (int d = decimals; d < 8; ++d) {
    double scale = std::pow(10.0, d);
    if (std::fabs(std::round(value * scale) - value * scale) < 1e-6)
      return printf_string("%8.*f", d, value);
  }
  return printf_string("%12.8f", value);
}

}  // namespace

std::string format_f5(double value, bool* exact) {
  if (value == 0.0) value = 0.0;  // no "-0.0"
  std::string best;
  bool is_exact = false;
  for (int d = 1; d <= 4; ++d) {
    std::string text = printf_string("%.*f", d, value);
    // "0.333" and "-0.33" lose their leading zero when that makes room.
    if (text.size() > 5 && (text.rfind("0.", 0) == 0 || text.rfind("-0.", 0) == 0))
      text.erase(text.find("0."), 1);
    if (text.size() > 5) break;
    best = text;
    double scale = std::pow(10.0, d);
    if (std::fabs(std::round(value * scale) - value * scale) < 1e-6 * scale) {
      is_exact = true;
      break;
    }
  }
  if (best.empty()) best = "*****";
  if (exact) *exact = is_exact;
  return std::string(5 - best.size(), ' ') + best;
}

std::string write_input(const gemmi::UnitCell& cell, const Molecule& molecule, const VdwTable& vdw,
                        const std::vector<Unit>& units, const RunParams& params,
                        std::vector<InexactField>* inexact,
                        const std::vector<gemmi::Fractional>* second_set) {
  std::string text;
  // Molecule size: 0, every atom of the list belongs to the molecule.
  text += "0\n";
  // Atom records "(I4,X,3F10.5,4X,A4,X,A4,2I5)"; a line ends after the symbol.
  auto atom_record = [&](const MoleculeAtom& atom, const gemmi::Fractional& f) {
    std::string line = printf_string("%4d %10.5f%10.5f%10.5f    %-4.4s %-4.4s", atom.type, f.x, f.y,
                                     f.z, atom.label.c_str(), atom.element.name());
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  };
  for (const MoleculeAtom& atom : molecule.atoms) atom_record(atom, atom.fract);
  if (second_set) {
    text += "  -1\n";
    for (size_t k = 0; k < molecule.atoms.size(); ++k)
      atom_record(molecule.atoms[k], (*second_set)[k]);
  } else {
    text += "   0\n";
  }
  // Element records: symbol, Emin, R0 (free format).
  for (size_t e = 0; e < molecule.elements.size(); ++e) {
    const gemmi::Element element = molecule.elements[e];
    const std::string key =
        molecule.type_keys.empty() ? std::string(element.name()) : molecule.type_keys[e];
    auto found = vdw.find(key);
    if (found == vdw.end())
      throw PrepError("no van der Waals parameters for element type " + key +
                      "; give them with --params");
    std::string symbol = printf_string("%-4s", element.name());
    // Emin rounded to 5 decimals (the converted kcal values carry more).
    text +=
        symbol + printf_string("%8.5f", found->second.emin) + free_real(found->second.r0, 3) + "\n";
  }
  // Cell record "(7F10.0)", the six parameters with four decimals.
  text += printf_string("%10.4f%10.4f%10.4f%10.4f%10.4f%10.4f\n", cell.a, cell.b, cell.c,
                        cell.alpha, cell.beta, cell.gamma);
  // Unit records "(12F5.0,A4)", then the terminator when the list is short.
  for (const Unit& unit : units) {
    for (double value : unit.op) {
      bool exact = false;
      std::string field = format_f5(value, &exact);
      text += field;
      if (!exact && inexact) {
        size_t first = field.find_first_not_of(' ');
        inexact->push_back({unit.name, value, field.substr(first)});
      }
    }
    text += unit.name.substr(0, 4) + "\n";
  }
  if (units.size() < static_cast<size_t>(max_units)) text += " 99.0\n";
  // Run parameters "(I5,4F10.5)".
  text += printf_string("%5d%10.5f%10.5f%10.5f%10.5f\n", params.stack_unit, params.charges[0],
                        params.charges[1], params.charges[2], params.charges[3]);
  // Map record "(9F5.3)": the seven values and the two unused fields.
  if (params.stack_unit != 0 && params.map) {
    for (double value : params.map_values) text += format_f5(value);
    text += format_f5(0.0) + format_f5(0.0) + "\n";
  }
  return text;
}

}  // namespace zelk8::prep

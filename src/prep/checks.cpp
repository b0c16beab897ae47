#include "checks.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>

#include "text.hpp"

namespace zelk8::prep {

namespace {

// "C22 H22 O" or "C14H10": element symbols, each with an optional count.
// Charges ("N+", "Cl1-") are passed over.
bool add_plain_formula(const std::string& text, double multiplier,
                       std::map<std::string, double>& counts) {
  size_t i = 0;
  bool any = false;
  while (i < text.size()) {
    unsigned char c = text[i];
    if (std::isspace(c) || c == '+' || c == '-') {
      ++i;
      continue;
    }
    if (!std::isupper(c)) return false;
    std::string symbol(1, text[i++]);
    if (i < text.size() && std::islower(static_cast<unsigned char>(text[i]))) symbol += text[i++];
    if (gemmi::find_element(symbol.c_str()) == gemmi::El::X) return false;
    size_t start = i;
    while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'))
      ++i;
    std::optional<double> n = 1.0;
    if (start != i) n = report::number_of<double>(std::string_view(text).substr(start, i - start));
    if (!n) return false;
    // A count followed by a sign is a charge ("O2-" is one oxide of charge 2-).
    if (i < text.size() && (text[i] == '+' || text[i] == '-') && start != i) n = 1.0;
    counts[symbol] += multiplier * *n;
    any = true;
  }
  return any;
}

std::string formula_text(const std::map<std::string, double>& counts) {
  std::string text;
  auto add = [&](const std::string& symbol, double n) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, n == 1.0 ? "%s" : "%s%g", symbol.c_str(), n);
    text += (text.empty() ? "" : " ") + std::string(buffer);
  };
  if (counts.count("C")) add("C", counts.at("C"));
  if (counts.count("C") && counts.count("H")) add("H", counts.at("H"));
  for (const auto& [symbol, n] : counts)
    if (symbol != "C" && !(symbol == "H" && counts.count("C"))) add(symbol, n);
  return text;
}

}  // namespace

std::optional<std::map<std::string, double>> parse_formula(const std::string& text) {
  std::map<std::string, double> counts;
  size_t start = 0;
  bool any = false;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string part(
        report::trim(text.substr(start, comma == std::string::npos ? comma : comma - start)));
    start = comma == std::string::npos ? text.size() + 1 : comma + 1;
    if (part.empty()) continue;
    double multiplier = 1.0;
    // "2(C7 H5 N)": a number of molecules in parentheses.
    size_t digits = 0;
    while (digits < part.size() &&
           (std::isdigit(static_cast<unsigned char>(part[digits])) || part[digits] == '.'))
      ++digits;
    if (digits > 0) {
      const std::optional<double> count = report::number_of<double>(part.substr(0, digits));
      if (!count) return std::nullopt;
      multiplier = *count;
      part = std::string(report::trim(part.substr(digits)));
    }
    if (!part.empty() && part.front() == '(') {
      size_t close = part.rfind(')');
      if (close == std::string::npos) return std::nullopt;
      part = part.substr(1, close - 1);
    } else if (digits > 0) {
      return std::nullopt;
    }
    if (!add_plain_formula(part, multiplier, counts)) return std::nullopt;
    any = true;
  }
  if (!any) return std::nullopt;
  return counts;
}

std::optional<std::string> formula_mismatch(const Molecule& molecule,
                                            const std::string& formula_cif,
                                            const std::string& tag) {
  std::optional<std::map<std::string, double>> cif = parse_formula(formula_cif);
  if (!cif) return tag + " '" + formula_cif + "' is not a formula this tool reads; not compared";
  std::map<std::string, double> mine;
  for (const MoleculeAtom& atom : molecule.atoms) mine[atom.element.name()] += 1.0;
  // The CIF's formula unit holds a whole number of molecules.
  const auto& [first, n_first] = *mine.begin();
  double multiple = cif->count(first) ? cif->at(first) / n_first : 0.0;
  bool matches = multiple >= 1.0 - 1e-6 && std::fabs(multiple - std::round(multiple)) < 1e-3;
  for (const auto& [symbol, n] : *cif)
    matches = matches && mine.count(symbol) &&
              std::fabs(mine.at(symbol) * std::round(multiple) - n) < 1e-3;
  for (const auto& [symbol, n] : mine) matches = matches && cif->count(symbol);
  if (matches) return std::nullopt;
  return "the molecule is " + formula_text(mine) + " but the CIF's " + tag + " is '" + formula_cif +
         "': check for hydrogen sites refined in several places, disorder, atoms of other "
         "molecules or ions, and the bonding (--bond-tolerance)";
}

std::vector<std::string> implausible_bonds(const Crystal& crystal, const Molecule& molecule,
                                           double bond_tolerance) {
  std::vector<std::string> problems;
  const auto& atoms = molecule.atoms;
  auto name = [&](size_t k) {
    return atoms[k].label + " (site " + crystal.sites[atoms[k].site].label + ")";
  };
  auto is_h = [&](size_t k) { return atoms[k].element.atomic_number() == 1; };
  std::vector<std::vector<std::pair<size_t, double>>> neighbours(atoms.size());
  char buffer[64];
  for (size_t i = 0; i < atoms.size(); ++i)
    for (size_t j = i + 1; j < atoms.size(); ++j) {
      const double d =
          crystal.cell.orthogonalize_difference(atoms[j].fract - atoms[i].fract).length();
      const double bond =
          atoms[i].element.covalent_r() + atoms[j].element.covalent_r() + bond_tolerance;
      if (d >= bond) continue;
      neighbours[i].push_back({j, d});
      neighbours[j].push_back({i, d});
      const bool hydrogen = is_h(i) || is_h(j);
      const double minimum = hydrogen ? 0.8 : 1.0;
      if (d < minimum) {
        std::snprintf(buffer, sizeof buffer, " is %.3f A, below %.1f A", d, minimum);
        problems.push_back("the bond " + name(i) + " - " + name(j) + buffer);
      }
    }
  for (size_t k = 0; k < atoms.size(); ++k) {
    if (!is_h(k) || neighbours[k].size() < 2) continue;
    std::string list;
    for (const auto& [other, d] : neighbours[k]) {
      std::snprintf(buffer, sizeof buffer, " %.3f A", d);
      list += (list.empty() ? "" : ", ") + name(other) + buffer;
    }
    problems.push_back("the hydrogen " + name(k) + " is bonded to " +
                       std::to_string(neighbours[k].size()) + " atoms: " + list);
  }
  return problems;
}

}  // namespace zelk8::prep

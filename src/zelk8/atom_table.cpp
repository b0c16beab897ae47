// Atom list, element records and the element table.
#include <algorithm>
#include <cctype>
#include <string>

#include "stages.hpp"

namespace zelk8 {

namespace {

const records::Format& atom_format() {
  static const records::Format f(records::report_layout::atom);
  return f;
}

void read_atom(RunState& s, records::InputFile& in, int slot, int& element) {
  in.read("atom record", atom_format(), &element, &s.frac_x_full[slot], &s.frac_y_full[slot],
          &s.frac_z_full[slot], &s.atom_label_full[slot], &s.atom_symbol_full[slot]);
}

}  // namespace

void reject(const records::InputFile& in, std::string_view record, std::string_view what) {
  throw records::ReadError(in.name() + " line " + std::to_string(in.line_number()) + ": " +
                           std::string(record) + ": " + std::string(what));
}

void read_molecule(RunState& s, records::InputFile& in) {
  in.read_list("molecule size record", &s.molecule_atom_count);

  // The first set ends at a record whose element index is 0 or negative.
  s.element_count = 0;
  int slot = 0;
  for (;; ++slot) {
    if (slot == atom_slots) {
      reject(in, "atom record", "no terminating record among the first 200 atom records");
    }
    read_atom(s, in, slot, s.atom_element[slot]);
    const int e = s.atom_element[slot];
    if (e > element_slots) {
      reject(in, "atom record",
             "element index " + std::to_string(e) + " is above " + std::to_string(element_slots));
    }
    s.element_count = std::max(s.element_count, e);
    if (e <= 0) break;
  }
  s.atom_count = slot;
  if (s.molecule_atom_count == 0) s.molecule_atom_count = s.atom_count;
  if (s.molecule_atom_count < 0 || s.molecule_atom_count > s.atom_count) {
    reject(in, "atom record",
           "molecule size " + std::to_string(s.molecule_atom_count) + " is not between 0 and the " +
               std::to_string(s.atom_count) + " atoms listed");
  }

  // A negative terminator announces the second atom set, one record per atom.
  s.second_set_read = s.atom_element[s.atom_count] < 0;
  if (s.second_set_read) {
    if (2 * s.atom_count > atom_slots) {
      reject(
          in, "atom record",
          "a second set of " + std::to_string(s.atom_count) + " atoms does not fit in 200 slots");
    }
    for (int k = 0; k < s.atom_count; ++k) {
      const int slot2 = s.atom_count + k;
      read_atom(s, in, slot2, s.atom_element_full[slot2]);
      const int e = s.atom_element_full[slot2];
      if (e < 1 || e > s.element_count) {
        reject(in, "atom record (second set)",
               "element index " + std::to_string(e) + " is not between 1 and " +
                   std::to_string(s.element_count));
      }
    }
  }

  for (int e = 0; e < s.element_count; ++e) {
    in.read_list("element record", &s.element_symbol[e], &s.element_emin[e], &s.element_r0[e]);
  }
}

ValenceFactors valence_factors(const Text4& symbol) {
  std::string sym;
  for (char c : symbol) {
    if (c != ' ') sym += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  struct Entry {
    const char* symbol;
    ValenceFactors factors;
  };
  static constexpr Entry table[] = {{"h", {1, 1}}, {"b", {3, 4}},  {"c", {4, 4}},  {"n", {5, 4}},
                                    {"o", {6, 4}}, {"f", {7, 4}},  {"si", {4, 4}}, {"p", {5, 4}},
                                    {"s", {6, 4}}, {"cl", {7, 4}}, {"br", {7, 4}}, {"i", {7, 4}}};
  for (const auto& [name, factors] : table) {
    if (sym == name) return factors;
  }
  return {0, 0};
}

void build_atom_table(RunState& s, std::string& report) {
  for (int e = 0; e < s.element_count; ++e) s.element_atom_count[e] = 0;
  for (int i = 0; i < s.atom_count; ++i) {
    s.atom_element_full[i] = s.atom_element[i];
    s.frac_x[i] = s.frac_x_full[i];
    s.frac_y[i] = s.frac_y_full[i];
    s.frac_z[i] = s.frac_z_full[i];
    s.atom_label[i] = s.atom_label_full[i];
    s.atom_symbol[i] = s.atom_symbol_full[i];
    s.element_atom_count[s.atom_element[i] - 1] += 1;
  }
  for (int i = 0; i < s.atom_count; ++i) {
    put(report, atom_format(), s.atom_element[i], s.frac_x[i], s.frac_y[i], s.frac_z[i],
        s.atom_label[i], s.atom_symbol[i]);
  }

  s.element_total = 0;
  for (int e = 0; e < s.element_count; ++e) s.element_total += s.element_atom_count[e];
  s.heavy_count = s.element_total;
  if (s.element_count > 0) s.heavy_count -= s.element_atom_count[s.element_count - 1];

  static const records::Format heading(records::report_layout::element_heading);
  put(report, heading, 0.0f);
  if (s.element_count < 2) return;

  // Two types are carbon and hydrogen, three sulphur, carbon and hydrogen,
  // whatever the element records call them.
  static const Text4 fixed2[] = {records::text4("C"), records::text4("H")};
  static const Text4 fixed3[] = {records::text4("S"), records::text4("C"), records::text4("H")};
  static constexpr ValenceFactors factors2[] = {{4, 4}, {1, 1}};
  static constexpr ValenceFactors factors3[] = {{6, 4}, {4, 4}, {1, 1}};

  static const records::Format row(records::report_layout::element_row);
  int nel_total = 0;
  int nobl_total = 0;
  for (int e = 0; e < s.element_count; ++e) {
    Text4 symbol;
    ValenceFactors f;
    if (s.element_count == 2) {
      symbol = fixed2[e];
      f = factors2[e];
    } else if (s.element_count == 3) {
      symbol = fixed3[e];
      f = factors3[e];
    } else {
      symbol = s.element_symbol[e];
      f = valence_factors(symbol);
    }
    const int n = s.element_atom_count[e];
    nel_total += n * f.nel;
    nobl_total += n * f.nobl;
    put(report, row, symbol, n, n * f.nel, n * f.nobl, s.element_emin[e], s.element_r0[e]);
  }
  static const records::Format sum(records::report_layout::element_sum);
  put(report, sum, s.element_total, nel_total, nobl_total, s.heavy_count, s.molecule_atom_count, 0,
      s.atom_count);
}

void count_heavy_atoms(RunState& s) {
  s.heavy_atom_count = 0;
  for (int e = 0; e + 1 < s.element_count; ++e) s.heavy_atom_count += s.element_atom_count[e];
}

}  // namespace zelk8

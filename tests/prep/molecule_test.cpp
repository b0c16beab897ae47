#include "molecule.hpp"

#include <gtest/gtest.h>

#include "crystal.hpp"
#include "prep_test_util.hpp"

using namespace zelk8::prep::testing;

namespace {

std::string element_names(const zelk8::prep::Molecule& molecule) {
  std::string names;
  for (gemmi::Element e : molecule.elements)
    names += (names.empty() ? "" : " ") + std::string(e.name());
  return names;
}

std::string joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& text : texts) all += text + "\n";
  return all;
}

// The message of the PrepError that building the molecule raises.
std::string build_error(const std::string& cif, zelk8::prep::MoleculeOptions options = {}) {
  try {
    zelk8::prep::build_molecule(zelk8::prep::read_crystal_text(cif, "test.cif"), options);
  } catch (const zelk8::prep::PrepError& e) {
    return e.what();
  }
  return "no error";
}

// Anthracene and naphthalene list the whole molecule; quinacridone lists half
// of it, on an inversion centre at (1/2, 0, 0), completed by the inversion and
// kept whole across the cell edge (an H at x = 1.0386).
TEST(Molecule, ListedWholeOrCompletedOnItsInversionCentre) {
  for (const auto& [crystal, atoms, sites] :
       {std::tuple{"anthracene", 24, 24}, std::tuple{"naphthalene", 18, 18},
        std::tuple{"quinacridone", 36, 18}}) {
    zelk8::prep::Crystal c = zelk8::prep::read_crystal_text(cif_text(crystal), "test.cif");
    EXPECT_EQ(static_cast<int>(c.sites.size()), sites) << crystal;
    EXPECT_EQ(static_cast<int>(zelk8::prep::build_molecule(c, {}).atoms.size()), atoms) << crystal;
  }
  zelk8::prep::Molecule molecule = zelk8::prep::build_molecule(
      zelk8::prep::read_crystal_text(cif_text("quinacridone"), "q.cif"), {});
  double sum[3] = {0, 0, 0};
  for (const zelk8::prep::MoleculeAtom& atom : molecule.atoms)
    for (int k = 0; k < 3; ++k) sum[k] += atom.fract.at(k);
  for (int k = 0; k < 3; ++k)
    EXPECT_NEAR(sum[k] / molecule.atoms.size(), k == 0 ? 0.5 : 0.0, 1e-9) << k;
  // Grouped by element, labels numbered within each element.
  EXPECT_EQ(element_names(molecule), "O N C H");
  EXPECT_EQ(molecule.atoms[1].label + " " + molecule.atoms.back().label, "O2 H12");
  for (size_t i = 1; i < molecule.atoms.size(); ++i)
    EXPECT_LE(molecule.atoms[i - 1].type, molecule.atoms[i].type);
}

// Anthracene with sites C1, C2, ... (and their inversion images) given other elements.
TEST(Molecule, ElementOrderAndWarnings) {
  using Elements = std::vector<std::string>;
  for (const auto& [elements, order, warning] : {
           std::tuple{Elements{}, "C H", ""},
           std::tuple{Elements{"S"}, "S C H", ""},
           std::tuple{Elements{"N"}, "N C H",
                      "three element types (N, C, H) print as S, C, H in the report\n"},
           std::tuple{Elements{"O", "N", "S", "Br"}, "Br S O N C H", ""},
       }) {
    std::string text = cif_text("anthracene");
    for (size_t k = 0; k < elements.size(); ++k)
      for (const std::string& site :
           {"C" + std::to_string(k + 1), "C" + std::to_string(k + 1) + "B"})
        text = replace_all(text, "\n" + site + " C ", "\n" + site + " " + elements[k] + " ");
    zelk8::prep::Molecule molecule =
        zelk8::prep::build_molecule(zelk8::prep::read_crystal_text(text, "test.cif"), {});
    EXPECT_EQ(element_names(molecule), order);
    EXPECT_EQ(joined(zelk8::prep::element_warnings(molecule)), warning) << order;
  }
}

TEST(Molecule, HydrogenFreeMoleculeIsWarnedAbout) {
  std::string text = without_lines(cif_text("anthracene"), " H ");
  zelk8::prep::Molecule molecule =
      zelk8::prep::build_molecule(zelk8::prep::read_crystal_text(text, "test.cif"), {});
  EXPECT_EQ(zelk8::prep::formula(molecule), "C14");
  EXPECT_EQ(
      joined(zelk8::prep::element_warnings(molecule)),
      "no hydrogen in the molecule (C); the program takes the last element type, C, for hydrogen\n"
      "one element type only (C): the report prints no element rows\n");
}

TEST(Molecule, SecondMoleculeOfTheAsymmetricUnit) {
  // Anthracene in P-1, plus its image under the screw axis of P 21/a
  // (1/2-x, 1/2+y, -z) listed as sites of its own.
  std::string text = cif_text("anthracene");
  std::istringstream in(text.substr(text.find("\nC1 C ") + 1));
  std::string label, symbol, copy;
  double x, y, z;
  char line[96];
  while (in >> label >> symbol >> x >> y >> z) {
    std::snprintf(line, sizeof line, "%sM %s %.5f %.5f %.5f\n", label.c_str(), symbol.c_str(),
                  0.5 - x, 0.5 + y, -z);
    copy += line;
  }
  text = replace_all(without_lines(text, "'") + copy, "_symmetry_equiv_pos_as_xyz\n",
                     "_symmetry_equiv_pos_as_xyz\nx,y,z\n-x,-y,-z\n");
  zelk8::prep::Crystal c = zelk8::prep::read_crystal_text(text, "two.cif");
  zelk8::prep::Molecule second = zelk8::prep::build_molecule(c, {.number = 2});
  EXPECT_EQ(second.atoms.size(), 24u);
  EXPECT_EQ(second.molecule_count, 2);
  for (const zelk8::prep::MoleculeAtom& atom : second.atoms)
    EXPECT_EQ(c.sites[atom.site].label.back(), 'M') << atom.label;
  EXPECT_EQ(build_error(text, {.number = 3}),
            "molecule 3 asked for, but the asymmetric unit holds 2 molecules");
}

// A carbon chain 1.5 Angstrom apart along a 400 Angstrom axis, and one carbon
// in a 1.5 Angstrom cube that bonds to its own translates.
TEST(Molecule, TooLargeAndEndlessMoleculesAreRejected) {
  const auto cif = [](double a, int atoms) {
    std::string text =
        "data_chain\n_cell_length_a " + std::to_string(a) +
        "\n_cell_length_b 10\n_cell_length_c 10\n_cell_angle_alpha 90\n_cell_angle_beta 90\n"
        "_cell_angle_gamma 90\n_symmetry_space_group_name_H-M 'P 1'\nloop_\n_atom_site_label\n"
        "_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n";
    for (int i = 0; i < atoms; ++i)
      text += "C" + std::to_string(i + 1) + " C " + std::to_string(i * 1.5 / a) + " 0.5 0.5\n";
    return text;
  };
  EXPECT_EQ(build_error(cif(400, 199)), "no error");
  EXPECT_EQ(build_error(cif(400, 200)), "the molecule of site C1 has more than 199 atoms");
  EXPECT_EQ(build_error(cif(1.5, 1)),
            "the atoms of site C1 bond into an endless chain or network, not a molecule");
}

}  // namespace

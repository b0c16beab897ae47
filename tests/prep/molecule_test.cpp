#include "molecule.hpp"

#include "crystal.hpp"
#include "prep_test_util.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace prep_test;

namespace {

std::vector<std::string> element_names(const prep::Molecule& molecule) {
  std::vector<std::string> names;
  for (gemmi::Element e : molecule.elements)
    names.push_back(e.name());
  return names;
}

std::string joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& text : texts)
    all += text + "\n";
  return all;
}

}  // namespace

// The molecule of each bundled CIF holds the atoms of the hand-checked input
// file of the same crystal, whatever their order.
TEST(Molecule, MatchesTheBundledInputFiles) {
  for (const auto& [crystal, atoms, sites] :
       {std::tuple{"anthracene", 24, 24}, std::tuple{"naphthalene", 18, 18}, std::tuple{"quinacridone", 36, 18}}) {
    prep::Crystal c = prep::read_crystal(source_path(std::string("examples/cif/") + crystal + ".cif"));
    prep::Molecule molecule = prep::build_molecule(c, {});
    EXPECT_EQ(static_cast<int>(c.sites.size()), sites) << crystal;
    ASSERT_EQ(static_cast<int>(molecule.atoms.size()), atoms) << crystal;

    std::vector<std::string> ours;
    for (const prep::MoleculeAtom& atom : molecule.atoms) {
      char line[64];
      std::snprintf(line, sizeof line, "%s %10.5f%10.5f%10.5f", atom.element.name(), atom.fract.x, atom.fract.y,
                    atom.fract.z);
      ours.push_back(line);
    }
    std::sort(ours.begin(), ours.end());
    InputContents expected = read_input_contents(slurp(source_path(std::string("examples/") + crystal + "/zelk8.dat")));
    EXPECT_EQ(joined(ours), joined(expected.atoms)) << crystal;
  }
}

// Half a molecule on an inversion centre at (1/2, 0, 0) is completed by the
// inversion and kept whole across the cell edge (an H at x = 1.0386).
TEST(Molecule, CompletedOnItsInversionCentre) {
  prep::Crystal c = prep::read_crystal(source_path("examples/cif/quinacridone.cif"));
  prep::Molecule molecule = prep::build_molecule(c, {});
  double sum[3] = {0, 0, 0};
  for (const prep::MoleculeAtom& atom : molecule.atoms) {
    sum[0] += atom.fract.x;
    sum[1] += atom.fract.y;
    sum[2] += atom.fract.z;
  }
  double n = static_cast<double>(molecule.atoms.size());
  EXPECT_NEAR(sum[0] / n, 0.5, 1e-9);
  EXPECT_NEAR(sum[1] / n, 0.0, 1e-9);
  EXPECT_NEAR(sum[2] / n, 0.0, 1e-9);
  EXPECT_EQ(element_names(molecule), (std::vector<std::string>{"O", "N", "C", "H"}));
  // Grouped by element, labels numbered within each element.
  EXPECT_EQ(molecule.atoms.front().label, "O1");
  EXPECT_EQ(molecule.atoms[1].label, "O2");
  EXPECT_EQ(molecule.atoms.back().label, "H12");
  for (size_t i = 1; i < molecule.atoms.size(); ++i)
    EXPECT_LE(molecule.atoms[i - 1].type, molecule.atoms[i].type);
}

// Element order and the warnings for compositions outside the conventions,
// from anthracene with some sites given other elements.
TEST(Molecule, ElementOrderAndWarnings) {
  const std::string anthracene = cif_text("anthracene");
  for (const auto& [change, order, warning] : {
           std::tuple{"", "C H", ""},
           std::tuple{"C1 S", "S C H", ""},
           std::tuple{"C1 N", "N C H", "three element types (N, C, H) print as S, C, H in the report"},
           std::tuple{"C1 O", "O C H", "three element types (O, C, H) print as S, C, H in the report"},
           std::tuple{"C1 Cl", "Cl C H", "three element types (Cl, C, H) print as S, C, H in the report"},
           std::tuple{"C1 O|C2 N", "O N C H", ""},
           std::tuple{"C1 O|C2 N|C3 S|C4 Br", "Br S O N C H", ""},
       }) {
    std::string text = anthracene;
    std::string rest = change;
    while (!rest.empty()) {
      std::string one = rest.substr(0, rest.find('|'));
      rest = rest.find('|') == std::string::npos ? "" : rest.substr(rest.find('|') + 1);
      std::string label = one.substr(0, one.find(' '));
      for (const std::string& site : {label, label + "B"})  // the site and its inversion image
        text = replace_all(text, "\n" + site + " C ", "\n" + site + " " + one.substr(one.find(' ') + 1) + " ");
    }
    prep::Molecule molecule = prep::build_molecule(prep::read_crystal_text(text, "test.cif"), {});
    std::string names;
    for (const std::string& name : element_names(molecule))
      names += (names.empty() ? "" : " ") + name;
    EXPECT_EQ(names, order) << change;
    std::vector<std::string> warnings = prep::element_warnings(molecule);
    EXPECT_EQ(joined(warnings), std::string(warning).empty() ? "" : std::string(warning) + "\n") << change;
  }
}

TEST(Molecule, HydrogenFreeMoleculeIsWarnedAbout) {
  std::string text = without_lines(cif_text("anthracene"), " H ");
  prep::Molecule molecule = prep::build_molecule(prep::read_crystal_text(text, "test.cif"), {});
  EXPECT_EQ(molecule.atoms.size(), 14u);
  EXPECT_EQ(joined(prep::element_warnings(molecule)),
            "no hydrogen in the molecule (C); the program takes the last element type, C, for hydrogen\n"
            "one element type only (C): the report prints no element rows\n");
  EXPECT_EQ(prep::formula(molecule), "C14");
}

TEST(Molecule, SecondMoleculeOfTheAsymmetricUnit) {
  // Two independent molecules: anthracene in P-1, plus its image under the
  // screw axis of P 21/a (1/2-x, 1/2+y, -z) listed as sites of its own.
  std::string text = cif_text("anthracene");
  std::string copy;
  std::istringstream in(text.substr(text.find("\nC1 C ") + 1));
  std::string label, symbol;
  double x, y, z;
  while (in >> label >> symbol >> x >> y >> z) {
    char line[96];
    std::snprintf(line, sizeof line, "%sM %s %.5f %.5f %.5f\n", label.c_str(), symbol.c_str(), 0.5 - x, 0.5 + y, -z);
    copy += line;
  }
  text = without_lines(text, "'") + copy;
  text = replace_all(text, "_symmetry_equiv_pos_as_xyz\n", "_symmetry_equiv_pos_as_xyz\nx,y,z\n-x,-y,-z\n");
  prep::Crystal c = prep::read_crystal_text(text, "two.cif");
  ASSERT_EQ(c.ops.size(), 2u);
  prep::MoleculeOptions options;
  options.number = 2;
  prep::Molecule second = prep::build_molecule(c, options);
  EXPECT_EQ(second.atoms.size(), 24u);
  EXPECT_EQ(second.molecule_count, 2);
  for (const prep::MoleculeAtom& atom : second.atoms)
    EXPECT_EQ(c.sites[atom.site].label.back(), 'M') << atom.label;  // the copy's own sites
  EXPECT_EQ(prep::build_molecule(c, {}).molecule_count, 1);
  options.number = 3;
  try {
    prep::build_molecule(c, options);
    FAIL() << "a third molecule was found";
  } catch (const prep::PrepError& e) {
    EXPECT_STREQ(e.what(), "molecule 3 asked for, but the asymmetric unit holds 2 molecules");
  }
}

TEST(Molecule, MoreThan199AtomsAreRejected) {
  // A carbon chain of 200 atoms 1.5 Angstrom apart along a 400 Angstrom axis.
  for (const auto& [atoms, accepted] : {std::pair{199, true}, std::pair{200, false}}) {
    std::string text = "data_chain\n_cell_length_a 400\n_cell_length_b 10\n_cell_length_c 10\n"
                       "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                       "_symmetry_space_group_name_H-M 'P 1'\n"
                       "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
                       "_atom_site_fract_y\n_atom_site_fract_z\n";
    for (int i = 0; i < atoms; ++i)
      text += "C" + std::to_string(i + 1) + " C " + std::to_string(i * 1.5 / 400.0) + " 0.5 0.5\n";
    prep::Crystal c = prep::read_crystal_text(text, "chain.cif");
    if (accepted) {
      EXPECT_EQ(prep::build_molecule(c, {}).atoms.size(), 199u);
      continue;
    }
    try {
      prep::build_molecule(c, {});
      FAIL() << "a molecule of 200 atoms was accepted";
    } catch (const prep::PrepError& e) {
      EXPECT_STREQ(e.what(), "the molecule of site C1 has more than 199 atoms");
    }
  }
}

TEST(Molecule, EndlessNetworkIsRejected) {
  // One carbon in a 1.5 Angstrom cube bonds to its own translates.
  const std::string text = R"(data_chain
_cell_length_a 1.5
_cell_length_b 8
_cell_length_c 8
_cell_angle_alpha 90
_cell_angle_beta 90
_cell_angle_gamma 90
_symmetry_space_group_name_H-M 'P 1'
loop_
_atom_site_label
_atom_site_type_symbol
_atom_site_fract_x
_atom_site_fract_y
_atom_site_fract_z
C1 C 0.1 0.2 0.3
)";
  try {
    prep::build_molecule(prep::read_crystal_text(text, "chain.cif"), {});
    FAIL() << "no error";
  } catch (const prep::PrepError& e) {
    EXPECT_STREQ(e.what(), "the atoms of site C1 bond into an endless chain or network, not a molecule");
  }
}

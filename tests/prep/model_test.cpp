// Parameter models: mm3 writes the files of the built-in table, a model with
// bond increments types polar hydrogens on their own and keeps every
// molecule neutral to the program's charge rules.
#include "model.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "input_file.hpp"
#include "prep.hpp"
#include "prep_test_util.hpp"
#include "program_view.hpp"

using namespace zelk8::prep;
using namespace zelk8::prep::testing;

namespace {

struct Result {
  int status;
  std::string out, err;
};

Result run_prep(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = run(args, out, err);
  return {status, out.str(), err.str()};
}

std::string x23_cif(const std::string& name) {
  return source_path("tests/fit/x23/cif/" + name + ".cif");
}

Molecule molecule_of(const Crystal& crystal) { return build_molecule(crystal, MoleculeOptions{}); }

}  // namespace

// `--model mm3` reproduces the bundled inputs with the options they were
// written with, whatever the default model is.
TEST(Model, Mm3WritesTheBundledInputFiles) {
  const std::string grid = "-3:3:0.25,-2:2:0.25";
  for (const auto& [crystal, folder, options] : {
           std::tuple{"anthracene", "anthracene",
                      std::vector<std::string>{"--stack", "5", "--map", grid}},
           std::tuple{"anthracene", "anthracene-nomap", std::vector<std::string>{"--no-map"}},
           std::tuple{"anthracene", "anthracene-scan",
                      std::vector<std::string>{"--stack", "45", "--map=-1:1:0.5,0:0.5:0.5"}},
           std::tuple{"naphthalene", "naphthalene",
                      std::vector<std::string>{"--stack", "5", "--map", grid}},
           std::tuple{"quinacridone", "quinacridone",
                      std::vector<std::string>{"--charges", "0.1,-0.4,-0.3,0", "--map", grid}},
       }) {
    std::vector<std::string> args{source_path(std::string("examples/cif/") + crystal + ".cif"),
                                  "--model", "mm3", "--cutoff", "10"};
    args.insert(args.end(), options.begin(), options.end());
    const Result result = run_prep(args);
    EXPECT_EQ(result.status, 0) << folder << "\n" << result.err;
    EXPECT_EQ(result.out, slurp(source_path(std::string("examples/") + folder + "/zelk8.dat")))
        << folder;
  }
  const Result bad = run_prep({source_path("examples/cif/anthracene.cif"), "--model", "mm4"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--model: unknown model 'mm4'; the models are mm3, x23"),
            std::string::npos)
      << bad.err;
}

// Polar hydrogens get types of their own, with their own records; the
// increments written make the program's charges neutral, and where the
// rules allow it equal to the model's bond increments.
TEST(Model, PolarHydrogenTypesAndNeutralIncrements) {
  const Model model = find_model("x23");
  for (const char* name : {"acetic_acid", "urea", "co2", "hexamine", "ammonia", "cytosine",
                           "ethylcarbamate", "pyrazole", "benzene"}) {
    SCOPED_TRACE(name);
    const Crystal crystal = read_crystal(x23_cif(name));
    const Molecule molecule = molecule_of(crystal);
    const Layout layout = choose_layout(crystal.cell, molecule, model, 0.4);
    ASSERT_EQ(layout.molecule.atoms.size(), molecule.atoms.size());
    // Grouped by type, every type key once.
    for (size_t k = 1; k < layout.molecule.atoms.size(); ++k)
      EXPECT_LE(layout.molecule.atoms[k - 1].type, layout.molecule.atoms[k].type);
    int polar = 0;
    for (size_t k = 0; k < layout.keys.size(); ++k) {
      const MoleculeAtom& atom = layout.molecule.atoms[k];
      EXPECT_EQ(layout.molecule.type_keys[atom.type - 1], layout.keys[k]);
      if (layout.keys[k] == "HN" || layout.keys[k] == "HO") {
        ++polar;
        EXPECT_EQ(atom.element.elem, gemmi::El::H);
      }
    }
    const std::vector<double> target =
        target_charges(crystal.cell, layout.molecule, layout.keys, model.increments, 0.4);
    const auto x = written_increments(increments_for(layout, target),
                                      static_cast<int>(layout.molecule.elements.size()));
    RunParams run;
    run.charges = x;
    run.map = false;
    const ProgramView view =
        view_in_program(write_input(crystal.cell, layout.molecule, model.vdw, {}, run));
    EXPECT_LE(std::fabs(view.net_charge), 0.005);
    double misfit = 0.0;
    for (size_t k = 0; k < target.size(); ++k)
      misfit = std::max(misfit, std::fabs(view.charges[k] - target[k]));
    const std::string n(name);
    if (n == "acetic_acid" || n == "pyrazole") {
      EXPECT_EQ(polar, 1);
    } else if (n == "urea") {
      EXPECT_EQ(polar, 4);
    } else if (n == "benzene" || n == "co2") {
      EXPECT_EQ(polar, 0);
    }
    // Small molecules whose bonds the four increments can follow exactly.
    if (n == "co2" || n == "urea" || n == "ammonia" || n == "benzene" || n == "acetic_acid") {
      EXPECT_LT(misfit, 1e-4);
    }
  }
}

TEST(Model, WrittenIncrementsAvoidTheFiveTypeSwitch) {
  const auto x = written_increments({0.1234567, 0.0700001, -0.333333, 0.0}, 4);
  EXPECT_DOUBLE_EQ(x[0], 0.12346);
  EXPECT_NE(x[1], 0.07);
  EXPECT_NEAR(x[1], 0.07, 2e-5);
  EXPECT_DOUBLE_EQ(x[2], -0.33333);
  // With three types the value has no special meaning.
  EXPECT_DOUBLE_EQ(written_increments({0.0, 0.07, 0.0, 0.0}, 3)[1], 0.07);
}

// The x23 model through the tool: the summary names it, the JSON records it
// and the increments chosen, and --charges still wins.
TEST(Model, ToolRecordsTheModel) {
  const std::string json = write_temp_file("model.json", "");
  const Result x23 = run_prep({x23_cif("urea"), "--model", "x23", "--no-map", "--json", json});
  ASSERT_EQ(x23.status, 0) << x23.err;
  EXPECT_NE(x23.err.find("  model        x23\n"), std::string::npos) << x23.err;
  EXPECT_NE(x23.err.find("4=HN"), std::string::npos) << x23.err;
  const std::string summary = slurp(json);
  EXPECT_NE(summary.find("\"model\": \"x23\""), std::string::npos) << summary;
  const Result given =
      run_prep({x23_cif("urea"), "--model", "x23", "--no-map", "--charges", "0.2,0,0,0"});
  ASSERT_EQ(given.status, 0) << given.err;
  EXPECT_NE(given.out.find("    0   0.20000   0.00000   0.00000   0.00000\n"), std::string::npos)
      << given.out;
}

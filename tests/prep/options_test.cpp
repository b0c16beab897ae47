#include "options.hpp"

#include <gtest/gtest.h>

#include "crystal.hpp"

namespace {

using zelk8::prep::Command;
using zelk8::prep::parse_command_line;
using zelk8::prep::PrepError;

std::string error_of(const std::vector<std::string>& args) {
  try {
    parse_command_line(args);
  } catch (const PrepError& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(CommandLine, ValuesInBothSpellingsAndDefaults) {
  Command c = parse_command_line({"x.cif", "--cutoff=12.5", "--map", "-3:3:0.5,-2:2:0.25,3.5",
                                  "--stack", "7", "--charges=0.1,-0.4,-0.3,0", "-o", "out.dat"});
  ASSERT_FALSE(c.print);
  EXPECT_EQ(c.options.cif_path, "x.cif");
  EXPECT_EQ(c.options.output_path, "out.dat");
  EXPECT_EQ(c.options.cutoff, 12.5);
  EXPECT_EQ(c.options.stack, 7);
  EXPECT_TRUE(c.options.map_given);
  EXPECT_EQ(c.options.run.map_values, (std::array<double, 7>{-3, 3, 0.5, -2, 2, 0.25, 3.5}));
  EXPECT_EQ(c.options.run.charges, (std::array<double, 4>{0.1, -0.4, -0.3, 0}));

  Command d = parse_command_line({"x.cif", "--stack", "auto"});
  EXPECT_FALSE(d.options.stack);
  EXPECT_EQ(d.options.cutoff, 30.0);
  EXPECT_FALSE(d.options.accept_bonds);
  EXPECT_FALSE(d.options.accept_formula);
  // The earlier name of --accept-bonds still works, hidden from --help.
  EXPECT_TRUE(parse_command_line({"x.cif", "--force"}).options.accept_bonds);
  EXPECT_TRUE(parse_command_line({"x.cif", "--accept-bonds"}).options.accept_bonds);
  EXPECT_TRUE(parse_command_line({"x.cif", "--accept-formula"}).options.accept_formula);
  const std::string help = zelk8::prep::usage_text();
  EXPECT_NE(help.find("--accept-bonds"), std::string::npos);
  EXPECT_EQ(help.find("--force"), std::string::npos) << help;
  EXPECT_EQ(d.options.molecule, 1);
  EXPECT_FALSE(d.options.map_given);
}

TEST(CommandLine, HelpAndVersionPrintAndRunNothing) {
  for (const char* flag : {"-h", "--help"}) {
    Command c = parse_command_line({flag});
    ASSERT_TRUE(c.print) << flag;
    for (const char* option : {"--stack auto|N", "--map L0:L1:DL,S0:S1:DS[,H]", "--no-map",
                               "--version", "Exit status: 0"})
      EXPECT_NE(c.print->find(option), std::string::npos) << option << " in\n" << *c.print;
  }
  Command v = parse_command_line({"crystal.cif", "--version"});
  ASSERT_TRUE(v.print);
  EXPECT_EQ(v.print->rfind("zelk8-prep ", 0), 0u) << *v.print;
}

TEST(CommandLine, ErrorsNameTheOption) {
  for (const auto& [args, message] : {
           std::pair{std::vector<std::string>{"x.cif", "--cutoff", "ten"},
                     "--cutoff: 'ten' is not a number"},
           {{"x.cif", "--cutoff", "-1"}, "--cutoff must be positive"},
           {{"x.cif", "--molecule", "0"}, "--molecule: the first molecule is 1"},
           {{"x.cif", "--molecule", "1.5"}, "--molecule: '1.5' is not a whole number"},
           {{"x.cif", "--stack", "top"}, "--stack: 'top' is not a whole number"},
           {{"x.cif", "--bond-tolerance", "-0.1"}, "--bond-tolerance must not be negative"},
           {{"x.cif", "--charges", "0.1,0,0,x"}, "--charges: 'x' is not a number"},
           {{"x.cif", "--map", "-3:3:0,-2:2:1"}, "--map: the step must be positive in '-3:3:0'"},
           {{"x.cif", "--cutoff"}, "--cutoff"},
           {{"x.cif", "y.cif"}, "y.cif"},
           {{"x.cif", "--no-map", "--map", "-1:1:1,-1:1:1"}, "--no-map and --map contradict"},
           {{}, "no CIF given (see --help)"},
       }) {
    std::string what = error_of(args);
    EXPECT_NE(what.find(message), std::string::npos) << message << " in: " << what;
  }
}

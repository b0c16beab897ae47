// zelk8-batch: screens many crystals, from CIFs to one results table.
#include <CLI/CLI.hpp>
#include <iostream>

#include "batch.hpp"

int main(int argc, char** argv) {
  using namespace zelk8::batch;
  CLI::App app{
      "Screens many crystals: every CIF through zelk8-prep, zelk8 and zelk8-map (in this\n"
      "process), one folder per crystal under OUT, and one results table (OUT/summary.csv,\n"
      "summary.json, index.html).",
      "zelk8-batch"};
  app.get_formatter()->column_width(34);
  Parameters p;
  std::vector<std::string> prep_words;
  std::string charges, cutoff, stack, map, shard, model;
  bool no_map = false;
  app.add_option("INPUT", p.inputs,
                 "CIF files, folders (their *.cif) or manifests (*.csv with the columns "
                 "name,cif,options)");
  app.add_option("-o,--output", p.out, "output folder, made when missing")->required();
  app.add_option("-j,--jobs", p.jobs,
                 "crystals run at once, one thread each (default: the CPUs this process may use)")
      ->check(CLI::Range(1, 4096));
  app.add_option("--charges", charges, "zelk8-prep --charges H,C1,C2,C3 for every crystal");
  app.add_option("--cutoff", cutoff, "zelk8-prep --cutoff R for every crystal");
  app.add_option("--model", model, "zelk8-prep --model NAME for every crystal (mm3, x23)");
  app.add_option("--stack", stack, "zelk8-prep --stack auto|N for every crystal");
  app.add_option("--map", map, "zelk8-prep --map L0:L1:DL,S0:S1:DS[,H] for every crystal");
  app.add_flag("--no-map", no_map, "zelk8-prep --no-map for every crystal");
  std::vector<std::string> prep_option_texts;
  app.add_option("--prep-option", prep_option_texts,
                 "another zelk8-prep option for every crystal, e.g. --prep-option=--accept-formula "
                 "or --prep-option='--molecule 2' (repeatable)")
      ->take_all()
      ->allow_extra_args(false);
  app.add_option("--lattice-radius", p.lattice_radius,
                 "lattice energy over every molecule whose centroid lies within R Angstrom "
                 "(default 25, 0 for none)")
      ->check(CLI::Range(0.0, 1000.0));
  app.add_option("--shard", shard, "process only the K-th of N slices of the crystals, no summary");
  app.add_flag("--collect", p.collect,
               "build the summaries from the complete crystal folders of OUT");
  app.add_flag("--force", p.force, "redo crystals that are done already");
  app.set_version_flag("--version", "zelk8-batch " ZELK8_VERSION);
  app.footer(
      "Exit status: 0 every crystal ok; 1 some failed (see OUT/summary.csv); 2 bad arguments;\n"
      "3 a summary cannot be written; 130 interrupted (finished crystals are kept; run again to\n"
      "do the rest).");
  try {
    app.parse(argc, argv);
    if (p.inputs.empty() && !p.collect)
      throw CLI::ValidationError("INPUT", "no input given: name CIF files, folders or manifests");
    for (const std::string& text : prep_option_texts) {
      std::vector<std::string> words;
      try {
        words = split_words(text);
      } catch (const InputError& error) {
        throw CLI::ValidationError("--prep-option",
                                   std::string(error.what()) + " in '" + text + "'");
      }
      for (const std::string& word : words)
        if (reserved_prep_option(word))
          throw CLI::ValidationError("--prep-option", word + " is set by zelk8-batch itself");
      prep_words.insert(prep_words.end(), words.begin(), words.end());
    }
    if (!shard.empty()) {
      if (p.collect)
        throw CLI::ValidationError("--shard", "--shard and --collect go in separate runs");
      std::tie(p.shard, p.shards) = parse_shard(shard);
    }
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    std::cerr << "zelk8-batch: " << error.what() << "\nTry 'zelk8-batch --help'.\n";
    return exit_usage;
  } catch (const InputError& error) {
    std::cerr << "zelk8-batch: " << error.what() << '\n';
    return exit_usage;
  }
  auto pass = [&](const char* option, const std::string& value) {
    if (value.empty()) return;
    p.prep_options.push_back(option);
    p.prep_options.push_back(value);
  };
  pass("--charges", charges);
  pass("--cutoff", cutoff);
  pass("--model", model);
  pass("--stack", stack);
  pass("--map", map);
  if (no_map) p.prep_options.push_back("--no-map");
  p.prep_options.insert(p.prep_options.end(), prep_words.begin(), prep_words.end());

  return run_batch(p, std::cerr);
}

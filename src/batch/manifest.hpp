// The crystals of a batch: CIF files, folders of them, or a manifest CSV.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "errors.hpp"

namespace zelk8::batch {

// One crystal of the batch: its folder name under OUT, its CIF and the
// zelk8-prep options that apply to it alone (after the batch-wide ones).
struct Crystal {
  std::string name;
  std::string cif;
  std::vector<std::string> options;
};

// A manifest or input list that cannot be used; the text names the file and
// line and says what to change.
using report::InputError;

// Splits an options cell into words: blanks separate, single or double quotes
// keep blanks inside a word. Throws InputError (without a location) on an
// unclosed quote.
std::vector<std::string> split_words(std::string_view text);

// Reads a manifest: CSV (RFC 4180 quoting), a header naming the columns
// `name`, `cif` and optionally `options` in any order, then one crystal per
// row. Blank lines and lines starting with '#' are skipped. An empty name
// takes the CIF's file name without its extension; a relative CIF path is
// taken relative to `base_dir`. `file` names the manifest in messages.
std::vector<Crystal> parse_manifest(std::string_view text, const std::string& file,
                                    const std::string& base_dir);

// Whether `name` can be a crystal's folder: letters, digits and . _ + -,
// not starting with a dot or a dash, at most 100 characters, and none of the
// batch's own file names. Returns an empty string when it can, else why not.
std::string name_problem(const std::string& name);

// The prep options a crystal may not set, since the batch sets them itself.
bool reserved_prep_option(std::string_view word);

// Every crystal named by the command line's inputs, in name order: a file
// ending in .csv is a manifest, a folder contributes its *.cif files (not
// recursively), any other path is one CIF. Throws InputError for a missing
// input, an empty folder, a bad manifest or two crystals of one name.
std::vector<Crystal> collect_crystals(const std::vector<std::string>& inputs);

}  // namespace zelk8::batch

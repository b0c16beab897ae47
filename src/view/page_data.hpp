// The data of the report page: one JSON document built from a report and,
// when the run wrote one, its coordinate file. The page embeds exactly this
// document, and `zelk8-view --json` writes it.
//
// Names follow the report's labels (EvdW, Estat, Etot, frame_l, d_shortest).
// A printed field whose text is not a finite number (asterisks, NaN,
// Infinity) is null, and its text as printed stands beside it under the same
// key with "_printed" appended; for a list, "<key>_printed" is a list of the
// same length holding the text at the null places and null elsewhere. A map
// table is "values": a list of rows (first VS shift first), each a list of
// numbers or null, so that numpy.array(values, dtype=float) reads it with NaN
// in the off-scale cells, which "off_scale" lists as [row, column, text].
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "contacts.hpp"
#include "coord_file.hpp"
#include "framework.hpp"
#include "report.hpp"

namespace zelk8::view {

// The input cannot make a page (a report without units).
class PageDataError : public report::InputError {
 public:
  using report::InputError::InputError;
};

struct PageSource {
  std::string crystal;                           // the run folder's name
  std::string report_name;                       // the report as named on the command line
  std::optional<NeighbourMolecules> neighbours;  // from coord.xyz, when present
  std::string coordinates_note;                  // why coord.xyz was not used, or empty
  // Left beside the report by zelk8-batch: zelk8-prep's summary (prep.json)
  // and the lattice energy of the crystal (lattice.json), when there.
  std::optional<nlohmann::json> prep = {};
  std::optional<nlohmann::json> lattice = {};
  std::string side_files_note = {};      // why one of them was not used, or empty
  std::vector<Operation> symmetry = {};  // the crystal's own operations, when known
  bool cif_accepted = false;             // the tool takes the crystal's CIF (--cif)
  // The report's map contacts when the caller found them already; else
  // they are found here.
  std::optional<report::MapContacts> contacts = {};
};

// The value of a field, or null; the text goes beside it when null.
void put_field(nlohmann::json& object, const std::string& key, const report::Field& field);

// "C20H12N2O2": the symbols of the atom list with their counts in Hill's
// order (C, H, then the others alphabetically; all alphabetically without
// carbon); a count of 1 is left out.
std::string formula(const report::Report& report);

// Throws PageDataError when the report holds no unit block.
nlohmann::json page_data(const report::Report& report, const PageSource& source);

// The message a page shows for a report that was cut short, e.g.
// "The report stops at line 57, where the unit blocks were expected: ..."
std::string stop_message(const report::Report& report);

}  // namespace zelk8::view

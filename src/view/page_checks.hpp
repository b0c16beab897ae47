// What the page says about how far a report's numbers can be trusted: the
// element types by their atoms' own symbols, the net charge, axes that the
// molecule's moments leave arbitrary, units held by hydrogen bonds, and what
// zelk8-prep and zelk8-batch left beside the report.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "page_data.hpp"
#include "report.hpp"

namespace zelk8::view {

// A net charge (e) above this in magnitude is worth a warning.
inline constexpr double net_charge_tolerance = 0.005;

// Two principal moments closer than this, relative to the larger, leave the
// axes in their plane arbitrary.
inline constexpr double degenerate_moment_tolerance = 1e-3;

// One entry per row of the element table: {"name": the symbols of the type's
// atoms in the atom list ("O"; "N/O" when a type holds several), "printed":
// the report's symbol, "note": "O, printed as S" where they differ, else ""}.
nlohmann::json element_names(const report::Report& report);

// {"value": the sum of the frame charges (null when one is off-scale),
// "warning": |value| > net_charge_tolerance}.
nlohmann::json net_charge(const report::Report& report);

// The moment of each axis (VL, VS, VV: d . M d of the printed tensor) and the
// pairs that are equal within degenerate_moment_tolerance.
struct AxisMoments {
  std::optional<std::array<double, 3>> moments;  // absent when a field is off-scale
  std::string degenerate;                        // e.g. "VL and VS", empty when none
};
AxisMoments axis_moments(const report::Report& report);

// {"axes": "VL and VS", "source": "prep.json" or "the moment tensor",
// "moments": [L, S, V] or null, "message": the sentence the page shows}, or
// null when no two axes are degenerate. prep.json's "degenerate_axes" is
// used when given (a non-empty text), the report's tensor otherwise.
nlohmann::json degenerate_axes(const report::Report& report,
                               const std::optional<nlohmann::json>& prep);

// One entry per unit: {"checked", "note", "distance" (A, null when none
// below hbond_contact_max), "contact" ("H11...O1": central atom, unit atom)}.
nlohmann::json unit_hbonds(const report::Report& report);

// The sentence shown beside hydrogen-bonded units.
std::string hbond_explanation();

// Adds all of the above to a page's data: "net_charge", "net_charge_warning",
// "lattice_sum_units", "degenerate_axes", "hbond_units", "hbond_note", each
// unit's "hbond", each element's "name" and "name_note", and "prep",
// "batch_lattice" and "side_files_note" from `source`.
void add_checks(nlohmann::json& data, const report::Report& report, const PageSource& source);

}  // namespace zelk8::view

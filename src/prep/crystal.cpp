#include "crystal.hpp"

#include <algorithm>
#include <cmath>
#include <gemmi/cif.hpp>
#include <gemmi/smcif.hpp>

#include "files.hpp"

namespace zelk8::prep {

namespace {

namespace cif = gemmi::cif;

// The operations: an explicit list wins over a symbol; the Hall symbol is
// unambiguous, the H-M symbol is tried as written and without the
// parentheses of the old "P2(1)/c" style.
void read_operations(cif::Block& block, Crystal& crystal) {
  for (const char* tag : {"_space_group_symop_operation_xyz", "_space_group_symop.operation_xyz",
                          "_symmetry_equiv_pos_as_xyz", "_symmetry_equiv.pos_as_xyz"}) {
    cif::Column column = block.find_values(tag);
    if (!column || column.length() == 0) continue;
    for (const std::string& value : column) {
      std::string triplet = cif::as_string(value);
      // Symmetry operations hold small numbers (denominators up to 12);
      // long ones would overflow the parser's integer arithmetic.
      size_t digits = 0;
      for (char c : triplet) {
        digits = (c >= '0' && c <= '9') ? digits + 1 : 0;
        if (digits > 3)
          throw PrepError("bad symmetry operation '" + triplet + "' in " + tag +
                          ": a number of more than three digits");
      }
      try {
        crystal.ops.push_back(gemmi::parse_triplet(triplet));
      } catch (const std::exception& e) {
        throw PrepError("bad symmetry operation '" + triplet + "' in " + tag + ": " + e.what());
      }
    }
    crystal.ops_source = tag;
    return;
  }
  for (const char* tag : {"_space_group_name_Hall", "_symmetry_space_group_name_Hall"}) {
    const std::string* value = block.find_value(tag);
    if (!value || cif::is_null(*value)) continue;
    std::string hall = cif::as_string(*value);
    size_t digits = 0, longest = 0;
    for (char c : hall)
      longest = std::max(longest, digits = (c >= '0' && c <= '9') ? digits + 1 : 0);
    if (longest > 3) continue;  // not a Hall symbol; its numbers are single digits
    try {
      for (const gemmi::Op& op : gemmi::symops_from_hall(hall.c_str())) crystal.ops.push_back(op);
      crystal.ops_source = std::string(tag) + " '" + hall + "'";
      return;
    } catch (const std::exception&) {
      crystal.ops.clear();
    }
  }
  if (!crystal.spacegroup.empty()) {
    std::string plain = crystal.spacegroup;
    plain.erase(
        std::remove_if(plain.begin(), plain.end(), [](char c) { return c == '(' || c == ')'; }),
        plain.end());
    for (const std::string& name : {crystal.spacegroup, plain}) {
      const gemmi::SpaceGroup* sg =
          gemmi::find_spacegroup_by_name(name, crystal.cell.alpha, crystal.cell.gamma);
      if (sg) {
        for (const gemmi::Op& op : sg->operations()) crystal.ops.push_back(op);
        crystal.ops_source = "space-group symbol '" + crystal.spacegroup + "'";
        return;
      }
    }
  }
  throw PrepError(
      "no symmetry operations: the CIF has neither _space_group_symop_operation_xyz nor "
      "_symmetry_equiv_pos_as_xyz nor a space-group symbol that is known");
}

bool holds_cell_and_sites(cif::Block& block) {
  return block.find_value("_cell_length_a") && block.find_values("_atom_site_fract_x");
}

std::string block_names(const cif::Document& doc) {
  std::string names;
  for (const cif::Block& b : doc.blocks) names += (names.empty() ? "" : ", ") + b.name;
  return names;
}

// The block asked for, or the first that holds a cell and atom sites (a
// journal's file often starts with a "global" block of text only).
cif::Block& choose_block(cif::Document& doc, const std::string& name, const std::string& wanted) {
  if (doc.blocks.empty()) throw PrepError(name + ": not a CIF (no data block)");
  if (!wanted.empty()) {
    for (cif::Block& b : doc.blocks)
      if (gemmi::iequal(b.name, gemmi::to_lower(wanted))) return b;
    throw PrepError(name + ": no data block '" + wanted + "'; the blocks are " + block_names(doc));
  }
  if (doc.blocks.size() == 1) return doc.blocks.front();
  for (cif::Block& b : doc.blocks)
    if (holds_cell_and_sites(b)) return b;
  throw PrepError(name + ": no data block holds both a cell and atom sites; the blocks are " +
                  block_names(doc) + " (choose one with --block)");
}

Crystal crystal_from_document(cif::Document& doc, const std::string& name,
                              const std::string& wanted) {
  cif::Block& block = choose_block(doc, name, wanted);
  std::vector<std::string> warnings;
  for (const char* tag : {"_cell_length_a", "_cell_length_b", "_cell_length_c"}) {
    const std::string* value = block.find_value(tag);
    if (!value || cif::is_null(*value) || std::isnan(cif::as_number(*value)))
      throw PrepError(name + ": missing cell: no value for " + tag);
  }
  // The core dictionary's default for an angle that is not given.
  for (const char* tag : {"_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"}) {
    const std::string* value = block.find_value(tag);
    if (!value) {
      block.set_pair(tag, "90");
      warnings.push_back(std::string("no ") + tag + " in the CIF; taken as 90 degrees");
    } else if (cif::is_null(*value) || std::isnan(cif::as_number(*value))) {
      throw PrepError(name + ": missing cell: no value for " + tag);
    }
  }
  if (!block.find_values("_atom_site_fract_x") || !block.find_values("_atom_site_fract_y") ||
      !block.find_values("_atom_site_fract_z"))
    throw PrepError(name + ": missing sites: no _atom_site_fract_x/y/z loop");

  gemmi::SmallStructure small;
  try {
    small = gemmi::make_small_structure_from_block(block);
  } catch (const std::exception& e) {
    // gemmi refuses cells it cannot build, such as an angle of 180 degrees.
    throw PrepError(name + ": the cell parameters do not describe a cell (" + e.what() + ")");
  }
  Crystal crystal;
  crystal.name = small.name;
  crystal.warnings = warnings;
  for (const cif::Block& b : doc.blocks)
    if (&b != &block) crystal.other_blocks.push_back(b.name);
  crystal.spacegroup = small.spacegroup_hm;
  crystal.cell = small.cell;
  for (const auto& [tag, text] : {std::pair{"_chemical_formula_sum", &crystal.formula_sum},
                                  {"_chemical_formula_moiety", &crystal.formula_moiety}}) {
    const std::string* value = block.find_value(tag);
    if (value && !cif::is_null(*value)) *text = cif::as_string(*value);
  }
  if (!crystal.cell.is_crystal() || !(crystal.cell.volume > 0.0))
    throw PrepError(name + ": the cell parameters do not describe a cell");
  for (const gemmi::SmallStructure::Site& s : small.sites) {
    if (std::isnan(s.fract.x) || std::isnan(s.fract.y) || std::isnan(s.fract.z))
      throw PrepError(name + ": site " + s.label + " has no fractional coordinates");
    if (!(std::fabs(s.fract.x) < 100 && std::fabs(s.fract.y) < 100 && std::fabs(s.fract.z) < 100))
      throw PrepError(name + ": site " + s.label +
                      " lies more than 100 cells from the origin; its coordinates are not "
                      "fractional");
    if (s.element == gemmi::El::X)
      throw PrepError(name + ": site " + s.label + ": unknown element '" + s.type_symbol + "'");
    crystal.sites.push_back({s.label, s.element, s.fract, s.occ});
  }
  if (crystal.sites.empty()) throw PrepError(name + ": missing sites: the atom-site loop is empty");

  read_operations(block, crystal);
  // Put the identity first, so that every listed site keeps its own
  // coordinates when the expanded sites are merged.
  auto identity = std::find(crystal.ops.begin(), crystal.ops.end(), gemmi::Op::identity());
  if (identity == crystal.ops.end())
    throw PrepError(name + ": the symmetry operations (" + crystal.ops_source +
                    ") lack the identity x,y,z");
  std::rotate(crystal.ops.begin(), identity, identity + 1);
  return crystal;
}

}  // namespace

Crystal read_crystal(const std::string& path, const std::string& block) {
  return read_crystal_text(read_whole_file(path, "the CIF"), path, block);
}

Crystal read_crystal_text(const std::string& text, const std::string& name,
                          const std::string& block) {
  cif::Document doc;
  try {
    doc = cif::read_memory(text.data(), text.size(), name.c_str());
  } catch (const std::exception& e) {
    throw PrepError(std::string("not a CIF: ") + e.what());
  }
  return crystal_from_document(doc, name, block);
}

}  // namespace zelk8::prep

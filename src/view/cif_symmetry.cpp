#include "cif_symmetry.hpp"

#include <cmath>

#include "crystal.hpp"

namespace zelk8::view {

std::vector<Operation> cif_operations(const std::string& path, const report::Report& report) {
  prep::Crystal crystal;
  try {
    crystal = prep::read_crystal(path);
  } catch (const std::exception& error) {
    throw CifError(path + ": " + error.what());
  }
  const gemmi::UnitCell& cell = crystal.cell;
  const struct {
    const char* name;
    double cif;
    const report::Field& field;
    double tolerance;
  } checks[] = {
      {"a", cell.a, report.cell.a, 2e-3},          {"b", cell.b, report.cell.b, 2e-3},
      {"c", cell.c, report.cell.c, 2e-3},          {"alpha", cell.alpha, report.cell.alpha, 2e-2},
      {"beta", cell.beta, report.cell.beta, 2e-2}, {"gamma", cell.gamma, report.cell.gamma, 2e-2}};
  for (const auto& check : checks) {
    if (!check.field.value || std::abs(*check.field.value - check.cif) > check.tolerance) {
      throw CifError(path + ": the cell's " + check.name + " is " + std::to_string(check.cif) +
                     " but the report's is " + check.field.text +
                     "; give --cif the CIF that zelk8-prep made this run's input from");
    }
  }
  std::vector<Operation> ops;
  for (const gemmi::Op& op : crystal.ops) {
    Operation o;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        o.rotation[r][c] = static_cast<double>(op.rot[r][c]) / gemmi::Op::DEN;
      }
      o.translation[r] = static_cast<double>(op.tran[r]) / gemmi::Op::DEN;
    }
    ops.push_back(o);
  }
  const std::vector<std::size_t> outside = units_outside(report, ops);
  if (!outside.empty()) {
    const report::Unit& unit = report.units[outside.front()];
    throw CifError(path + ": unit " + unit.number.text + " " + unit.name + " (" +
                   report::symmetry_text(unit.operation) + ") is not one of the CIF's " +
                   std::to_string(ops.size()) + " symmetry operations (from " + crystal.ops_source +
                   "); give --cif the CIF that zelk8-prep made this run's input from");
  }
  return ops;
}

}  // namespace zelk8::view

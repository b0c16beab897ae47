// Neighbour units and the run-parameter record.
#include <cstdlib>

#include "stages.hpp"

namespace zelk8 {

void read_unit_list(RunState& s, records::InputFile& in, std::string& report) {
  static const records::Format unit_record("(12F5.0,A4)");
  bool marker_seen = false;
  s.unit_count = unit_slots;
  for (int j = 0; j < unit_slots; ++j) {
    auto& op = s.unit_ops[j];
    in.read("unit record", unit_record, &op[0], &op[1], &op[2], &op[3], &op[4], &op[5], &op[6],
            &op[7], &op[8], &op[9], &op[10], &op[11], &s.unit_names[j]);
    if (op[0] >= 10.0f) {
      s.unit_count = j;
      break;
    }
    // The first marker unit places the second atom set; without one there
    // would be no atoms to place.
    if (op[0] == records::second_set_marker && !marker_seen) {
      marker_seen = true;
      if (!s.second_set_read) {
        reject(in, "unit record",
               "a11 = 5.0 places the second atom set, but the atom list has none");
      }
    }
  }

  static const records::Format parameter_record("(I5,4F10.5)");
  in.read("run-parameter record", parameter_record, &s.stack_unit, &s.charge_h, &s.charge_1,
          &s.charge_2, &s.charge_3);
  s.stack_unit = std::abs(s.stack_unit);

  static const records::Format echo(records::report_layout::run_parameters);
  put(report, echo, s.stack_unit, s.charge_h, s.charge_1, s.charge_2, s.charge_3);
}

}  // namespace zelk8

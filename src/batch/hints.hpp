// The messages of zelk8-prep in the words of zelk8-batch: a hint names an
// option the batch user can give, and warnings are listed once each.
#pragma once

#include <string>
#include <vector>

namespace zelk8::batch {

// Where a prep message arose: the crystal's own run, or a lattice shell
// (whose --cutoff is the batch's --lattice-radius).
enum class PrepRun { crystal, lattice_shell };

// `text` with every prep option it names as the batch user gives it: the
// options the batch has itself (--charges, --cutoff, --stack, --map,
// --no-map) stay, prep's --force becomes --prep-option=--accept-bonds, and
// any other becomes --prep-option=OPTION (quoted with its value, as in
// --prep-option='--molecule N'). In a lattice shell, --cutoff is
// --lattice-radius.
std::string batch_words(const std::string& text, PrepRun run = PrepRun::crystal);

// Each warning once, in the order first met; one that came N > 1 times
// ends with " (N times)".
std::vector<std::string> grouped(const std::vector<std::string>& warnings);

}  // namespace zelk8::batch

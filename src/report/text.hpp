// Reading words and numbers the user typed, and the CPUs a tool may use.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "errors.hpp"

namespace zelk8::report {

// `text` without the blanks (spaces, tabs, carriage returns, line ends) at
// either end.
std::string_view trim(std::string_view text);

// The number that `text` is as a whole: no blank, sign-only or trailing
// characters, finite, in range (a leading '+' is accepted). nullopt otherwise.
template <class Number>
std::optional<Number> number_of(std::string_view text);

// As number_of(), or throws InputError "WHERE: 'TEXT' is not WHAT", e.g.
// where "--max", what "a number of kJ/mol".
template <class Number>
Number parse_number(std::string_view text, std::string_view where, std::string_view what);

extern template std::optional<double> number_of<double>(std::string_view);
extern template std::optional<float> number_of<float>(std::string_view);
extern template std::optional<int> number_of<int>(std::string_view);
extern template std::optional<long long> number_of<long long>(std::string_view);
extern template double parse_number<double>(std::string_view, std::string_view, std::string_view);
extern template float parse_number<float>(std::string_view, std::string_view, std::string_view);
extern template int parse_number<int>(std::string_view, std::string_view, std::string_view);
extern template long long parse_number<long long>(std::string_view, std::string_view,
                                                  std::string_view);

// The CPUs this process may run on (its affinity mask), in ascending order;
// when the mask cannot be read, 0 .. hardware_concurrency - 1 (at least one).
std::vector<int> usable_cpus();

// How many CPUs this process may use: usable_cpus().size(), at least 1.
int usable_cpu_count();

}  // namespace zelk8::report

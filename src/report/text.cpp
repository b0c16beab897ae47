#include "text.hpp"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <thread>

namespace zelk8::report {

std::string_view trim(std::string_view text) {
  constexpr std::string_view blanks = " \t\r\n";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

template <class Number>
std::optional<Number> number_of(std::string_view text) {
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
    text.remove_prefix(1);
  }
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  if constexpr (std::is_floating_point_v<Number>) {
    if (!std::isfinite(value)) {
      return std::nullopt;
    }
  }
  return value;
}

template <class Number>
Number parse_number(std::string_view text, std::string_view where, std::string_view what) {
  if (const std::optional<Number> value = number_of<Number>(text)) {
    return *value;
  }
  throw InputError(std::string(where) + ": '" + std::string(text) + "' is not " +
                   std::string(what));
}

template std::optional<double> number_of<double>(std::string_view);
template std::optional<float> number_of<float>(std::string_view);
template std::optional<int> number_of<int>(std::string_view);
template std::optional<long long> number_of<long long>(std::string_view);
template double parse_number<double>(std::string_view, std::string_view, std::string_view);
template float parse_number<float>(std::string_view, std::string_view, std::string_view);
template int parse_number<int>(std::string_view, std::string_view, std::string_view);
template long long parse_number<long long>(std::string_view, std::string_view, std::string_view);

std::vector<int> usable_cpus() {
  std::vector<int> cpus;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &set)) {
        cpus.push_back(cpu);
      }
    }
  }
  if (cpus.empty()) {
    const int count = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    for (int cpu = 0; cpu < count; ++cpu) {
      cpus.push_back(cpu);
    }
  }
  return cpus;
}

int usable_cpu_count() { return static_cast<int>(usable_cpus().size()); }

}  // namespace zelk8::report

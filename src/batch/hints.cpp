#include "hints.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace zelk8::batch {

namespace {

bool option_char(char c) {
  return std::islower(static_cast<unsigned char>(c)) ||
         std::isdigit(static_cast<unsigned char>(c)) || c == '-';
}

// A word that stands for an option's value: a number or a placeholder in
// capitals (N, R, FILE).
bool value_word(std::string_view word) {
  if (word.empty()) return false;
  const bool number = std::isdigit(static_cast<unsigned char>(word[0])) ||
                      (word.size() > 1 && (word[0] == '-' || word[0] == '.') &&
                       std::isdigit(static_cast<unsigned char>(word[1])));
  const bool placeholder = std::all_of(word.begin(), word.end(), [](char c) {
    return std::isupper(static_cast<unsigned char>(c)) || c == '_';
  });
  return number || placeholder;
}

}  // namespace

std::string batch_words(const std::string& text, PrepRun run) {
  std::string in = text;
  // The units past the 20 the crystal's run writes are the lattice sum's.
  for (std::string_view phrase : {"take the rest with --skip-units 20"}) {
    const size_t at = in.find(phrase);
    if (at != std::string::npos)
      in.replace(at, phrase.size(), "the lattice energy (--lattice-radius) takes them all");
  }
  std::string out;
  size_t k = 0;
  while (k < in.size()) {
    const bool starts = in.compare(k, 2, "--") == 0 && k + 2 < in.size() &&
                        std::islower(static_cast<unsigned char>(in[k + 2])) &&
                        (k == 0 || !option_char(in[k - 1]));
    if (!starts) {
      out += in[k++];
      continue;
    }
    size_t end = k + 2;
    while (end < in.size() && option_char(in[end])) ++end;
    while (end > k + 3 && in[end - 1] == '-') --end;  // a dash ending a sentence
    const std::string name = in.substr(k, end - k);
    // The option's value, when the next word is one.
    size_t value_end = end;
    if (end + 1 < in.size() && in[end] == ' ') {
      size_t word_end = end + 1;
      while (word_end < in.size() && in[word_end] != ' ' && in[word_end] != ',' &&
             in[word_end] != ';' && in[word_end] != ')')
        ++word_end;
      // A full stop after a number ends the sentence.
      size_t value_stop = word_end;
      if (value_stop > end + 1 && in[value_stop - 1] == '.') --value_stop;
      if (value_word(std::string_view(in).substr(end + 1, value_stop - end - 1)))
        value_end = value_stop;
    }
    const bool own = name == "--charges" || name == "--cutoff" || name == "--stack" ||
                     name == "--map" || name == "--no-map" || name == "--lattice-radius";
    const bool reserved = name == "--skip-units" || name == "--json" || name == "--output";
    if (name == "--cutoff" && run == PrepRun::lattice_shell) {
      out += "--lattice-radius";
      k = end;
    } else if (own || reserved) {
      out += name;
      k = end;
    } else if (name == "--force") {
      out += "--prep-option=--accept-bonds";
      k = end;
    } else if (value_end > end) {
      out += "--prep-option='" + in.substr(k, value_end - k) + "'";
      k = value_end;
    } else {
      out += "--prep-option=" + name;
      k = end;
    }
  }
  return out;
}

std::vector<std::string> grouped(const std::vector<std::string>& warnings) {
  std::vector<std::string> order;
  std::vector<int> counts;
  for (const std::string& text : warnings) {
    auto found = std::find(order.begin(), order.end(), text);
    if (found == order.end()) {
      order.push_back(text);
      counts.push_back(1);
    } else {
      ++counts[static_cast<size_t>(found - order.begin())];
    }
  }
  for (size_t k = 0; k < order.size(); ++k)
    if (counts[k] > 1) order[k] += " (" + std::to_string(counts[k]) + " times)";
  return order;
}

}  // namespace zelk8::batch

#include "manifest.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "text.hpp"

namespace zelk8::batch {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view own_files[] = {"summary.csv", "summary.json", "index.html"};

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

struct Record {
  std::vector<std::string> fields;
  int line = 0;  // where the record starts, 1-based
};

// RFC 4180 records: fields separated by commas, a field in double quotes may
// hold commas, line ends and doubled quotes. A record ends at an unquoted
// line end (LF or CRLF).
std::vector<Record> read_records(std::string_view text, const std::string& file) {
  std::vector<Record> records;
  int line = 1;
  size_t at = 0;
  while (at < text.size()) {
    Record record;
    record.line = line;
    std::string field;
    bool quoted = false;      // inside quotes
    bool was_quoted = false;  // this field started with a quote
    bool end_of_record = false;
    while (at < text.size() && !end_of_record) {
      const char c = text[at++];
      if (quoted) {
        if (c == '"') {
          if (at < text.size() && text[at] == '"') {
            field += '"';
            ++at;
          } else {
            quoted = false;
          }
        } else {
          if (c == '\n') ++line;
          field += c;
        }
      } else if (c == '"' && report::trim(field).empty() && !was_quoted) {
        field.clear();
        quoted = was_quoted = true;
      } else if (c == ',') {
        record.fields.push_back(was_quoted ? field : std::string(report::trim(field)));
        field.clear();
        was_quoted = false;
      } else if (c == '\n') {
        ++line;
        end_of_record = true;
      } else if (was_quoted && c != ' ' && c != '\t' && c != '\r') {
        throw InputError(file + ":" + std::to_string(line) +
                         ": text after a closing quote; double a quote inside a quoted field");
      } else if (!was_quoted) {
        field += c;
      }
    }
    if (quoted)
      throw InputError(file + ":" + std::to_string(record.line) +
                       ": a quoted field is not closed; end it with a double quote");
    record.fields.push_back(was_quoted ? field : std::string(report::trim(field)));
    records.push_back(std::move(record));
  }
  return records;
}

bool skipped(const Record& record) {
  if (record.fields.size() == 1 && record.fields[0].empty()) return true;
  return !record.fields.empty() && !record.fields[0].empty() && record.fields[0][0] == '#';
}

}  // namespace

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        word += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (quote) throw InputError(std::string("unclosed ") + quote + " in the options");
  if (in_word) words.push_back(word);
  return words;
}

std::string name_problem(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > 100) return "the name is longer than 100 characters";
  if (name[0] == '.' || name[0] == '-') return "the name starts with '" + name.substr(0, 1) + "'";
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '+' || c == '-';
    if (!ok) return "the name holds '" + std::string(1, c) + "' (use letters, digits and . _ + -)";
  }
  for (std::string_view own : own_files)
    if (lower(name) == own) return "the name is one of the batch's own files";
  return "";
}

bool reserved_prep_option(std::string_view word) {
  for (std::string_view option : {"-o", "--output", "--json", "--skip-units", "-h", "--help"})
    if (word == option || (word.size() > option.size() && word.substr(0, option.size()) == option &&
                           word[option.size()] == '='))
      return true;
  return false;
}

std::vector<Crystal> parse_manifest(std::string_view text, const std::string& file,
                                    const std::string& base_dir) {
  std::vector<Record> records = read_records(text, file);
  auto next = records.begin();
  while (next != records.end() && skipped(*next)) ++next;
  if (next == records.end())
    throw InputError(file + ": no header; the first line names the columns name,cif,options");
  const Record& header = *next++;
  std::map<std::string, size_t> column;
  for (size_t k = 0; k < header.fields.size(); ++k) {
    const std::string key = lower(header.fields[k]);
    if (key != "name" && key != "cif" && key != "options")
      throw InputError(file + ":" + std::to_string(header.line) + ": unknown column '" +
                       header.fields[k] + "'; the columns are name,cif,options");
    if (!column.emplace(key, k).second)
      throw InputError(file + ":" + std::to_string(header.line) + ": column '" + key +
                       "' named twice");
  }
  if (!column.count("cif"))
    throw InputError(file + ":" + std::to_string(header.line) +
                     ": no 'cif' column; the first line names the columns name,cif,options");

  std::vector<Crystal> crystals;
  for (; next != records.end(); ++next) {
    if (skipped(*next)) continue;
    const Record& row = *next;
    const std::string where = file + ":" + std::to_string(row.line) + ": ";
    if (row.fields.size() > header.fields.size())
      throw InputError(where + std::to_string(row.fields.size()) + " fields for " +
                       std::to_string(header.fields.size()) +
                       " columns; quote a field that holds a comma");
    auto cell = [&](const char* key) -> std::string {
      auto found = column.find(key);
      if (found == column.end() || found->second >= row.fields.size()) return "";
      return row.fields[found->second];
    };
    Crystal crystal;
    crystal.cif = cell("cif");
    if (crystal.cif.empty()) throw InputError(where + "no CIF given");
    crystal.name = cell("name");
    if (crystal.name.empty()) crystal.name = fs::path(crystal.cif).stem().string();
    if (std::string why = name_problem(crystal.name); !why.empty())
      throw InputError(where + "crystal '" + crystal.name + "': " + why);
    if (fs::path(crystal.cif).is_relative() && !base_dir.empty())
      crystal.cif = (fs::path(base_dir) / crystal.cif).lexically_normal().string();
    try {
      crystal.options = split_words(cell("options"));
    } catch (const InputError& error) {
      throw InputError(where + error.what());
    }
    for (const std::string& word : crystal.options)
      if (reserved_prep_option(word))
        throw InputError(where + "option " + word +
                         " is set by zelk8-batch itself; remove it from the options column");
    crystals.push_back(std::move(crystal));
  }
  return crystals;
}

std::vector<Crystal> collect_crystals(const std::vector<std::string>& inputs) {
  std::vector<Crystal> crystals;
  for (const std::string& input : inputs) {
    const fs::path path(input);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      std::vector<fs::path> found;
      for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
        if (entry.is_regular_file() && lower(entry.path().extension().string()) == ".cif")
          found.push_back(entry.path());
      if (error) throw InputError(input + ": cannot list the folder: " + error.message());
      if (found.empty()) throw InputError(input + ": the folder holds no *.cif file");
      for (const fs::path& cif : found) crystals.push_back({cif.stem().string(), cif.string(), {}});
    } else if (!fs::exists(path, error)) {
      throw InputError(input + ": no such file or folder");
    } else if (lower(path.extension().string()) == ".csv") {
      std::ifstream in(path, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      if (!in) throw InputError(input + ": cannot read the manifest");
      for (Crystal& crystal :
           parse_manifest(text.str(), input, path.parent_path().lexically_normal().string()))
        crystals.push_back(std::move(crystal));
    } else {
      crystals.push_back({path.stem().string(), input, {}});
    }
  }
  for (const Crystal& crystal : crystals)
    if (std::string why = name_problem(crystal.name); !why.empty())
      throw InputError(crystal.cif + ": crystal '" + crystal.name + "': " + why +
                       "; rename the file or name it in a manifest");
  std::stable_sort(crystals.begin(), crystals.end(),
                   [](const Crystal& a, const Crystal& b) { return a.name < b.name; });
  for (size_t k = 1; k < crystals.size(); ++k)
    if (crystals[k].name == crystals[k - 1].name)
      throw InputError("two crystals named '" + crystals[k].name + "' (" + crystals[k - 1].cif +
                       " and " + crystals[k].cif + "); name them apart in a manifest");
  return crystals;
}

}  // namespace zelk8::batch

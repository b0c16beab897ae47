// Helpers of the zelk8-batch tests: a scratch folder with the bundled CIFs,
// running the tool, and reading its tables back independently of it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace zelk8::batch::testing {

namespace fs = std::filesystem;

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Starts `argv` in `dir` with standard error to `err_path`; returns its pid.
inline pid_t spawn(const std::vector<std::string>& argv, const fs::path& dir,
                   const fs::path& err_path) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// Waits for `pid`: its exit status, or 128 + the signal that ended it.
inline int finish(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A CSV file read back: RFC 4180 fields, the first line the header.
struct Table {
  std::vector<std::string> header;
  std::vector<std::map<std::string, std::string>> rows;

  const std::map<std::string, std::string>& row(const std::string& name) const {
    for (const auto& r : rows)
      if (r.at("name") == name) return r;
    throw std::runtime_error("no row " + name);
  }
  std::vector<std::string> column(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& r : rows) values.push_back(r.at(key));
    return values;
  }
};

inline Table read_csv(const fs::path& path) {
  const std::string text = read_text(path);
  std::vector<std::vector<std::string>> lines(1);
  std::string field;
  bool quoted = false;
  for (size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (quoted) {
      if (c == '"' && k + 1 < text.size() && text[k + 1] == '"') {
        field += '"';
        ++k;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      lines.back().push_back(field);
      field.clear();
    } else if (c == '\n') {
      lines.back().push_back(field);
      field.clear();
      lines.emplace_back();
    } else {
      field += c;
    }
  }
  lines.pop_back();  // after the last line end
  Table table;
  if (lines.empty()) return table;
  table.header = lines[0];
  for (size_t k = 1; k < lines.size(); ++k) {
    EXPECT_EQ(lines[k].size(), table.header.size()) << "line " << k + 1 << " of " << path;
    std::map<std::string, std::string> row;
    for (size_t c = 0; c < table.header.size() && c < lines[k].size(); ++c)
      row[table.header[c]] = lines[k][c];
    table.rows.push_back(row);
  }
  return table;
}

inline std::vector<std::string> expected_columns() {
  return {"name",
          "status",
          "message",
          "warnings",
          "formula",
          "space_group",
          "atoms",
          "element_types",
          "net_charge",
          "hbond_units",
          "units",
          "etot_units",
          "lattice_energy",
          "lattice_molecules",
          "stack_unit",
          "stack_etot",
          "map_min_evdw",
          "map_min_evdw_l",
          "map_min_evdw_s",
          "map_min_etot",
          "map_min_etot_l",
          "map_min_etot_s",
          "map_overlap_points",
          "charges",
          "model",
          "cutoff",
          "lattice_radius",
          "prep_options",
          "seconds"};
}

// A row without its timing (which differs from run to run), optionally
// under another name.
inline std::map<std::string, std::string> without_time(std::map<std::string, std::string> row,
                                                       const std::string& name = "") {
  row.erase("seconds");
  if (!name.empty()) row["name"] = name;
  return row;
}
inline std::map<std::string, std::string> without_time(const nlohmann::json& row) {
  std::map<std::string, std::string> plain;
  for (auto it = row.begin(); it != row.end(); ++it) {
    if (it->is_string()) {
      plain[it.key()] = it->get<std::string>();
    } else {
      // A list column, as summary.csv joins it.
      std::string joined;
      for (const auto& item : *it)
        joined += (joined.empty() ? "" : " | ") + item.get<std::string>();
      plain[it.key()] = joined;
    }
  }
  return without_time(plain);
}

// The CSV text with its last column (seconds, never quoted) cut off.
inline std::string without_time_column(const std::string& csv) {
  std::istringstream lines(csv);
  std::string kept;
  for (std::string line; std::getline(lines, line);) kept += line.substr(0, line.rfind(',')) + "\n";
  return kept;
}

inline std::string pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// The energy of the k-th minimum line of a report (0: EvdW, 1: Etot).
inline std::string last_minimum(const std::string& report, int k) {
  std::istringstream lines(report);
  int seen = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 110 && line.find_first_not_of(' ') >= 110 && seen++ == k) {
      const std::string energy = line.substr(130, 10);
      return energy.substr(energy.find_first_not_of(' '));
    }
  return "";
}

inline int complete_folders(const fs::path& out) {
  int n = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(out, error))
    if (entry.is_directory() && entry.path().filename().string()[0] != '.' &&
        fs::exists(entry.path() / "result.json"))
      ++n;
  return n;
}

inline std::vector<std::string> temporaries(const fs::path& out) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(out, error))
    if (entry.path().filename().string().find(".tmp-") != std::string::npos)
      found.push_back(entry.path().filename().string());
  return found;
}

// A scratch folder per test with the bundled CIFs in in/.
class BatchRun : public ::testing::Test {
 protected:
  struct Result {
    int status = -1;
    std::string err;
  };

  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zelk8-batch-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "in");
    for (const char* name : {"anthracene.cif", "naphthalene.cif", "quinacridone.cif"})
      fs::copy_file(fs::path(ZELK8_SOURCE_DIR) / "examples" / "cif" / name, root_ / "in" / name);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(root_);
  }

  fs::path out() const { return root_ / "out"; }
  std::string input(const std::string& relative) const { return (root_ / relative).string(); }

  pid_t start(const std::vector<std::string>& args, const fs::path& err_path) const {
    std::vector<std::string> argv = {ZELK8_BATCH_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn(argv, root_, err_path);
  }
  Result run(const std::vector<std::string>& args) const {
    const fs::path err = root_ / "batch.err";
    Result result;
    result.status = finish(start(args, err));
    result.err = read_text(err);
    return result;
  }
  int run_in(const fs::path& dir, const std::vector<std::string>& argv) const {
    return finish(spawn(argv, dir, dir / "stderr"));
  }

  fs::path root_;
};

}  // namespace zelk8::batch::testing

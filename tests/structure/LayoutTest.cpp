// The shape of the tree: every folder of the program includes only folders below it, so
// that each concern can be changed in its one place, and no source file grows past 800
// lines. The layers, from the bottom:
//   platform/ (and the data in res/)  <- io/  <- pck/, delta/  <- fs/  <- patch/, payload/, version/
//   <- app/  <- ui/, tools/
// A folder may include itself and anything lower; folders of one layer do not include
// each other. Tests, benchmarks and fuzz harnesses may include anything.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fsys = std::filesystem;

namespace {

const std::map<std::string, int> kLayer = {
    {"platform", 0}, {"res", 0}, {"io", 1},      {"pck", 2}, {"delta", 2}, {"fs", 3}, {"patch", 4},
    {"payload", 4},  {"version", 4}, {"app", 5}, {"ui", 6},  {"tools", 6},
};

bool IsSource(const fsys::path& p) {
  const std::string ext = p.extension().string();
  return ext == ".cpp" || ext == ".h" || ext == ".inc";
}

// Every source file below the tree's top, build folders left out.
std::vector<fsys::path> Sources(const fsys::path& top) {
  std::vector<fsys::path> out;
  for (auto it = fsys::recursive_directory_iterator(top); it != fsys::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().filename().string();
    if (it->is_directory() && (name == "build" || name == ".git" || name == "demo")) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && IsSource(it->path())) out.push_back(it->path());
  }
  return out;
}

std::string TopFolder(const fsys::path& top, const fsys::path& file) {
  return fsys::relative(file, top).begin()->string();
}

}  // namespace

TEST(Layout, EveryIncludePointsDownTheLayers) {
  const fsys::path top = QV_SOURCE_DIR;
  std::vector<std::string> wrong;
  for (const fsys::path& file : Sources(top)) {
    const std::string folder = TopFolder(top, file);
    auto own = kLayer.find(folder);
    if (own == kLayer.end()) continue;  // tests, bench, fuzz, scripts
    std::ifstream in(file);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
      const size_t hash = line.find_first_not_of(" \t");
      if (hash == std::string::npos || line.compare(hash, 8, "#include") != 0) continue;
      const size_t open = line.find('"'), slash = line.find('/', open + 1);
      if (open == std::string::npos || slash == std::string::npos) continue;
      const std::string target = line.substr(open + 1, slash - open - 1);
      auto to = kLayer.find(target);
      if (to == kLayer.end() || target == folder) continue;
      if (to->second >= own->second)
        wrong.push_back(fsys::relative(file, top).generic_string() + ":" + std::to_string(n) + ": " + line);
    }
  }
  EXPECT_TRUE(wrong.empty()) << [&] {
    std::string all;
    for (const std::string& w : wrong) all += w + "\n";
    return all;
  }();
}

TEST(Layout, NoSourceFileIsLongerThan800Lines) {
  const fsys::path top = QV_SOURCE_DIR;
  for (const fsys::path& file : Sources(top)) {
    std::ifstream in(file);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) ++lines;
    EXPECT_LE(lines, 800) << fsys::relative(file, top).generic_string();
  }
}

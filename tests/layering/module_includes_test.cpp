// Every #include of another module under src/ must name a module that the
// including module's CMake target depends on (directly or through the
// modules it uses), so that the layering is checked, not hoped for.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace tly {
namespace {

namespace fs = std::filesystem;
using Depends = std::map<std::string, std::set<std::string>>;

// "module: dep dep ..." per line, as the build writes it.
Depends ReadDeclaredDepends(const std::string& path) {
  Depends depends;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::set<std::string>& set = depends[line.substr(0, colon)];
    std::istringstream rest(line.substr(colon + 1));
    for (std::string dep; rest >> dep;) set.insert(dep);
  }
  return depends;
}

// The modules `module` may include: itself and everything it reaches.
std::set<std::string> Reachable(const Depends& depends, const std::string& module) {
  std::set<std::string> seen = {module};
  std::vector<std::string> open = {module};
  while (!open.empty()) {
    const std::string next = open.back();
    open.pop_back();
    const auto found = depends.find(next);
    if (found == depends.end()) continue;
    for (const std::string& dep : found->second) {
      if (seen.insert(dep).second) open.push_back(dep);
    }
  }
  return seen;
}

// The module directories that each quoted #include of `path` names; a
// toolkit header (<Q...>) counts as the module "Qt".
std::set<std::string> IncludedModules(const fs::path& path, const Depends& modules) {
  std::set<std::string> included;
  std::ifstream in(path);
  const std::regex include_line(R"re(^\s*#\s*include\s+"([A-Za-z0-9_]+)/)re");
  const std::regex toolkit_line(R"re(^\s*#\s*include\s+<Q)re");
  std::string line;
  for (std::smatch match; std::getline(in, line);) {
    if (std::regex_search(line, match, include_line) && modules.count(match[1]) != 0) {
      included.insert(match[1]);
    }
    if (std::regex_search(line, toolkit_line)) included.insert("Qt");
  }
  return included;
}

TEST(Layering, EveryIncludeNamesADeclaredDependency) {
  const Depends depends = ReadDeclaredDepends(TLY_MODULE_DEPENDS);
  ASSERT_GE(depends.size(), 11u) << "the build declared too few modules";
  int files = 0;
  for (const auto& [module, declared] : depends) {
    const std::set<std::string> allowed = Reachable(depends, module);
    for (const fs::directory_entry& entry :
         fs::recursive_directory_iterator(fs::path(TLY_SOURCE_DIR) / module)) {
      const std::string extension = entry.path().extension();
      if (extension != ".h" && extension != ".cpp") continue;
      ++files;
      for (const std::string& used : IncludedModules(entry.path(), depends)) {
        EXPECT_TRUE(allowed.count(used) != 0)
            << entry.path() << " includes " << used << "/, which module " << module
            << " does not depend on";
      }
    }
  }
  EXPECT_GT(files, 40);
}

TEST(Layering, ToolkitFreeModulesAndTheDependencyRulesOfTheDesign) {
  const Depends depends = ReadDeclaredDepends(TLY_MODULE_DEPENDS);
  // The bottom of the library depends on nothing of ours but the processor
  // kernels; the day-file format knows no site, day record or generator.
  EXPECT_TRUE(depends.at("port").empty());
  EXPECT_TRUE(depends.at("support").empty());
  EXPECT_EQ(depends.at("cipher"), std::set<std::string>{"port"});
  for (const char* above : {"config", "counting", "flat", "faults", "scenario"}) {
    EXPECT_EQ(Reachable(depends, "dayfile").count(above), 0u) << above;
  }
  EXPECT_EQ(Reachable(depends, "counting").count("config"), 0u);
  // Delivery knows day files and the system, not the sites that make them.
  for (const char* above : {"config", "counting", "flat", "scenario"}) {
    EXPECT_EQ(Reachable(depends, "delivery").count(above), 0u) << above;
  }
  EXPECT_EQ(Reachable(depends, "config").count("counting"), 0u);
  // The flat generator knows no scenario; live runs and backfills know no
  // other; only the chart, the windows, the commands and the entry use Qt.
  EXPECT_EQ(Reachable(depends, "flat").count("scenario"), 0u);
  EXPECT_EQ(Reachable(depends, "live").count("backfill"), 0u);
  EXPECT_EQ(Reachable(depends, "backfill").count("live"), 0u);
  for (const auto& [module, declared] : depends) {
    const bool toolkit = module == "plot" || module == "gui" || module == "studio" ||
                         module == "cli" || module == "app";
    EXPECT_EQ(Reachable(depends, module).count("Qt") != 0, toolkit) << module;
  }
}

}  // namespace
}  // namespace tly

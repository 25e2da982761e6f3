#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "testutil/program_process.h"
#include "testutil/temp_dir.h"
#include "testutil/wait_for.h"

namespace tly {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// What a shell command printed on stdout, and its exit status.
std::pair<int, std::string> Capture(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  char buffer[4096];
  size_t length = 0;
  while ((length = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, length);
  return {::pclose(pipe), output};
}

// Makes `path` belong to nobody when the test runs as root (and so runs the
// program as nobody); an ordinary user owns it already.
void GiveToUser(const std::string& path) {
  if (::geteuid() == 0 && ::chown(path.c_str(), kNobody, kNobody) != 0) ADD_FAILURE() << path;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Whether the user the installed program runs as may reach `path` (search
// every folder on the way) on a file system that lets it execute programs.
// Root runs it as nobody, who needs the bits for others (or its own).
bool ProgramUserCanReach(const std::string& path) {
  struct statvfs mount {};
  if (::statvfs(path.c_str(), &mount) != 0 || (mount.f_flag & ST_NOEXEC) != 0) return false;
  if (::geteuid() != 0) return ::access(path.c_str(), X_OK) == 0;
  for (fs::path folder = fs::absolute(path);; folder = folder.parent_path()) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return false;
    const bool search = (info.st_mode & S_IXOTH) != 0 ||
                        (info.st_uid == kNobody && (info.st_mode & S_IXUSR) != 0) ||
                        (info.st_gid == kNobody && (info.st_mode & S_IXGRP) != 0);
    if (!search) return false;
    if (folder == folder.root_path()) return true;
  }
}

// The first folder for the install and the user's files that the program's
// user can reach: the temporary folder, /tmp, the build tree (a checkout in
// a folder only its owner may enter is out of nobody's reach); "" for none.
std::string FolderForTheProgramsUser() {
  for (const std::string& folder :
       {testing::kTestTempRoot, std::string("/tmp"), testing::TestProgramDir()}) {
    if (ProgramUserCanReach(folder)) return folder;
  }
  return "";
}

// This build tree installed under a fresh prefix, readable by everybody, in
// a folder the program's user can reach when there is one.
class Installed : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(prefix_.path(), fs::perms(0755));
    const std::string build = testing::TestProgramDir() + "/" + TLY_BUILD_FROM_TESTS;
    const auto [status, output] =
        Capture(std::string(TLY_CMAKE_COMMAND) + " --install " + Quoted(build) + " --prefix " +
                Quoted(prefix_.path()) + " 2>&1");
    ASSERT_EQ(status, 0) << output;
  }

  std::string Path(const std::string& relative) const { return prefix_.path() + "/" + relative; }

  // A directory in the test's temporary folder that user 65534 may use.
  std::string UsersDir(const testing::TempDir& dir, const std::string& name) const {
    fs::permissions(dir.path(), fs::perms(0755));
    const std::string path = dir.File(name);
    fs::create_directory(path);
    GiveToUser(path);
    return path;
  }

  // The installed program with `args` as an ordinary user: root, who may
  // write anywhere, runs it as nobody; anybody else as who they are.
  std::unique_ptr<testing::Program> Start(const std::vector<std::string>& args,
                                          const testing::TempDir& output,
                                          std::vector<std::string> env) {
    std::vector<std::string> all = args;
    std::string exe = Path("bin/tly-generator");
    if (::geteuid() == 0) {
      all.insert(all.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "--", exe});
      exe = "/usr/bin/setpriv";
    }
    return std::make_unique<testing::Program>(exe, all, output.path(), std::move(env));
  }

  // Where the user's folders go too.
  const std::string reachable_ = FolderForTheProgramsUser();
  testing::TempDir prefix_{reachable_.empty() ? testing::TestProgramDir() : reachable_};
};

// The program, its menu entry and icon, its manual page (made from the
// program's own --help, so every command and option is in it) and its
// completion all land where the desktop looks for them.
TEST_F(Installed, DesktopEntryIconManualAndCompletionAreInPlace) {
  ASSERT_TRUE(fs::exists(Path("bin/tly-generator")));
  EXPECT_TRUE(fs::exists(Path("share/icons/hicolor/scalable/apps/tly-generator.svg")));
  EXPECT_TRUE(fs::exists(Path("share/bash-completion/completions/tly-generator")));
  EXPECT_TRUE(fs::exists(Path("share/doc/tly-generator/copyright")));

  // The window's entry and the studio's.
  for (const auto& [name, exec] : {std::pair{"tly-generator", "tly-generator"},
                                   std::pair{"tly-generator-studio", "tly-generator studio"}}) {
    const std::string entry = Path("share/applications/" + std::string(name) + ".desktop");
    const std::string desktop = testing::ReadBytes(entry);
    EXPECT_NE(desktop.find("\nExec=" + std::string(exec) + "\n"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find("\nIcon=tly-generator\n"), std::string::npos) << desktop;
    const std::string validate = TLY_DESKTOP_FILE_VALIDATE;
    if (validate.find("NOTFOUND") == std::string::npos && !validate.empty()) {
      const auto [status, output] = Capture(validate + " " + Quoted(entry) + " 2>&1");
      EXPECT_EQ(status, 0) << output;
      EXPECT_EQ(output, "");
    }
  }

  const auto [status, manual] =
      Capture("gzip -dc " + Quoted(Path("share/man/man1/tly-generator.1.gz")));
  ASSERT_EQ(status, 0);
  EXPECT_NE(manual.find(".SH NAME"), std::string::npos);
  for (const char* text : {".SS \"run\"", ".SS \"backfill\"", ".SS \"verify\"", ".SS \"plot\"",
                           "\\-\\-size", "\\-\\-force", "\\-\\-seconds", "XDG_CONFIG_HOME"}) {
    EXPECT_NE(manual.find(text), std::string::npos) << text;
  }
}

// Completion offers the commands, a command's options from its own --help,
// pictures after plot's --out, day files for verify, seal and plot, scenario
// files for studio, directories for --out of run.
TEST_F(Installed, CompletionFollowsTheProgramsOwnHelp) {
  testing::TempDir files;
  for (const char* name : {"a.png", "b.SVG", "c.tly", "d.txt", "e.toml"})
    testing::WriteBytes(files.File(name), "");
  fs::create_directory(files.File("sub"));
  const auto complete = [&](const std::string& words) {
    const std::string script = "cd " + Quoted(files.path()) + " && source " +
                               Quoted(Path("share/bash-completion/completions/tly-generator")) +
                               " && COMP_WORDS=(" + Quoted(Path("bin/tly-generator")) + " " +
                               words +
                               ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _tly_generator && "
                               "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '";
    return Capture("bash -c " + Quoted(script)).second;
  };
  EXPECT_EQ(complete("''"), "backfill deliver help plot run scenario seal serve studio verify ");
  EXPECT_EQ(complete("p"), "plot ");
  EXPECT_EQ(complete("plot --"), "--force --help --out --size ");
  EXPECT_EQ(complete("run --se"), "--seconds --seed ");
  EXPECT_EQ(complete("plot --out ''"), "a.png b.SVG sub ");
  EXPECT_EQ(complete("verify ''"), "c.tly sub ");
  EXPECT_EQ(complete("seal ''"), "c.tly sub ");
  EXPECT_EQ(complete("studio ''"), "e.toml sub ");
  EXPECT_EQ(complete("plot c.tly ''"), "c.tly sub ");
  EXPECT_EQ(complete("run --out ''"), "sub ");
  EXPECT_EQ(complete("backfill --from ''"), " ");
}

bool HasDayFile(const std::string& dir) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    if (entry.path().extension() == ".tly") return true;
  }
  return false;
}

// Waits until the window writes a day file into `out`; false as soon as it
// ends or says that generation did not start.
bool WaitForGeneration(testing::Program& window, const std::string& out) {
  testing::WaitFor([&] {
    return HasDayFile(out) || !window.Running() ||
           window.Err().find("generation not started") != std::string::npos;
  });
  return HasDayFile(out);
}

// Installed where the user cannot write, the window keeps its settings in
// the user's configuration folder and closes on the first request; `run`
// reads the same file. A copy in a writable folder keeps them beside itself.
TEST_F(Installed, SettingsFollowTheWritabilityOfTheProgramsFolder) {
  if (reachable_.empty()) {
    GTEST_SKIP() << "no folder that user " << (::geteuid() == 0 ? "nobody" : "of the test")
                 << " may reach and run programs from: neither " << testing::kTestTempRoot
                 << ", /tmp nor " << testing::TestProgramDir();
  }
  testing::TempDir home(reachable_);
  const std::string out = UsersDir(home, "out");
  const std::string config = UsersDir(home, "config");
  const std::string user_ini = config + "/tly-generator.ini";
  const std::string beside_ini = Path("bin/tly-generator.ini");
  testing::WriteBytes(user_ini, "[General]\nOutDir=" + out + "\n");
  GiveToUser(user_ini);
  fs::permissions(Path("bin"), fs::perms(0555));
  const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config};

  {
    testing::TempDir output;
    auto window = Start({}, output, {"QT_QPA_PLATFORM=offscreen", env[0]});
    // The first save comes from a timer tick inside the event loop, after the
    // signals are handled; generation running shows the settings were read.
    ASSERT_TRUE(WaitForGeneration(*window, out)) << window->Err();
    fs::remove(user_ini);
    window->Signal(SIGTERM);
    ASSERT_EQ(window->Wait(), 0) << window->Err();
    EXPECT_EQ(window->Err().find("Unable to write"), std::string::npos) << window->Err();
  }
  EXPECT_NE(testing::ReadBytes(user_ini).find("OutDir=" + out), std::string::npos)
      << "written again at close";
  EXPECT_FALSE(fs::exists(beside_ini));
  {
    testing::TempDir output;
    auto run = Start({"run", "--seconds", "0"}, output, env);
    ASSERT_EQ(run->Wait(), 0) << run->Err();
    EXPECT_NE(run->Out().find("Generating into " + out + "/"), std::string::npos) << run->Out();
  }

  // The portable layout: the folder is the user's own.
  fs::permissions(Path("bin"), fs::perms(0755));
  GiveToUser(Path("bin"));
  fs::remove(user_ini);
  testing::WriteBytes(beside_ini, "[General]\nOutDir=" + out + "\n");
  GiveToUser(beside_ini);
  fs::remove_all(out);
  UsersDir(home, "out");
  {
    testing::TempDir output;
    auto window = Start({}, output, {"QT_QPA_PLATFORM=offscreen", env[0]});
    ASSERT_TRUE(WaitForGeneration(*window, out)) << window->Err();
    fs::remove(beside_ini);
    window->Signal(SIGTERM);
    ASSERT_EQ(window->Wait(), 0) << window->Err();
  }
  EXPECT_NE(testing::ReadBytes(beside_ini).find("OutDir=" + out), std::string::npos);
  EXPECT_FALSE(fs::exists(user_ini));
}

}  // namespace
}  // namespace tly

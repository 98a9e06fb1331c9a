// The zerivudor program run as a user runs it: separate processes sharing one home, help, and
// resources found from wherever the program lies (build folder or installed copy).

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Values.h"
#include "platform/storage/PropertyList.h"
#include "support/TestSupport.h"

extern char** environ;

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// What a run's process gets besides its arguments and environment.
struct Limits {
  std::optional<rlim_t> fileSize;  // RLIMIT_FSIZE, in bytes
  fs::path standardOutput;         // instead of a file of the run's own
  bool closedOutput = false;       // started with descriptor 1 closed (`>&-`)
};

Limits fileSizeLimit(rlim_t bytes, fs::path standardOutput = {}) { return Limits{bytes, std::move(standardOutput)}; }

// One run of a program with its own environment changes (an empty value unsets the variable),
// working folder, output file and a pipe for its standard error (which a file-size limit does not
// cut short). Everything the child needs is prepared before the fork. The child starts with
// SIGXFSZ at its default, whatever the test process does with it: a program that writes past a
// file-size limit must itself see to not being killed.
class ProgramRun {
 public:
  ProgramRun(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
             const fs::path& outputFolder, const fs::path& workingFolder = "/", const Limits& limits = {}) {
    static int serial = 0;
    std::string stem = "run" + std::to_string(++serial);
    outPath_ = limits.standardOutput.empty() ? outputFolder / (stem + ".out") : limits.standardOutput;
    readOutput_ = limits.standardOutput.empty();
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
      std::string text(*entry);
      auto equals = text.find('=');
      if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : environment) {
      if (value.empty())
        merged.erase(name);
      else
        merged[name] = value;
    }
    std::vector<std::string> environmentTexts;
    for (const auto& [name, value] : merged) environmentTexts.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    for (auto& text : environmentTexts) envp.push_back(text.data());
    envp.push_back(nullptr);
    readOutput_ = readOutput_ && !limits.closedOutput;
    bool closeOutput = limits.closedOutput;
    std::string outText = outPath_.string(), working = workingFolder.string();
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      int out = ::open(outText.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || ::dup2(out, 1) < 0 || ::dup2(errPipe[1], 2) < 0 || ::chdir(working.c_str()) != 0) ::_exit(126);
      if (closeOutput) ::close(1);
      sigset_t fileSizeSignal;
      ::sigemptyset(&fileSizeSignal);
      ::sigaddset(&fileSizeSignal, SIGXFSZ);
      ::sigprocmask(SIG_UNBLOCK, &fileSizeSignal, nullptr);
      ::signal(SIGXFSZ, SIG_DFL);
      if (limits.fileSize) {
        struct rlimit limit = {*limits.fileSize, *limits.fileSize};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
      }
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(errPipe[1]);
    errRead_ = errPipe[0];
  }

  Outcome wait() {
    Outcome outcome;
    std::string err;
    char buffer[4096];
    for (ssize_t n; errRead_ >= 0 && ((n = ::read(errRead_, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR));)
      if (n > 0) err.append(buffer, static_cast<std::size_t>(n));
    if (errRead_ >= 0) ::close(errRead_);
    errRead_ = -1;
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
      if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) outcome.err = "killed by signal " + std::to_string(WTERMSIG(status)) + "\n";
    }
    pid_ = -1;
    if (readOutput_) outcome.out = readFile(outPath_);
    outcome.err += err;
    return outcome;
  }

  ~ProgramRun() {
    if (pid_ > 0) wait();
  }

 private:
  pid_t pid_ = -1;
  int errRead_ = -1;
  fs::path outPath_;
  bool readOutput_ = true;  // not a device given as the output
};

class ProgramTest : public ::testing::Test {
 protected:
  Outcome run(std::vector<std::string> arguments, std::map<std::string, std::string> environment = {},
              const fs::path& program = ZV_PROGRAM, const Limits& limits = {}) {
    arguments.insert(arguments.begin(), program.string());
    environment.emplace("ZV_HOME", home.string());
    return ProgramRun(arguments, environment, temporary.path(), "/", limits).wait();
  }
  Outcome run(std::vector<std::string> arguments, const Limits& limits) {
    return run(std::move(arguments), {}, ZV_PROGRAM, limits);
  }
  // Names in the preferences folder other than the defaults file and its lock.
  std::vector<std::string> strayPreferenceFiles() {
    std::vector<std::string> names;
    std::error_code absent;
    for (const auto& entry : fs::directory_iterator(home / "Preferences", absent)) {
      auto name = entry.path().filename().string();
      if (name != "com.mirovast.zerivudor.plist" && name != "com.mirovast.zerivudor.plist.lock") names.push_back(name);
    }
    return names;
  }
  Ref<Dictionary> storedValues() {
    return dyn<Dictionary>(storage::readPropertyList(home / "Preferences/com.mirovast.zerivudor.plist"));
  }

  TemporaryDirectory temporary;
  fs::path home = temporary / "home";
};

TEST_F(ProgramTest, TwoProcessesSettingDifferentValuesAtOnceKeepBoth) {
  const std::map<std::string, std::string> environment{{"ZV_HOME", home.string()}, {"ZV_RESOURCES", ""}};
  constexpr int kRounds = 25;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string name = "A" + std::to_string(round), note = "B" + std::to_string(round);
    // Both start before either is waited for; the first round also races to store the defaults.
    ProgramRun first({ZV_PROGRAM, "settings", "set", "name_preference", name}, environment, temporary.path());
    ProgramRun second({ZV_PROGRAM, "settings", "set", "note_preference", note}, environment, temporary.path());
    auto a = first.wait();
    auto b = second.wait();
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    auto values = storedValues();
    ASSERT_TRUE(values);
    ASSERT_EQ(values->stringForKey("name_preference"), name);
    ASSERT_EQ(values->stringForKey("note_preference"), note);
  }
}

TEST_F(ProgramTest, HelpGoesToStandardOutputAndWritesNothing) {
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{"--help"}, {"-h"}, {"help"}, {"settings", "--help"}, {"settings", "help"}}) {
    SCOPED_TRACE(arguments.back());
    auto outcome = run(arguments);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("settings set KEY VALUE"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("ZV_HOME"), std::string::npos);
    EXPECT_NE(outcome.out.find("ZV_RESOURCES"), std::string::npos);
    EXPECT_EQ(outcome.err, "");
    EXPECT_FALSE(fs::exists(home));
  }
  // Misuse shows the same text on standard error, with the misuse status.
  auto outcome = run({"frobnicate"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("ZV_RESOURCES"), std::string::npos);
  EXPECT_FALSE(fs::exists(home));
}

TEST_F(ProgramTest, FindsItsResourcesFromAnyFolderBuiltOrInstalled) {
  // Run from "/" with no ZV_RESOURCES: the build folder's program finds them beside it, where
  // every build folder (also one outside the repository) links them.
  EXPECT_TRUE(fs::exists(fs::path(ZV_PROGRAM).parent_path() / "resources/Settings.bundle/Root.plist"));
  auto built = run({"settings"}, {{"ZV_RESOURCES", ""}});
  EXPECT_EQ(built.status, 0) << built.err;
  EXPECT_NE(built.out.find("breath_type_preference"), std::string::npos) << built.out;

  // An installed copy finds the resources installed with it.
  fs::path prefix = temporary / "prefix";
  auto install = ProgramRun({ZV_CMAKE, "--install", ZV_BINARY_DIR, "--prefix", prefix.string()}, {}, temporary.path())
                     .wait();
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  fs::path program = prefix / "bin" / "zerivudor";
  ASSERT_TRUE(fs::exists(program));
  auto installed = run({"settings"}, {{"ZV_RESOURCES", ""}}, program);
  EXPECT_EQ(installed.status, 0) << installed.err;
  EXPECT_NE(installed.out.find("breath_type_preference"), std::string::npos) << installed.out;

  // No settings description at all is an error, not an empty tab.
  auto missing = run({"settings"}, {{"ZV_RESOURCES", (temporary / "nowhere").string()}});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out.find("[Settings]"), std::string::npos);
  EXPECT_NE(missing.err.find("Settings.bundle"), std::string::npos) << missing.err;
}

TEST_F(ProgramTest, AValueThatCannotBeSavedFailsTheCommand) {
  // A home below a plain file cannot be made, whoever runs the test.
  writeFile(temporary / "plain", "not a folder");
  fs::path unusable = temporary / "plain" / "home";
  auto set = run({"settings", "set", "name_preference", "Frank"}, {{"ZV_HOME", unusable.string()}});
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.out.find("name_preference = Frank"), std::string::npos) << set.out;
  EXPECT_NE(set.err.find("could not be saved"), std::string::npos) << set.err;

  auto show = run({"settings"}, {{"ZV_HOME", unusable.string()}});
  EXPECT_EQ(show.status, 1);
  EXPECT_EQ(show.out.find("Registered"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("[Settings]"), std::string::npos);  // still shows what it has
  EXPECT_EQ(show.err.find("no longer exists"), std::string::npos) << show.err;
}

TEST_F(ProgramTest, ASaveOverAFileSizeLimitFailsWithAMessageAndLeavesNoTemporaryFile) {
  // Nothing may be written at all: the defaults of a fresh home cannot be stored.
  auto fresh = run({"settings"}, fileSizeLimit(0, "/dev/null"));
  EXPECT_EQ(fresh.status, 1) << fresh.err;
  EXPECT_NE(fresh.err.find("could not be saved"), std::string::npos) << fresh.err;
  EXPECT_EQ(strayPreferenceFiles(), std::vector<std::string>{});

  // The defaults stored, a value that makes the file outgrow the limit is not saved.
  ASSERT_EQ(run({"settings"}).status, 0);
  auto size = fs::file_size(home / "Preferences/com.mirovast.zerivudor.plist");
  auto set = run({"settings", "set", "name_preference", std::string(4000, 'n')}, fileSizeLimit(size + 1000));
  EXPECT_EQ(set.status, 1) << set.err;
  EXPECT_NE(set.err.find("name_preference was not saved"), std::string::npos) << set.err;
  EXPECT_EQ(strayPreferenceFiles(), std::vector<std::string>{});
  auto values = storedValues();
  ASSERT_TRUE(values);
  EXPECT_NE(values->stringForKey("name_preference"), std::string(4000, 'n'));
}

TEST_F(ProgramTest, OutputThatCannotBeWrittenFailsTheCommand) {
  for (std::vector<std::string> arguments : {std::vector<std::string>{"help"}, {"settings"}}) {
    SCOPED_TRACE(arguments.front());
    auto outcome = run(arguments, Limits{std::nullopt, "/dev/full"});
    EXPECT_NE(outcome.status, 0);
    EXPECT_NE(outcome.err.find("the output could not be written"), std::string::npos) << outcome.err;
  }
}

// Started with its output closed, the program opens its own descriptors (the main loop's among
// them) elsewhere than 1, so what it prints fails as unwritable instead of going into one of them.
TEST_F(ProgramTest, AClosedOutputFailsTheCommandAndNothingIsWrittenIntoAnotherDescriptor) {
  Limits closed;
  closed.closedOutput = true;
  for (std::vector<std::string> arguments : {std::vector<std::string>{"help"}, {"settings"}}) {
    SCOPED_TRACE(arguments.front());
    auto outcome = run(arguments, closed);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("the output could not be written: Bad file descriptor"), std::string::npos)
        << outcome.err;
  }
  // A change is made and kept whole (no file of it took descriptor 1); only its report is lost.
  auto set = run({"settings", "set", "name_preference", "Ada"}, closed);
  EXPECT_EQ(set.status, 1) << set.err;
  auto values = storedValues();
  ASSERT_TRUE(values);
  EXPECT_EQ(values->stringForKey("name_preference"), "Ada");
}

TEST_F(ProgramTest, APaneThatCannotBeReadFailsTheCommand) {
  fs::path resources = temporary / "resources";
  fs::copy(fs::path(ZV_SOURCE_DIR) / "resources", resources, fs::copy_options::recursive);
  writeFile(resources / "Settings.bundle/Display.plist", "not a property list");
  const std::map<std::string, std::string> environment{{"ZV_RESOURCES", resources.string()}};

  auto show = run({"settings"}, environment);
  EXPECT_EQ(show.status, 1);
  EXPECT_NE(show.out.find("breath_type_preference"), std::string::npos) << show.out;  // the rest is shown
  EXPECT_NE(show.err.find("Display"), std::string::npos) << show.err;

  // A key of the unreadable pane is not an unknown key; one of a readable pane is still set.
  auto hidden = run({"settings", "set", "use_bgra_preference", "on"}, environment);
  EXPECT_EQ(hidden.status, 1) << hidden.err;
  EXPECT_EQ(hidden.err.find("no setting named"), std::string::npos) << hidden.err;
  auto shown = run({"settings", "set", "name_preference", "Frank"}, environment);
  EXPECT_EQ(shown.status, 0) << shown.err;
}

}  // namespace
}  // namespace zv::testing

// Every option a program's --help names is in its man page and in the bash completion, and
// every option that names a file or folder completes one: the pages cannot fall behind the
// programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/Subprocess.h"

namespace zandor {
namespace {

using namespace std::chrono_literals;

const std::string kSource = ZANDOR_SOURCE_DIR;
const std::string kBin = ZANDOR_BIN_DIR;

// The long options named in a text ("--name"), with a man page's "\-" read as "-".
std::set<std::string> OptionsIn(std::string text) {
  text = std::regex_replace(text, std::regex("\\\\-"), "-");
  std::set<std::string> options;
  const std::regex option("--[a-z][a-z0-9-]*[a-z0-9]");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it) {
    options.insert(it->str());
  }
  return options;
}

std::string HelpOf(const std::vector<std::string>& argv) {
  vel::testing::Subprocess run(argv);
  EXPECT_EQ(run.WaitFor(30s).value_or(-1), 0) << argv[0];
  return run.out;
}

void ExpectAllIn(const std::set<std::string>& named, const std::set<std::string>& page,
                 const std::string& pageName) {
  for (const std::string& option : named) {
    EXPECT_EQ(page.count(option), 1u) << pageName << " leaves out " << option;
  }
}

TEST(OptionPages, TheCommandLinesOptionsAreInItsManPageAndCompletion) {
  std::string help;
  for (const char* command :
       {"info", "test", "records", "memory", "check", "update", "devices", "report"}) {
    help += testing::Zandor({command, "--help"}).out;
  }
  // The help names the simulator's options where it points to them; those are not zandor's.
  const std::set<std::string> named =
      OptionsIn(std::regex_replace(help, std::regex("zandor-sim --[a-z-]+"), ""));
  ASSERT_GT(named.size(), 25u);
  ExpectAllIn(named, OptionsIn(vel::testing::ReadFile(kSource + "/resources/man/zandor.1")),
              "zandor.1");
  const std::string completion = vel::testing::ReadFile(kSource + "/resources/completion/zandor");
  ExpectAllIn(named, OptionsIn(completion), "the completion");
  // An option whose value is a file or a folder completes one.
  const std::regex takesPath("(--[a-z-]+) (FILE|DIR|REPORT|OUT)\\b");
  const std::string prevCases = completion.substr(completion.find("case $prev in"));
  for (auto it = std::sregex_iterator(help.begin(), help.end(), takesPath);
       it != std::sregex_iterator(); ++it) {
    const std::regex completes("[|( ]" + (*it)[1].str() + "[|)][^\n]*compgen -[fd]");
    EXPECT_TRUE(std::regex_search(prevCases, completes)) << (*it)[1] << " completes no path";
  }
}

TEST(OptionPages, TheSimulatorsAndTheDesktopsOptionsAreInTheirManPages) {
  ExpectAllIn(OptionsIn(HelpOf({kBin + "/zandor-sim", "--help"})),
              OptionsIn(vel::testing::ReadFile(kSource + "/resources/man/zandor-sim.1")),
              "zandor-sim.1");
  if (!std::filesystem::exists(kBin + "/zandorupdate")) return;  // built without the desktop
  ExpectAllIn(OptionsIn(HelpOf({kBin + "/zandorupdate", "--help"})),
              OptionsIn(vel::testing::ReadFile(kSource + "/resources/man/zandorupdate.1")),
              "zandorupdate.1");
}

TEST(OptionPages, TheProgramsAnswerHelpAndVersionWithoutADisplayAndRefuseWhatTheyDoNotKnow) {
  for (const std::string program : {"zandor", "zandor-sim", "zandorupdate"}) {
    if (!std::filesystem::exists(kBin + "/" + program)) continue;  // built without the desktop
    vel::testing::Subprocess version({kBin + "/" + program, "--version"});
    EXPECT_EQ(version.WaitFor(30s).value_or(-1), 0) << program;
    EXPECT_EQ(version.out.rfind("ZandorUpdate version ", 0), 0u) << program << ": " << version.out;
    vel::testing::Subprocess bogus({kBin + "/" + program, "--bogus", "--pty"});
    EXPECT_EQ(bogus.WaitFor(30s).value_or(-1), 2) << program;
    EXPECT_NE(bogus.err.find("--bogus"), std::string::npos) << program << ": " << bogus.err;
    EXPECT_NE(bogus.err.find("Try '" + program), std::string::npos) << bogus.err;
    EXPECT_LT(std::count(bogus.err.begin(), bogus.err.end(), '\n'), 3) << bogus.err;
  }
}

// The pages render as man-pages(7) lays them out: mandoc finds nothing worse than a style note
// (long source lines), and every section a reader looks for is there, in the usual order.
TEST(OptionPages, TheManPagesLintCleanAndHaveTheirSections) {
  for (const std::string page : {"zandor.1", "zandor-sim.1", "zandorupdate.1"}) {
    const std::string path = kSource + "/resources/man/" + page;
    vel::testing::Subprocess lint({"/usr/bin/mandoc", "-T", "lint", "-W", "warning", path});
    EXPECT_EQ(lint.WaitFor(30s).value_or(-1), 0) << page << ": " << lint.out << lint.err;
    EXPECT_EQ(lint.out + lint.err, "") << page;
    const std::string text = "\n" + vel::testing::ReadFile(path);
    std::size_t after = 0;
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS",
                                "ENVIRONMENT", "FILES", "EXAMPLES", "SEE ALSO"}) {
      const std::size_t at = text.find(std::string("\n.SH ") + section + "\n");
      EXPECT_NE(at, std::string::npos) << page << " has no " << section;
      EXPECT_TRUE(at == std::string::npos || at > after)
          << page << ": " << section << " out of order";
      if (at != std::string::npos) after = at;
    }
  }
}

TEST(OptionPages, TheSimulatorSaysWhatIsWrongWithAFileItIsGiven) {
  vel::testing::Subprocess missing({kBin + "/zandor-sim", "--pty", "--replay", "/no/such/record"});
  EXPECT_EQ(missing.WaitFor(30s).value_or(-1), 2);
  EXPECT_NE(missing.err.find("/no/such/record: No such file or directory"), std::string::npos)
      << missing.err;
  vel::testing::Subprocess folder({kBin + "/zandor-sim", "--pty", "--replay", "/"});
  EXPECT_EQ(folder.WaitFor(30s).value_or(-1), 2);
  EXPECT_NE(folder.err.find("/: not a regular file"), std::string::npos) << folder.err;
}

}  // namespace
}  // namespace zandor

#include "ReportCommand.h"

#include <optional>
#include <set>
#include <utility>

#include "Args.h"
#include "Printable.h"
#include "common/SameFile.h"
#include "devices/WalkReport.h"

namespace zandor {

namespace {

constexpr const char* kReportUsage =
    "usage: zandor report merge [--out FILE] SITE=REPORT... [--not-reached SITE=LISTING]...\n"
    "  The walk reports (--report, CSV or JSON) of several sites as one report whose first\n"
    "  column names each line's site, in the order given. FILE ending in .csv gets CSV,\n"
    "  any other JSON; without --out, CSV goes to standard output.\n"
    "  --not-reached SITE=LISTING  a site the roll-out stopped before: a line for each row of\n"
    "                              LISTING (zandor devices list --json), each not-reached\n";

int Usage(Streams io, const std::string& problem) {
  return ShowUsageError(io.err, Printable(problem, true), kReportUsage);
}

// SITE=REPORT: a site's name (not empty, printable) and its report's path.
bool SplitSite(const std::string& word, std::string* site, std::string* path) {
  const std::size_t equals = word.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == word.size()) return false;
  *site = word.substr(0, equals);
  *path = word.substr(equals + 1);
  return Printable(*site, true) == *site;
}

// The words of a merge: its sources in the order given, and where the merged report goes.
struct MergeWords {
  std::vector<std::pair<std::string, bool>> sources;  // SITE=PATH, and whether a listing
  std::optional<std::string> out;
  bool help = false;
};

std::optional<MergeWords> ParseMergeWords(const std::vector<std::string>& words,
                                          std::string* error) {
  MergeWords parsed;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help") {
      parsed.help = true;
    } else if (word == "--out" || word == "--not-reached") {
      if (i + 1 == words.size()) {
        *error = word + " needs a value";
        return std::nullopt;
      }
      if (word == "--out") {
        parsed.out = words[++i];
      } else {
        parsed.sources.emplace_back(words[++i], true);
      }
    } else if (word.rfind("--", 0) == 0) {
      *error = "unknown option " + word;
      return std::nullopt;
    } else {
      parsed.sources.emplace_back(word, false);
    }
  }
  return parsed;
}

}  // namespace

int ReportCommand(const std::vector<std::string>& words, Streams io) {
  if (words.empty() || (words[0] != "merge" && words[0] != "--help")) {
    return Usage(io, "report takes 'merge'");
  }
  std::string error;
  const auto args = ParseMergeWords({words.begin() + 1, words.end()}, &error);
  if (!args) return Usage(io, error);
  if (args->help || words[0] == "--help") {
    io.out << kReportUsage;
    return kExitOk;
  }
  if (args->sources.empty()) return Usage(io, "no SITE=REPORT given");

  std::vector<vel::SiteReport> sites;
  std::vector<vel::NamedPath> inputs;
  std::set<std::string> names;
  for (const auto& [word, listing] : args->sources) {
    std::string site, path;
    if (!SplitSite(word, &site, &path)) return Usage(io, "'" + word + "' is not SITE=REPORT");
    if (!names.insert(site).second) return Usage(io, "site " + site + " is given twice");
    auto lines = listing ? vel::NotReachedLinesOfFile(path) : vel::ReadReportFile(path);
    if (!lines) {
      io.err << "zandor: " << Printable(path, true) << ": " << lines.error() << "\n";
      return kExitFileError;
    }
    sites.push_back({site, std::move(*lines)});
    inputs.push_back({path, "the report of site " + site});
  }
  std::size_t lines = 0;
  for (const vel::SiteReport& site : sites) lines += site.lines.size();
  if (lines == 0) {  // a merge of nothing is never a report of a roll-out
    io.err << "zandor: the reports hold no line; nothing was written\n";
    return kExitNegative;
  }
  if (!args->out) {
    io.out << vel::MergedReportText(sites, true);
    return kExitOk;
  }
  const std::string& out = *args->out;
  if (const std::string clash = vel::OutputClash(inputs, {{out, "--out"}}); !clash.empty()) {
    io.err << "zandor: " << Printable(clash, true) << "; nothing was written\n";
    return kExitFileError;
  }
  if (const vel::Result written = vel::WriteMergedReport(out, sites); !written.ok()) {
    io.err << "zandor: cannot write the merged report " << Printable(out, true) << ": "
           << written.error() << "\n";
    return kExitFileError;
  }
  return kExitOk;
}

}  // namespace zandor

#include "ReportCommand.h"

#include <set>

#include "Args.h"
#include "Printable.h"
#include "common/SameFile.h"
#include "devices/WalkReport.h"

namespace zandor {

namespace {

constexpr const char* kReportUsage =
    "usage: zandor report merge [--out FILE] SITE=REPORT...\n"
    "  The walk reports (--report, CSV or JSON) of several sites as one report whose first\n"
    "  column names each line's site, in the order given. FILE ending in .csv gets CSV,\n"
    "  any other JSON; without --out, CSV goes to standard output.\n";

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

}  // namespace

int ReportCommand(const std::vector<std::string>& words, Streams io) {
  std::string error;
  const auto args = Args::Parse(words, {"out"}, {"help"}, &error);
  if (!args) return Usage(io, error);
  if (args->Has("help")) {
    io.out << kReportUsage;
    return kExitOk;
  }
  const std::vector<std::string>& positional = args->Positional();
  if (positional.empty() || positional[0] != "merge") return Usage(io, "report takes 'merge'");
  if (positional.size() < 2) return Usage(io, "no SITE=REPORT given");

  std::vector<vel::SiteReport> sites;
  std::vector<vel::NamedPath> inputs;
  std::set<std::string> names;
  for (std::size_t i = 1; i < positional.size(); ++i) {
    std::string site, path;
    if (!SplitSite(positional[i], &site, &path)) {
      return Usage(io, "'" + positional[i] + "' is not SITE=REPORT");
    }
    if (!names.insert(site).second) return Usage(io, "site " + site + " is given twice");
    auto lines = vel::ReadReportFile(path);
    if (!lines) {
      io.err << "zandor: " << Printable(path, true) << ": " << lines.error() << "\n";
      return kExitFileError;
    }
    sites.push_back({site, std::move(*lines)});
    inputs.push_back({path, "the report of site " + site});
  }
  if (!args->Has("out")) {
    io.out << vel::MergedReportText(sites, true);
    return kExitOk;
  }
  const std::string out = args->Value("out");
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

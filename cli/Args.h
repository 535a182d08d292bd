#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace zandor {

// Command-line words split into positional arguments and "--name value" / "--flag" options.
class Args {
 public:
  // `valued` names the options that take a value; every other "--x" is a flag. Unknown options
  // are an error.
  static std::optional<Args> Parse(const std::vector<std::string>& words,
                                   const std::set<std::string>& valued,
                                   const std::set<std::string>& flags, std::string* error);

  const std::vector<std::string>& Positional() const { return positional_; }
  bool Has(const std::string& name) const { return values_.count(name) > 0; }
  std::string Value(const std::string& name, const std::string& fallback = {}) const;

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
};

// A usage error: "zandor: PROBLEM" and where the help is ("Try 'zandor update --help'."), the
// command read from the first line of its usage text ("usage: zandor update ..."), both already
// printable. Returns the usage exit code.
int ShowUsageError(std::ostream& err, const std::string& problem, const std::string& usage);

// The parts of a comma-separated list, empty parts left out.
std::vector<std::string> SplitList(const std::string& text);

// Reads a whole decimal or 0x-prefixed number within [low, high].
std::optional<long long> ParseNumber(const std::string& text, long long low, long long high,
                                     int base = 0);

}  // namespace zandor

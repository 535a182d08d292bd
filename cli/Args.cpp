#include "Args.h"

#include <cerrno>
#include <cstdlib>

#include "Cli.h"

namespace zandor {

std::optional<Args> Args::Parse(const std::vector<std::string>& words,
                                const std::set<std::string>& valued,
                                const std::set<std::string>& flags, std::string* error) {
  Args args;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
      std::string name = word.substr(2);
      std::string value;
      const std::size_t eq = name.find('=');
      const bool inlineValue = eq != std::string::npos;
      if (inlineValue) {
        value = name.substr(eq + 1);
        name.resize(eq);
      }
      if (valued.count(name) > 0) {
        if (!inlineValue) {
          if (i + 1 >= words.size()) {
            *error = "option --" + name + " needs a value";
            return std::nullopt;
          }
          value = words[++i];
        }
      } else if (flags.count(name) == 0 || inlineValue) {
        *error = "unknown option " + word;
        return std::nullopt;
      }
      args.values_[name] = value;
    } else {
      args.positional_.push_back(word);
    }
  }
  return args;
}

std::string Args::Value(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string part =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!part.empty()) parts.push_back(part);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

std::optional<long long> ParseNumber(const std::string& text, long long low, long long high,
                                     int base) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, base);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

int ShowUsageError(std::ostream& err, const std::string& problem, const std::string& usage) {
  const std::string lead = "usage: zandor ";
  std::string command;
  if (usage.rfind(lead, 0) == 0) {
    const std::size_t end = usage.find_first_of(" \n", lead.size());
    command = usage.substr(lead.size(), end - lead.size());
  }
  const bool oneCommand = !command.empty() && command != "COMMAND";
  err << "zandor: " << problem << "\nTry 'zandor " << (oneCommand ? command + " " : "")
      << "--help'.\n";
  return kExitUsage;
}

}  // namespace zandor

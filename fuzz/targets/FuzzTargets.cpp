#include "FuzzTargets.h"

#include <cctype>
#include <cstdlib>

namespace zandor::fuzz {

const std::vector<FuzzTarget>& AllTargets() {
  static const std::vector<FuzzTarget> targets = {
      {"DeviceListFuzz", DeviceListTarget},
      {"LoaderFuzz", LoaderTarget},
      {"MetadataItemFuzz", MetadataItemTarget},
      {"DeviceReplyFuzz", DeviceReplyTarget},
      {"TransferReplyFuzz", TransferReplyTarget},
      {"TargetTextFuzz", TargetTextTarget},
      {"PortMapFuzz", PortMapTarget},
      {"JsonStringFuzz", JsonStringTarget},
      {"SessionRecordFuzz", SessionRecordTarget},
      {"SimStateFuzz", SimStateTarget},
      {"WalkReportFuzz", WalkReportTarget},
  };
  return targets;
}

std::string CorpusName(const std::string& targetName) {
  std::string stem = targetName.substr(0, targetName.rfind("Fuzz"));
  std::string out;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(stem[i]);
    if (std::isupper(c) && i > 0) out += '-';
    out += static_cast<char>(std::tolower(c));
  }
  return out;
}

void Require(bool invariant) {
  if (!invariant) std::abort();
}

}  // namespace zandor::fuzz

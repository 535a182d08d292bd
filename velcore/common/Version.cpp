#include "common/Version.h"

#include "common/Format.h"

namespace vel {

std::string VersionLine() {
  const ProgramVersion& v = kProgramVersion;
  return Format("ZandorUpdate version %d.%d.%d %s Build %d", v.major, v.minor, v.point, v.phaseText,
                v.build);
}

}  // namespace vel

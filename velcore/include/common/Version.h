#pragma once

#include <string>

namespace vel {

// The program's version, as the version file and the version line give it.
struct ProgramVersion {
  int major = 2;
  int minor = 4;
  int point = 5;
  int phase = 5;
  const char* phaseText = "GA";
  int build = 1;
};

constexpr ProgramVersion kProgramVersion{};

// "ZandorUpdate version 2.4.5 GA Build 1".
std::string VersionLine();

}  // namespace vel

// Writes the sample firmware files into a folder.
#include <iostream>
#include <string>

#include "SampleGen.h"
#include "common/AtomicFile.h"

constexpr const char* kUsage =
    "usage: zandor-samplegen OUTDIR\n"
    "  Writes the sample firmware files into the existing folder OUTDIR.\n";

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::cout << kUsage;
    return 0;
  }
  if (argc != 2 || first.starts_with("-")) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string dir = argv[1];
  for (const samplegen::Sample& sample : samplegen::StandardSamples()) {
    const std::string path = dir + "/" + sample.fileName;
    const vel::Result written =
        vel::WriteFileAtomically(path, samplegen::Generate(sample.images).text, 0644);
    if (!written) {
      std::cerr << "zandor-samplegen: cannot write " << path << ": " << written.error() << "\n";
      return 3;
    }
    std::cout << path << "\n";
  }
  return 0;
}

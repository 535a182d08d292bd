// Writes the sample firmware files into a folder.
#include <iostream>

#include "SampleGen.h"
#include "common/AtomicFile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: zandor-samplegen OUTDIR\n";
    return 2;
  }
  const std::string dir = argv[1];
  for (const samplegen::Sample& sample : samplegen::StandardSamples()) {
    const std::string path = dir + "/" + sample.fileName;
    std::string error;
    if (!vel::WriteFileAtomically(path, samplegen::Generate(sample.images).text, 0644, &error)) {
      std::cerr << "zandor-samplegen: cannot write " << path << ": " << error << "\n";
      return 3;
    }
    std::cout << path << "\n";
  }
  return 0;
}

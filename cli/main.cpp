#include <unistd.h>

#include <iostream>

#include "Cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> words(argv + 1, argv + argc);
  const int rc = zandor::RunZandor(words, {std::cout, std::cerr, isatty(STDERR_FILENO) == 1});
  std::cout.flush();
  return rc;
}

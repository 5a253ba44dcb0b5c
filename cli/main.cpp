#include <cstdio>
#include <cstring>

#include "core/version.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("vordak %s\n", vordak::kVersion);
    return 0;
  }
  std::fprintf(stderr, "usage: vordak --version\n");
  return 2;
}

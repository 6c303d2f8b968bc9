// make_test_stub OUT [--other]: writes the native tests' stand-in for the
// stub patcher, for the command-line tests of qtr_author; with --other a
// Windows GUI program that is not the stub (no patcher resources).
#include <cstdio>
#include <string>

#include "tests/unit/test_stub.h"
#include "tools/tree/file_tree.h"

int main(int argc, char** argv) {
  const bool other = argc == 3 && std::string(argv[2]) == "--other";
  if (argc != 2 && !other) {
    std::fprintf(stderr, "usage: make_test_stub OUT [--other]\n");
    return 2;
  }
  WriteFileAtomically(argv[1], other ? MinimalGuiImage() : FakeStubPatcher());
  return 0;
}

// A host program built against the installed qorv package.
#include <cstdio>
#include <cstring>

#include "qorv/qorv.h"

int main() {
  const ERClassRegistration* root = ERClassRegistration::findClassRegistration("ERObject");
  if (root == nullptr || qorvLibrary() == nullptr) {
    std::fprintf(stderr, "consumer: the library did not load its registry\n");
    return 1;
  }
  int classes = 0;
  for (const ERClassRegistration* r = ERClassRegistration::first(); r != nullptr; r = r->next())
    ++classes;
  std::printf("consumer: qorv %s, %d registered classes\n", qorvVersion(), classes);
  return 0;
}

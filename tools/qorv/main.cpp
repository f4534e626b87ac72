// The qorv command-line tool: looks inside the library and its database files.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "qorv/qorv.h"

namespace {

void usage(std::ostream& out) {
  out << "usage: qorv <command> [arguments]\n"
         "commands:\n"
         "  classes      print the class registry, each class with the tree of its bases\n"
         "  --version    print the library version\n"
         "  --help       print this text\n";
}

int printClasses() {
  std::vector<const ERClassRegistration*> all;
  for (const ERClassRegistration* r = ERClassRegistration::first(); r != nullptr; r = r->next())
    all.push_back(r);
  std::sort(all.begin(), all.end(), [](const ERClassRegistration* a, const ERClassRegistration* b) {
    return std::strcmp(a->getName(), b->getName()) < 0;
  });
  for (const ERClassRegistration* r : all) {
    std::cout << r->getName() << (r->creator() == nullptr ? " (abstract)" : "") << "\n"
              << r->drawBases(0);
  }
  std::cout << all.size() << " classes\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage(std::cerr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "--version" || command == "version") {
    std::cout << "qorv " << qorvVersion() << "\n";
    return 0;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    usage(std::cout);
    return 0;
  }
  if (command == "classes") return printClasses();
  std::cerr << "qorv: unknown command '" << command << "'\n";
  usage(std::cerr);
  return 2;
}

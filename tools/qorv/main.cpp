// The qorv command-line tool: looks inside the library and its database files.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "qorv/qorv.h"
#include "tools/qorv/commands.h"

namespace {

void usage(std::ostream& out) {
  out << "usage: qorv <command> [arguments]\n"
         "commands:\n"
         "  demo [FILE]          build a sample set of objects, store it in FILE\n"
         "                       (qorv-demo.qdb by default), reopen it and print it\n"
         "  db summary FILE      the database dump: classes and objects\n"
         "  db list FILE         identifier, class and record size of every object\n"
         "  db show FILE ID      the print form of one object\n"
         "  classes              the class registry, each class with the tree of its bases\n"
         "  --version            the library version\n"
         "  --help               this text\n";
}

}  // namespace

namespace qorv::tool {

int printClasses(std::ostream& out) {
  std::vector<const ERClassRegistration*> all;
  for (const ERClassRegistration* r = ERClassRegistration::first(); r != nullptr; r = r->next())
    all.push_back(r);
  std::sort(all.begin(), all.end(), [](const ERClassRegistration* a, const ERClassRegistration* b) {
    return std::strcmp(a->getName(), b->getName()) < 0;
  });
  for (const ERClassRegistration* r : all) {
    out << r->getName() << (r->creator() == nullptr ? " (abstract)" : "") << "\n"
        << r->drawBases(0);
  }
  out << all.size() << " classes\n";
  return 0;
}

}  // namespace qorv::tool

int main(int argc, char** argv) {
  using namespace qorv::tool;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    usage(std::cerr);
    return 2;
  }
  const std::string& command = args[0];
  if (command == "--version" || command == "version") {
    std::cout << "qorv " << qorvVersion() << "\n";
    return 0;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    usage(std::cout);
    return 0;
  }
  if (command == "classes" && args.size() == 1) return printClasses(std::cout);
  if (command == "demo" && args.size() <= 2)
    return demo(args.size() == 2 ? args[1].c_str() : "qorv-demo.qdb", std::cout);
  if (command == "db" && args.size() >= 3) {
    const std::string& what = args[1];
    const char* file = args[2].c_str();
    if (what == "summary" && args.size() == 3) return dbSummary(file, std::cout);
    if (what == "list" && args.size() == 3) return dbList(file, std::cout);
    if (what == "show" && args.size() == 4) return dbShow(file, args[3].c_str(), std::cout);
  }
  std::cerr << "qorv: bad command line\n";
  usage(std::cerr);
  return 2;
}

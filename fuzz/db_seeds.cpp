// Writes a small seed corpus of valid database files: usage db_seeds DIR.
#include <cstdio>
#include <string>

#include "qorv/qorv.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: db_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  int made = 0;
  // Every concrete class once, then a larger file of the same, so splits exist in the trees.
  for (int copies : {0, 1, 8}) {
    const std::string path = dir + "/seed_" + std::to_string(copies) + ".qdb";
    std::remove(path.c_str());
    ERDataBase db;
    if (db.Open(path.c_str(), 0) != gmSuccess) return 1;
    for (int c = 0; c < copies; ++c)
      for (auto* r = ERClassRegistration::first(); r != nullptr; r = r->next())
        if (r->creator() != nullptr) db.save(t_SmartPtr<ERObject>(r->creator()()));
    db.Close();
    ++made;
  }
  std::printf("db_seeds: %d files in %s\n", made, dir.c_str());
  return 0;
}

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
  // Database objects with every property type, colliding keys and references.
  {
    const std::string path = dir + "/seed_dbobjects.qdb";
    std::remove(path.c_str());
    ERDataBase db;
    if (db.Open(path.c_str(), 0) != gmSuccess) return 1;
    t_SmartPtr<ERObject> previous(new ERSegment2D(ERPoint2D(0, 0), ERPoint2D(1, 1)));
    for (int i = 0; i < 12; ++i) {
      t_SmartPtr<ERDBObject> o(new ERDBObject);
      o->name(("object " + std::to_string(i)).c_str());
      o->color(i);
      o->property(11 + 10 * i, 0.5 * i);
      o->property(256, static_cast<unsigned long>(4000000000u));
      if (i % 3 == 0) o->level_name("");
      if (i % 2 == 0) o->object(previous);
      db.save(o);
      previous = o;
    }
    db.Close();
    ++made;
  }
  std::printf("db_seeds: %d files in %s\n", made, dir.c_str());
  return 0;
}

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
  // A file and the whole journal of a commit whose writes all failed (file + mark + journal, as
  // db_fuzz splits them), and the same journal cut short.
  {
    const std::string path = dir + "/journal_pair.tmp";
    std::remove(path.c_str());
    {
      ERDataBase db;
      if (db.Open(path.c_str(), 0) != gmSuccess) return 1;
      for (int i = 0; i < 20; ++i) db.save(new ERSegment2D(ERPoint2D(i, 0), ERPoint2D(0, i)));
      db.Close();
    }
    ERFileManager::setIoHook(
        [](ERFileManager::IoEvent event, std::uint32_t, void*) {
          return event == ERFileManager::IoEvent::fileWrite ? ERFileManager::IoAction::fail
                                                            : ERFileManager::IoAction::proceed;
        },
        nullptr);
    {
      ERDataBase db;
      if (db.Open(path.c_str(), 0) == gmSuccess) {
        for (int i = 0; i < 200; ++i) db.save(new ERSegment2D(ERPoint2D(i, 1), ERPoint2D(1, i)));
        db.Close();
      }
    }
    ERFileManager::setIoHook(nullptr, nullptr);
    auto slurp = [](const std::string& p) {
      std::string bytes;
      if (FILE* f = std::fopen(p.c_str(), "rb")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
        std::fclose(f);
      }
      return bytes;
    };
    const std::string file = slurp(path), journal = slurp(path + "-journal");
    const char mark[8] = {'\0', 'q', 'o', 'r', 'v', 'J', '\0', '\0'};
    for (std::size_t keep : {journal.size(), journal.size() / 2}) {
      const std::string out = dir + "/seed_journal_" + std::to_string(keep) + ".qdb";
      if (FILE* f = std::fopen(out.c_str(), "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fwrite(mark, 1, sizeof mark, f);
        std::fwrite(journal.data(), 1, keep, f);
        std::fclose(f);
        ++made;
      }
    }
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());
  }
  std::printf("db_seeds: %d files in %s\n", made, dir.c_str());
  return 0;
}

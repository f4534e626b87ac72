// qorv db ... : looking inside database files.
#include "tools/qorv/commands.h"

#include <cstdio>
#include <iostream>
#include <sstream>

#include "platform/file.h"
#include "qorv/persistence/file_manager.h"
#include "qorv/persistence/object_database.h"

namespace qorv::tool {

namespace {

// Opens an existing database read-only; a one-line reason on failure.
bool openForReading(ERObjectDataBase& db, const char* path, std::string& why) {
  if (!ERFile::Exists(path)) {
    why = "no such file";
    return false;
  }
  try {
    if (!db.Open(path, 1)) {
      why = "not a qorv database, or a damaged one";
      return false;
    }
  } catch (CFileException* e) {
    why = e->describe();
    e->Delete();
    return false;
  }
  return true;
}

int fail(const char* path, const std::string& why) {
  std::cerr << "qorv: " << path << ": " << why << "\n";
  return 1;
}

// The payload size of the block holding a record, 0 when unreadable.
long recordSize(ERObjectDataBase& db, long offset) {
  ERFileManager* fm = db.fileManager();
  if (offset < 4 || offset > fm->endData()) return 0;
  const long position = fm->CurOffset();
  fm->SeekTo(offset - 4);
  std::uint32_t size = 0;
  const int ok = fm->Read(size);
  fm->SeekTo(position);
  return ok && size >= 4 ? static_cast<long>(size) - 4 : 0;
}

}  // namespace

int dbSummary(const char* path, std::ostream& out) {
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  std::string why;
  if (!openForReading(*db, path, why)) return fail(path, why);
  try {
    db->summarize(out);
    db->Close();
  } catch (CFileException* e) {
    why = e->describe();
    e->Delete();
    return fail(path, why);
  }
  return 0;
}

int dbList(const char* path, std::ostream& out) {
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  std::string why;
  if (!openForReading(*db, path, why)) return fail(path, why);
  try {
    out << "      id  class                           bytes\n";
    db->forEachObject([&](long id, long offset) {
      const std::uint32_t signature = db->signatureAt(offset);
      std::string name = db->classNameOf(signature);
      if (name.empty()) name = "(unknown signature " + std::to_string(signature) + ")";
      char line[160];
      std::snprintf(line, sizeof line, "%8ld  %-30s %6ld\n", id, name.c_str(),
                    recordSize(*db, offset));
      out << line;
    });
    db->Close();
  } catch (CFileException* e) {
    why = e->describe();
    e->Delete();
    return fail(path, why);
  }
  return 0;
}

int dbShow(const char* path, const char* idText, std::ostream& out) {
  char* end = nullptr;
  const long id = std::strtol(idText, &end, 10);
  if (end == idText || *end != '\0')
    return fail(path, std::string("bad identifier '") + idText + "'");
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  std::string why;
  if (!openForReading(*db, path, why)) return fail(path, why);
  try {
    t_SmartPtr<ERObject> object = db->RetrieveAndCreate(id);
    if (!object) {
      db->Close();
      return fail(path, "no object " + std::to_string(id) + " (or its class is unknown)");
    }
    out << object->className() << " " << id << "\n";
    object->printOn(out);
    out << "\n";
    object.reset();
    db->Close();
  } catch (CFileException* e) {
    why = e->describe();
    e->Delete();
    return fail(path, why);
  }
  return 0;
}

}  // namespace qorv::tool

// qorv db ... : looking inside database files, as text for people and JSON or CSV for scripts.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "qorv/persistence/database.h"
#include "qorv/persistence/db_object.h"
#include "qorv/persistence/file_manager.h"
#include "qorv/persistence/object_database.h"
#include "qorv/platform/file.h"
#include "tools/qorv/commands.h"
#include "qorv/measurement/target_points.h"
#include "tools/qorv/text.h"
#include "tools/qorv/describe.h"

using namespace qorv::platform;

namespace qorv::tool {

namespace {

using nlohmann::json;

}  // namespace

// Checked before the library opens a file, so that each kind of wrong path gets its own reason.
std::string whyNotADatabase(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return "no such file";
    if (errno == EACCES) return "permission denied";
    return std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "is a directory, not a database file";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (st.st_size == 0) return "empty file, not a qorv database";
  std::ifstream in(path, std::ios::binary);
  if (!in) return errno == EACCES ? "permission denied" : "cannot be read";
  // The block heap's header: start, endData, then the node size 268 that marks our files.
  unsigned char header[12] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  const std::uint32_t nodeSize =
      header[8] | header[9] << 8 | header[10] << 16 | static_cast<std::uint32_t>(header[11]) << 24;
  if (in.gcount() < 12 || nodeSize != 268) return "not a qorv database";
  return {};
}

namespace {

std::string describe(const CFileException& e) {
  std::string why;
  if (e.m_cause == CFileException::sharingViolation || e.m_cause == CFileException::lockViolation)
    why = "in use by another process (locked)";
  else
    why = e.describe();
  return why;
}

bool isLocked(const CFileException& e) {
  return e.m_cause == CFileException::sharingViolation ||
         e.m_cause == CFileException::lockViolation;
}

// Opens an existing database read-only; a one-line reason on failure (locked set when the file
// is held by a writer changing it).
bool openForReading(ERObjectDataBase& db, const std::string& path, std::string& why, bool& locked) {
  locked = false;
  why = whyNotADatabase(path);
  if (!why.empty()) return false;
  try {
    if (!db.Open(path.c_str(), 1)) {
      switch (db.refusal()) {
        case ERObjectDataBase::Refusal::journalDamaged:
          why =
              "a journal left beside it by a writer that died is damaged: both files kept "
              "(qorv db recover plays back what verifies)";
          break;
        case ERObjectDataBase::Refusal::journalUnreadable:
          why = "a journal left beside it by a writer that died cannot be read: both files kept";
          break;
        default:
          why = "damaged qorv database (qorv db check lists the damage), or one of a newer version";
      }
      return false;
    }
  } catch (CFileException& e) {
    locked = isLocked(e);
    why = describe(e);
    return false;
  }
  return true;
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

struct Entry {
  long id;
  long offset;
  std::uint32_t signature;
  std::string className;
  long size;
};

// Every stored object in identifier order (the tree orders the identifiers' raw bytes).
std::vector<Entry> entries(ERObjectDataBase& db) {
  std::vector<Entry> all;
  db.forEachObject([&](long id, long offset) { all.push_back({id, offset, 0, {}, 0}); });
  std::sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) { return a.id < b.id; });
  for (Entry& e : all) {
    e.signature = db.signatureAt(e.offset);
    e.className = db.classNameOf(e.signature);
    if (e.className.empty())
      e.className = "(unknown signature " + std::to_string(e.signature) + ")";
    e.size = recordSize(db, e.offset);
  }
  return all;
}

// A CSV field: quoted when it holds a separator, a quote or a line end.
std::string csv(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// Runs body on the open database, turning a file exception into the one-line failure.
template <class Body>
int withDatabase(const std::string& path, Body body) {
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  std::string why;
  bool locked = false;
  if (!openForReading(*db, path, why, locked))
    return locked ? (fail(path, why), 3) : fail(path, why);
  try {
    const int status = body(*db);
    db->Close();
    return status;
  } catch (CFileException& e) {
    fail(path, describe(e));
    return isLocked(e) ? 3 : 1;
  }
}

// Re-creates one object; the auxiliary index, registered without a creator, is read into an
// index of its own so that it shows like every other record.
t_SmartPtr<ERObject> load(ERObjectDataBase& db, long id, const std::string& className) {
  if (t_SmartPtr<ERObject> object = db.RetrieveAndCreate(id)) return object;
  if (className != ERAuxilaryIndex::desc()->getName()) return {};
  t_SmartPtr<ERAuxilaryIndex> index(new ERAuxilaryIndex);
  if (!db.Retrieve(id, *index)) return {};
  index->init(*db.fileManager());
  return t_SmartPtr<ERObject>(index.get());
}

// The named keys of database objects.
const char* propertyName(long key) {
  switch (key) {
    case ERDBObject::kColor:
      return "color";
    case ERDBObject::kLevel:
      return "level";
    case ERDBObject::kName:
      return "name";
    case ERDBObject::kColorRgb:
      return "color_rgb";
    case ERDBObject::kLevelName:
      return "level_name";
    case ERDBObject::kFaults:
      return "faults";
    default:
      return nullptr;
  }
}

// A database object prints nothing of its own: its properties and reference stand for it.
void printProperties(const ERDBObject& d, std::ostream& text) {
  static const char* const types[] = {"undefined", "long", "double", "String", "unsigned long"};
  text << "properties: " << d.properties().entries();
  d.properties().forEach([&](long key, const ERDBObjProperty& p) {
    text << "\n  " << key;
    if (const char* name = propertyName(key)) text << " " << name;
    text << " = ";
    switch (p.getType()) {
      case ERDBObjProperty::STRING:
        text << "'" << static_cast<const char*>(p) << "'";
        break;
      case ERDBObjProperty::DOUBLE: {
        char digits[32];
        const auto r = std::to_chars(digits, digits + sizeof digits, static_cast<double>(p));
        text << std::string_view(digits, static_cast<std::size_t>(r.ptr - digits));
        break;
      }
      case ERDBObjProperty::ULONG:
        text << static_cast<unsigned long>(p);
        break;
      case ERDBObjProperty::LONG:
        text << static_cast<long>(p);
        break;
      default:
        text << "-";
        break;
    }
    text << " (" << types[p.getType()] << ")";
  });
  text << "\nreferences: ";
  if (const ERObject* r = d.object().get())
    text << "#" << r->getObjectID() << " " << r->className();
  else
    text << "none";
}

std::string printForm(const ERObject& object) {
  std::ostringstream text;
  object.printOn(text);
  if (const ERDBObject* d = ERDBObject::castdown(&object)) printProperties(*d, text);
  return text.str();
}

}  // namespace

int fail(const std::string& path, const std::string& why) {
  std::cerr << "qorv: " << path << ": " << why << "\n";
  return 1;
}

int dbSummary(const std::string& path, Format format, Output& out) {
  return withDatabase(path, [&](ERObjectDataBase& db) {
    if (format == Format::text) {
      db.summarize(out.stream());
      return 0;
    }
    const std::vector<Entry> all = entries(db);
    if (format == Format::csv) {
      std::ostream& o = out.utf8();
      o << "id,class,size,signature,offset\n";
      for (const Entry& e : all)
        o << e.id << "," << csv(latin1ToUtf8(e.className)) << "," << e.size << "," << e.signature
          << "," << e.offset << "\n";
      return 0;
    }
    json classes = json::array();
    std::vector<std::uint32_t> signatures;
    for (const Entry& e : all) signatures.push_back(e.signature);
    std::sort(signatures.begin(), signatures.end());
    signatures.erase(std::unique(signatures.begin(), signatures.end()), signatures.end());
    for (std::uint32_t s : signatures)
      classes.push_back({{"signature", s}, {"class", latin1ToUtf8(db.classNameOf(s))}});
    json objects = json::array();
    for (const Entry& e : all)
      objects.push_back({{"id", e.id},
                         {"class", latin1ToUtf8(e.className)},
                         {"size", e.size},
                         {"signature", e.signature},
                         {"offset", e.offset}});
    json doc = {{"file", latin1ToUtf8(path)},
                {"version", db.get_db_version()},
                {"objects_stored", db.getNbObj()},
                {"classes", classes},
                {"objects", objects}};
    out.utf8() << doc.dump(2) << "\n";
    return 0;
  });
}

int dbList(const std::string& path, Format format, Output& out) {
  return withDatabase(path, [&](ERObjectDataBase& db) {
    const std::vector<Entry> all = entries(db);
    if (format == Format::json) {
      json list = json::array();
      for (const Entry& e : all)
        list.push_back({{"id", e.id}, {"class", latin1ToUtf8(e.className)}, {"size", e.size}});
      out.utf8() << list.dump(2) << "\n";
    } else if (format == Format::csv) {
      out.utf8() << "id,class,size\n";
      for (const Entry& e : all)
        out.utf8() << e.id << "," << csv(latin1ToUtf8(e.className)) << "," << e.size << "\n";
    } else {
      out.stream() << "      id  class                           bytes\n";
      for (const Entry& e : all) {
        char line[200];
        std::snprintf(line, sizeof line, "%8ld  %-30s %6ld\n", e.id, e.className.c_str(), e.size);
        out.stream() << line;
      }
    }
    return 0;
  });
}

int dbShow(const std::string& path, const std::string& idText, Format format, Output& out) {
  char* end = nullptr;
  errno = 0;
  const long long id = std::strtoll(idText.c_str(), &end, 10);
  if (idText.empty() || end == idText.c_str() || *end != '\0' || errno == ERANGE || id < 1 ||
      id > 2147483647)
    return fail(path, "bad identifier '" + idText + "' (identifiers run from 1 to 2147483647)");
  return withDatabase(path, [&](ERObjectDataBase& db) {
    std::string className;
    long size = 0;
    for (const Entry& e : entries(db))
      if (e.id == id) {
        className = e.className;
        size = e.size;
      }
    if (className.empty()) return fail(path, "no object " + idText);
    t_SmartPtr<ERObject> object = load(db, static_cast<long>(id), className);
    if (!object)
      return fail(path, "object " + idText + " of class " + className +
                            " cannot be re-created (unknown class or damaged record)");
    const std::string text = printForm(*object);
    json values = describeValues(*object);
    // A result point: the record that names its point and feature refers to it.
    std::string point, feature;
    if (gmTargetPoint::castdown(*object) != nullptr)
      for (const Entry& e : entries(db)) {
        if (e.className != ERDBObject::desc()->getName()) continue;
        const t_SmartPtr<ERObject> record = load(db, e.id, e.className);
        const ERDBObject* d = record ? ERDBObject::castdown(*record) : nullptr;
        if (d == nullptr || !d->object() || d->object()->getObjectID() != id) continue;
        auto text = [&](long key) {
          const ERDBObjProperty* p = d->findProperty(key);
          return utf8OrLatin1(p ? static_cast<const char*>(*p) : "");
        };
        point = text(3);
        feature = text(5);
        values["point"] = point;
        values["feature"] = feature;
        values["record"] = e.id;
        break;
      }
    if (format == Format::text) {
      out.stream() << className << " " << id << "\n" << text << "\n";
      if (values.contains("record")) out.utf8() << "point " << point << ", feature " << feature << "\n";
      return 0;
    }
    json doc = {{"id", id},
                {"class", latin1ToUtf8(className)},
                {"size", size},
                {"values", values},
                {"text", latin1ToUtf8(text)}};
    if (format == Format::json) {
      out.utf8() << doc.dump(2) << "\n";
      return 0;
    }
    // CSV: one header row and one value row; nested values flattened to dotted names.
    const json flat = doc.flatten();
    std::string header, row;
    for (const auto& [pointer, value] : flat.items()) {
      std::string name = pointer.substr(1);
      std::replace(name.begin(), name.end(), '/', '.');
      header += (header.empty() ? "" : ",") + csv(name);
      row += (row.empty() ? "" : ",") +
             csv(value.is_string() ? value.get<std::string>() : value.dump());
    }
    out.utf8() << header << "\n" << row << "\n";
    return 0;
  });
}

int dbPrintAll(const std::string& path, Output& out) {
  return withDatabase(path, [&](ERObjectDataBase& db) {
    for (const Entry& e : entries(db)) {
      t_SmartPtr<ERObject> object = load(db, e.id, e.className);
      out.stream() << "#" << e.id << " " << e.className << "\n";
      if (object)
        out.stream() << printForm(*object) << "\n";
      else
        out.stream() << "(cannot be re-created)\n";
    }
    return 0;
  });
}

int dbCheck(const std::string& path, Output& out) {
  // A path that is no database at all fails like every other command; a damaged database is
  // what the check is for, so it is listed, not refused.
  if (std::string why = whyNotADatabase(path); !why.empty()) return fail(path, why);
  const std::vector<std::string> problems = ERObjectDataBase::check(path.c_str());
  for (const std::string& line : problems) out.stream() << path << ": " << line << "\n";
  if (problems.empty()) out.stream() << path << ": ok\n";
  if (problems.size() == 1 && problems.front() == ERObjectDataBase::kLocked) return 3;
  return problems.empty() ? 0 : 1;
}

int dbRecover(const std::string& path, Output& out) {
  if (std::string why = whyNotADatabase(path); !why.empty()) return fail(path, why);
  ERJournalRecovery r;
  try {
    r = ERFileManager::recoverJournal(path.c_str());
  } catch (CFileException& e) {
    fail(path, isLocked(e) ? "locked: another process has it open" : e.describe());
    return isLocked(e) ? 3 : 1;
  }
  std::ostream& o = out.stream();
  switch (r.kind) {
    case ERJournalRecovery::absent:
      o << path << ": no journal to recover\n";
      break;
    case ERJournalRecovery::unstarted:
      o << path << ": the journal was never finished (the file was not touched): removed\n";
      break;
    case ERJournalRecovery::whole:
      o << path << ": the journal was whole: " << r.playedBack << " pages played back, removed\n";
      break;
    default: {
      o << path << ": damaged journal" << (r.headerSound ? "" : " (its header does not check out)")
        << ": " << r.playedBack << " of " << r.records << " pages played back";
      if (!r.unverified.empty()) {
        o << "; records that do not verify:";
        for (std::size_t i = 0; i < r.unverified.size() && i < 20; ++i) o << " " << r.unverified[i];
        if (r.unverified.size() > 20) o << " ... (" << r.unverified.size() << ")";
      }
      if (r.missing > 0) o << "; " << r.missing << " records missing (the journal is cut short)";
      o << "\n" << path << ": journal kept as " << r.keptAs << "\n";
    }
  }
  return dbCheck(path, out);
}

}  // namespace qorv::tool

// Opens a mutated database file and walks it as a reader does: the summary, then every listed
// object re-created and printed. Then as a writer: a refused file must be left byte for byte as it
// was; an accepted one takes a store and a delete, closes, and must open again with every object
// that read back before still reading back the same. Any crash, hang, out-of-bounds access or
// broken promise is a finding.
//
// An input holding kJournalMark is a file and its journal (before and after the mark): a reader
// changes neither, a refused opening changes neither, and only an accepted writer may remove the
// journal.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "qorv/platform/archive.h"
#include "qorv/qorv.h"

using namespace qorv::platform;

namespace {

std::string scratchPath() {
  const char* dir = std::getenv("QORV_FUZZ_TMP");
  return std::string(dir ? dir : "/tmp") + "/qorv_db_fuzz_" + std::to_string(::getpid()) + ".qdb";
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Splits a file + journal input; the journal is absent without the mark.
constexpr char kJournalMark[8] = {'\0', 'q', 'o', 'r', 'v', 'J', '\0', '\0'};

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "db_fuzz: %s\n", what);
  __builtin_trap();
}

std::string text(const ERObject& o) {
  std::ostringstream s;
  o.printOn(s);
  // Database objects print nothing: their properties and reference stand for them.
  if (const ERDBObject* d = ERDBObject::castdown(&o)) {
    d->properties().forEach(
        [&](long key, const ERDBObjProperty& p) { s << key << ':' << p << ';'; });
  }
  return s.str();
}

// The identifier a database object references, -1 for none: deleting that object changes what
// the referencing one reads back (no reference), as documented.
long referenced(const ERObject& o) {
  const ERDBObject* d = ERDBObject::castdown(&o);
  return d != nullptr && d->object() ? d->object()->getObjectID() : -1;
}

// The same bytes as an identifier archive of some version: loading either completes or throws
// and leaves the identifier as it was.
void loadIdentifier(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  CADObjectID::set_deserializing_version(1 + data[0] % 6);
  CArchive ar(data + 1, size - 1);
  CADObjectID id(1, 2);
  try {
    id.serialize(ar);
    (void)id.as_string(2);
    (void)id.container_hash();
  } catch (CException& e) {
    if (id.as_string(2) != "H1S2") finding("a failed identifier load changed the identifier");
  }
  CADObjectID::restore_deserializing_version();
  // And as an archive of objects with their class (probe points under any of their names).
  CArchive objects(data, size);
  try {
    delete objects.ReadObject(nullptr);
  } catch (CException& e) {
  }
}

// The first registered class that can be made: what the writer stores.
ERObject* anyObject() {
  for (auto* r = ERClassRegistration::first(); r != nullptr; r = r->next())
    if (r->creator() != nullptr) return r->creator()();
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = scratchPath();
  static const std::string journalPath = path + "-journal";
  loadIdentifier(data, size);
  std::remove(journalPath.c_str());
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t mark = input.find(std::string(kJournalMark, sizeof kJournalMark));
  const bool withJournal = mark != std::string::npos;
  const std::string original = withJournal ? input.substr(0, mark) : input;
  const std::string journal =
      withJournal ? input.substr(mark + sizeof kJournalMark) : std::string();
  for (const auto& [name, bytes] : {std::pair{path, original}, std::pair{journalPath, journal}}) {
    if (name == journalPath && !withJournal) continue;
    FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) return 0;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  auto journalAsItWas = [&] {
    return withJournal
               ? fileBytes(journalPath) == journal && ::access(journalPath.c_str(), F_OK) == 0
               : ::access(journalPath.c_str(), F_OK) != 0;
  };
  std::map<long, std::pair<std::string, long>> readable;
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  try {
    if (db->Open(path.c_str(), 1)) {
      std::ostringstream dump;
      db->summarize(dump);
      std::vector<long> ids;
      db->forEachObject([&](long id, long) { ids.push_back(id); });
      for (long id : ids) {
        t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
        if (o) readable[id] = {text(*o), referenced(*o)};
      }
      // The table of record offsets answers for every identifier as the tree's entries do.
      std::set<long> listed(ids.begin(), ids.end());
      for (long id = -1; id < 300; ++id)
        if (db->holds(id) != (listed.count(id) > 0))
          finding("the lookup table and the tree differ");
      for (long id : ids)
        if (!db->holds(id)) finding("the lookup table misses an identifier of the tree");
      db->check();
      db->Close();
    }
  } catch (CFileException& e) {
  }
  // The facade's opening path reads the auxiliary index as well.
  {
    ERDataBase facade;
    if (facade.Open(path.c_str(), 1) == gmSuccess) {
      for (int entity = 0; entity < facade.getNbEnt() && entity < 64; ++entity) {
        gmErrorCode code;
        t_SmartPtr<ERObject> o = facade.restore(entity, code);
      }
      facade.Close();
    }
  }
  if (fileBytes(path) != original) finding("a reader changed the file");
  if (!journalAsItWas()) finding("a reader changed the journal");

  // As a writer.
  db->setSynchronous(ERObjectDataBase::Synchronous::off);
  bool opened = false;
  try {
    opened = db->Open(path.c_str(), 0) != 0;
  } catch (CFileException& e) {
  }
  if (!opened) {
    if (fileBytes(path) != original) finding("a refused opening changed the file");
    // A journal the writer found unfinished (the file never touched) or played back onto the
    // file is dropped before the file's own checks refuse it: the journal held nothing the
    // file lacks, so only a journal altered, or one dropped while the file changed, is a loss.
    const bool dropped = withJournal && ::access(journalPath.c_str(), F_OK) != 0;
    if (!journalAsItWas() && !dropped) finding("a refused opening changed the journal");
    return 0;
  }
  if (withJournal && ::access(journalPath.c_str(), F_OK) == 0)
    finding("an accepted writer left the journal beside the file");
  if (db->created()) return 0;
  long deleted = -1;
  try {
    t_SmartPtr<ERObject> fresh(anyObject());
    if (fresh) db->Store(*fresh);
    if (!readable.empty()) {
      deleted = readable.begin()->first;
      db->Delete(deleted);
    }
  } catch (CFileException& e) {
  }
  try {
    db->Close();
  } catch (CFileException& e) {
  }
  try {
    if (!db->Open(path.c_str(), 0))
      finding("an accepted file was refused after a store and a delete");
    for (const auto& [id, before] : readable) {
      if (id == deleted) continue;
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      if (!o || text(*o) != before.first) finding("an object changed under a store and a delete");
      const long ref = referenced(*o);
      if (ref != before.second && !(before.second == deleted && ref == -1))
        finding("a reference changed under a store and a delete");
    }
    db->Close();
  } catch (CFileException& e) {
  }
  return 0;
}

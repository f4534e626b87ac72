// Opens a mutated database file and walks it as a reader does: the summary, then every listed
// object re-created and printed. Any crash, hang or out-of-bounds access is a finding.
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "qorv/qorv.h"

using namespace qorv::platform;

namespace {

std::string scratchPath() {
  const char* dir = std::getenv("QORV_FUZZ_TMP");
  return std::string(dir ? dir : "/tmp") + "/qorv_db_fuzz_" + std::to_string(::getpid()) + ".qdb";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = scratchPath();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  try {
    if (db->Open(path.c_str(), 1)) {
      std::ostringstream text;
      db->summarize(text);
      std::vector<long> ids;
      db->forEachObject([&](long id, long) { ids.push_back(id); });
      for (long id : ids) {
        t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
        if (o) o->printOn(text);
      }
      db->Close();
    }
  } catch (CFileException* e) {
    e->Delete();
  }
  // The facade's opening path reads the auxiliary index as well.
  ERDataBase facade;
  if (facade.Open(path.c_str(), 1) == gmSuccess) {
    for (int entity = 0; entity < facade.getNbEnt() && entity < 64; ++entity) {
      gmErrorCode code;
      t_SmartPtr<ERObject> o = facade.restore(entity, code);
    }
    facade.Close();
  }
  return 0;
}

// qorv demo: the typical request end to end. A sample set is built, stored, the file closed and
// every object re-created from its identifier alone.
#include <cstdio>
#include <iostream>

#include "platform/file.h"
#include "qorv/qorv.h"
#include "tools/qorv/commands.h"

namespace qorv::tool {

namespace {

// The sample set: one object of every kind a host stores.
std::vector<t_SmartPtr<ERObject>> sampleSet() {
  std::vector<t_SmartPtr<ERObject>> set;
  // Frames and transformations: a probe frame, a scaled placement, a plane rotation.
  set.emplace_back(new ERPmIsometrie3D(
      ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 0, 1), ERPoint3D(100, 20, 5))));
  set.emplace_back(new ERPmSimilitude3D(_ERScaling3D(2.5)));
  set.emplace_back(new ERTransfo2D(rotation(ERRadian(0.5))));
  set.emplace_back(new ERTransfo2D(2.0, ERPoint2D(1, 1)));
  return set;
}

}  // namespace

int demo(const char* path, std::ostream& out) {
  std::remove(path);
  try {
    ERDataBase db;
    if (gmErrorCode code = db.Open(path, 0); code != gmSuccess) {
      std::cerr << "qorv: " << path << ": cannot create the database (code " << code << ")\n";
      return 1;
    }
    for (const auto& object : sampleSet()) db.save(object);
    const int saved = db.getNbEnt();
    db.Close();
    out << "stored " << saved << " objects in " << path << "\n\n";
  } catch (CFileException* e) {
    std::cerr << "qorv: " << path << ": " << e->describe() << "\n";
    e->Delete();
    return 1;
  }
  if (int status = dbSummary(path, out); status != 0) return status;
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  if (!db->Open(path, 1)) {
    std::cerr << "qorv: " << path << ": cannot reopen the database\n";
    return 1;
  }
  out << "\n";
  std::vector<long> ids;
  db->forEachObject([&](long id, long) { ids.push_back(id); });
  for (long id : ids) {
    t_SmartPtr<ERObject> object = db->RetrieveAndCreate(id);
    if (!object) continue;
    out << "#" << id << " " << object->className() << "\n";
    object->printOn(out);
    out << "\n";
  }
  db->Close();
  return 0;
}

}  // namespace qorv::tool

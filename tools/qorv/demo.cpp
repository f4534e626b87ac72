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
  // Straight curves: a measured edge, a datum line, a probe path leg and a 3D axis.
  set.emplace_back(new ERSegment2D(ERPoint2D(0, 0), ERPoint2D(120.5, 40.25)));
  set.emplace_back(new ERInfLine2D(0.0, 1.0, -5.0));
  set.emplace_back(new ERSegment3D(ERPoint3D(10, 0, 2), ERPoint3D(10, 50, 2)));
  set.emplace_back(new ERInfLine3D(ERVector3D(0, 0, 1), ERPoint3D(25, 25, 0)));
  // Conics: a bore, an arc of a fillet, an elliptic hole, and their placed forms.
  set.emplace_back(new ERCircle2D(ERPoint2D(30, 15), 6.35));
  set.emplace_back(new ERArc2D(ERPoint2D(0, 0), 5.0, 0.0, 1.5707963267948966));
  set.emplace_back(new EREllipse2D(8.0, 5.0, 0.25, ERPoint2D(60, 10)));
  set.emplace_back(new ERArcEllipse2D(8.0, 5.0, 0.0, ERPoint2D(), 0.5, 2.5));
  set.emplace_back(new ERCircle3D(ERPoint3D(10, 20, 30), ERVector3D(0, 1, 1), 12.5));
  set.emplace_back(new ERArc3D(ERPoint3D(0, 0, 5), ERVector3D(0, 0, 1), 3.0, -0.5, 2.0));
  set.emplace_back(new EREllipse3D(ERChgRepere3D(ERVector3D(1, 0, 0), ERPoint3D(5, 0, 0)),
                                   EREllipse2D(4.0, 3.0, 0.0, ERPoint2D())));
  set.emplace_back(new ERArcEllipse3D(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D()),
                                      EREllipse2D(4.0, 3.0, 1.0, ERPoint2D(1, 1)), 0.0, 3.0));
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

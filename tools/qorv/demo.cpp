// qorv demo: the typical request end to end. A sample set is built, stored, the file closed and
// every object re-created from its identifier alone.
//
// The demo never deletes or replaces what is not its own: an existing path is refused unless
// --force, and even then only a regular file holding a qorv database that no other process has
// open. The database is built in a temporary file beside the target and renamed into place, so
// an interrupted run leaves either the old file or the new one, never half of one.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "qorv/platform/file.h"
#include "qorv/qorv.h"
#include "tools/qorv/commands.h"
#include "tools/qorv/safe_replace.h"

using namespace qorv::platform;

using namespace qorv;

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
  // Outlines: a measured profile as a polyline, the plate's shapes, and a composite contour (a
  // straight edge running into a fillet).
  {
    QuickAlgebra::ERVec<ERPoint2D> profile;
    for (int i = 0; i <= 6; ++i) profile.append(ERPoint2D(10.0 * i, 0.2 * i * i));
    set.emplace_back(new ERPolyline2D(profile));
  }
  set.emplace_back(new ERRectangle2D(ERPoint2D(50, 30), ERVector2D(1, 0), 100, 60));
  set.emplace_back(new ERRegularPolygon2D(ERPoint2D(80, 45), ERVector2D(1, 0), 6, 6));
  set.emplace_back(new ERRoundedSlot2D(ERPoint2D(20, 10), ERPoint2D(40, 10), 4));
  {
    auto* contour = new ERCompCurve2D;
    contour->append(ERSegment2D(ERPoint2D(0, 0), ERPoint2D(50, 0)), 1e-9);
    contour->append(ERArc2D(ERPoint2D(50, 5), 5.0, -1.5707963267948966, 0.0), 1e-9);
    set.emplace_back(contour);
  }
  // Inspection results: a surface point probed on a plane face (compensated along the face's
  // normal), a hole position taken as measured, and a gap and flush across a panel joint.
  const ERCMMPointWithDiameter probed(ERPoint3D(40.0, 12.5, 3.02), ERVector3D(0, 0, 5), 2.0, 1);
  set.emplace_back(new gmTargetPoint(ERPoint3D(40.0, 12.5, 2.0), probed, ERVector3D(0, 0, 1)));
  const ERCMMPointWithDiameter hole(ERPoint3D(30.01, 14.98, 0.0), ERVector3D(0, 0, 5), 2.0, 2);
  set.emplace_back(new gmTargetPoint(ERPoint3D(30, 15, 0), hole));
  set.emplace_back(new gmGapAndFlush(ERPoint3D(120, 0, 10), ERVector3D(1, 0, 0),
                                     ERVector3D(0, 0, 1), 3.52, -0.18));
  // Named features: database objects carrying a name, colour and level, each referencing the
  // curve it names (stored once, shared with the set above).
  const struct {
    int curve;
    const char* name;
    int color;
    const char* level;
  } features[] = {{0, "datum edge A", 1, "datums"}, {2, "probe path leg 1", 3, "paths"}};
  for (const auto& f : features) {
    t_SmartPtr<ERDBObject> named(new ERDBObject);
    named->name(f.name);
    named->color(f.color);
    named->level_name(f.level);
    named->property(100, 0.05);  // the feature's tolerance
    named->object(set[static_cast<std::size_t>(f.curve)]);
    set.emplace_back(named);
  }
  return set;
}

// Removes a temporary database and the journal a crash could have left beside it.
void removeTemporary(const std::string& path) {
  std::remove(path.c_str());
  std::remove((path + "-journal").c_str());
}

// Why path must not be replaced; empty when it may be.
std::string whyNotReplaceable(const std::string& path, bool force,
                              std::unique_ptr<ERFileLock>& lock) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return std::strerror(errno);
  }
  if (!force) return "already exists (use --force to replace a qorv database)";
  if (!S_ISREG(st.st_mode)) return "exists and is not a regular file: not replaced";
  if (std::string why = whyNotADatabase(path); !why.empty()) return why + ": not replaced";
  // Its journal would be played back onto the new file.
  if (::lstat((path + "-journal").c_str(), &st) == 0)
    return "a writer that died left a journal beside it (qorv db recover): not replaced";
  // Readers come in beside a writer: only the locks tell whether another process holds it.
  lock = std::make_unique<ERFileLock>(path.c_str());
  if (!lock->held()) return "in use by another process: not replaced";
  return {};
}

// Builds the sample database at temp; the number of sample objects, -1 after a failure.
int buildSample(const std::string& temp, const std::string& path) {
  try {
    ERDataBase db;
    if (gmErrorCode code = db.Open(temp.c_str(), 0); code != gmSuccess) {
      fail(path, "cannot create the database (error code " + std::to_string(code) + ")");
      return -1;
    }
    int saved = 0;
    for (const auto& object : sampleSet()) {
      if (db.save(object) != gmSuccess) {
        fail(path, std::string("cannot store a ") + object->className());
        db.Close();
        return -1;
      }
      ++saved;
    }
    db.Close();
    return saved;
  } catch (CFileException& e) {
    fail(path, e.describe());
    return -1;
  }
}

}  // namespace

int demo(const std::string& path, bool force, Output& out) {
  std::unique_ptr<ERFileLock> lock;  // held until the new file is in place
  if (std::string why = whyNotReplaceable(path, force, lock); !why.empty()) return fail(path, why);
  const std::string temp = temporaryBeside(path);
  const int saved = buildSample(temp, path);
  if (saved < 0) {
    removeTemporary(temp);
    return 1;
  }
  // Without --force a hard link installs the file only if nothing appeared at path meanwhile.
  int installed =
      force ? std::rename(temp.c_str(), path.c_str()) : ::link(temp.c_str(), path.c_str());
  if (installed != 0 && !force && errno != EEXIST)
    installed = ::access(path.c_str(), F_OK) != 0 ? std::rename(temp.c_str(), path.c_str()) : -1;
  const int error = errno;
  if (installed != 0) {
    removeTemporary(temp);
    return fail(path, error == EEXIST ? "already exists (use --force to replace a qorv database)"
                                      : std::string("cannot be written: ") + std::strerror(error));
  }
  if (!force) std::remove(temp.c_str());
  lock.reset();
  // A composite curve stores its elements as records of their own: count what the file holds.
  long records = 0;
  {
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    if (db->Open(path.c_str(), 1)) {
      db->forEachObject([&](long, long) { ++records; });
      db->Close();
    }
  }
  out.stream() << "stored " << saved << " sample objects and the auxiliary index: " << records
               << " records with the elements they hold, in " << path << "\n\n";
  if (int status = dbSummary(path, Format::text, out); status != 0) return status;
  out.stream() << "\n";
  return dbPrintAll(path, out);
}

}  // namespace qorv::tool

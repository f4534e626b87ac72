// qorv/exchange/cad_reader.h
//
// A CAD model (STEP: .step, .stp; IGES: .iges, .igs) read through OpenCASCADE and turned face
// by face into qorv's own geometry: the face's base surface as a bounded analytic kind
// (ERBoundedPlane, Cylinder, Cone, Sphere, Torus), an ERSpoleNURBS3D (B-spline and Bezier
// surfaces, linear extrusions of pole curves), an ERSurOfRevolution (a pole-curve or straight
// meridian) or an EROffsetSurface over one of those, trimmed
// by the face's wires (ERTrimmedSurface). OpenCASCADE only reads and walks the model; every
// geometric question is answered by qorv's surfaces.
//
// Conventions a caller gets wrong:
// - Lengths are millimetres whatever the file's unit (the reader converts). Assemblies come
//   with their placements applied; every face of every solid and shell is read.
// - Face numbers count from 1 in the order of the model's faces (each distinct placed face
//   once), the order of OpenCASCADE's plain reader whether the file has colours or not. name is
//   the STEP face item's own name ("" when none, or in IGES files; a part's name is not used).
// - colour is "#rrggbb" (lower case; "" when none): the face's own (surface, else general)
//   colour, else its shell's, else its solid's, else the colour given to the part's instance in
//   an assembly (the outermost instance that has one: it overrides the part's own), else the
//   part's, else the enclosing assemblies'. The digits are sRGB as the file writes them (a STEP
//   COLOUR_RGB, an IGES colour definition): OpenCASCADE keeps colours in linear RGB and they are
//   turned back, so (18, 52, 86) written reads "#123456".
// - normalInward tells whether the converted surface's own normal (Su x Sv in qorv's
//   parameters) points INTO the material: the face's outward normal (OpenCASCADE's normal,
//   turned for a reversed face) out of a closed solid. A face of an open shell has the
//   direction its orientation gives.
// - Parameters: qorv's kinds have their own (a cylinder's u is the height, v the angle; a
//   cone's u the height above its apex). The wires' 2D curves (the pcurves, converted exactly
//   to B-splines, one closed curve per wire, seams and collapsed edges included) are mapped
//   into them; the outer loop runs counter-clockwise in qorv's (u, v), holes clockwise. Every
//   converted face is checked: its surface, evaluated at 25 points of the face's parameter
//   box, must give OpenCASCADE's points within 1e-9 of the model's size, else the face is
//   reported and left out.
// - An extrusion of a conic, a revolution of a conic meridian are not converted (the exact
//   NURBS forms of conics change the parameters the pcurves use, and the check above refuses
//   them); such faces, and any other kind, are reported by kind and face number and left out,
//   never silently.
// - Merging (on by default): faces on one analytic surface (same kind, same axis or plane,
//   same radii, the same material side) form one group, one feature (an ERFaceGroup); each
//   face is its own group otherwise. A group is named "face<N>", N its first face's number.
//
// Nothing here is stored: a model is read again from its file.
#pragma once

#include <string>
#include <vector>

#include "qorv/foundation/boxes.h"
#include "qorv/surfaces/parametric_surface.h"

namespace qorv::exchange {

// The plane, cylinder, cone or sphere a face or group lies on (kind "" when none, or when a
// group's faces lie on different ones): origin a point of the plane or axis, a cone's apex, a
// sphere's centre; axis the plane's normal or the axis (unit, no preferred sign); r1 the radius,
// a cone's half-angle in radians, 0 for a plane.
struct QORV_API CadElement {
  std::string kind;
  ERPoint3D origin;
  ERVector3D axis;
  double r1 = 0;
};

struct QORV_API CadFace {
  int index = 0;       // from 1, in the model's order
  std::string name;    // the STEP item's name, "" when none
  std::string colour;  // "#rrggbb", "" when none
  std::string kind;    // "plane", "cylinder", "cone", "sphere", "torus", "nurbs", "offset"
  t_SmartPtr<ERAnyBoundedSurface> surface;  // an ERTrimmedSurface
  bool normalInward = false;                // the surface's own normal points into the material
  double area = 0;                          // mm^2
  ERMinimax3D box;                          // the face's box
  int group = -1;                           // index in CadModel::groups
  CadElement element;
};

struct QORV_API CadGroup {
  std::string id;  // "face<N>"
  std::string kind;
  std::vector<int> faces;  // indices in CadModel::faces
  // The face's trimmed surface, or an ERFaceGroup of several (each face flipped so that the
  // group's normal is outward: normalInward false).
  t_SmartPtr<ERAnyBoundedSurface> surface;
  bool normalInward = false;
  double area = 0;
  ERMinimax3D box;
  CadElement element;
};

struct QORV_API CadModel {
  std::string error;                          // why nothing could be read; "" when the file read
  std::vector<std::string> problems;          // "face N: ..." for each face left out
  int solids = 0, shells = 0, faceCount = 0;  // in the file (faceCount: converted or not)
  std::vector<CadFace> faces;                 // the converted faces
  std::vector<CadGroup> groups;
};

struct QORV_API CadOptions {
  bool merge = true;
  // The file is first read in a child process (fork), so that a file on which OpenCASCADE's
  // reader crashes or hangs gives a reason instead (given up after seconds). A host that
  // cannot fork turns it off.
  bool isolate = true;
  int seconds = 600;
};

// "step", "iges" or "" from a path's extension (case ignored).
QORV_API std::string cadFormatOf(const std::string& path);
QORV_API CadModel readCad(const std::string& path, const CadOptions& options = {});
// Groups built again over the model's faces: each list of face indices (in faces) one group,
// in the given order, named by the caller; the faces of each group shown outward. Used for a
// side file's selections.
QORV_API CadGroup groupOf(const CadModel& model, const std::vector<int>& faces,
                          const std::string& id);

}  // namespace qorv::exchange

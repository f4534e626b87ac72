// The values of a stored object as JSON, for scripts: what the object's class exposes through
// its public accessors. Every finite curve gives its ends, limits, box and length; the classes
// below add their defining values. Numbers are written with 17 significant digits, so a value
// read back is the stored double.
#include "tools/qorv/describe.h"

#include <cmath>

#include "qorv/qorv.h"
#include "tools/qorv/output.h"
#include "tools/qorv/text.h"

namespace qorv::tool {

namespace {

using nlohmann::json;

json number(double v) {
  // JSON has no NaN or infinity: a damaged value says so instead of breaking the document.
  if (std::isfinite(v)) return v;
  return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
}

json values(const ERPoint2D& p) { return json::array({number(p.x()), number(p.y())}); }
json values(const ERPoint3D& p) { return json::array({number(p.x()), number(p.y()), number(p.z())}); }
json values(const ERVector2D& v) { return json::array({number(v.x()), number(v.y())}); }
json values(const ERVector3D& v) { return json::array({number(v.x()), number(v.y()), number(v.z())}); }
json values(const ERMinimax2D& b) {
  return json{{"min", values(b.MinPoint())}, {"max", values(b.MaxPoint())}};
}
json values(const ERMinimax3D& b) {
  return json{{"min", values(b.MinPoint())}, {"max", values(b.MaxPoint())}};
}

template <class Finite>
void finiteCurve(const Finite& c, json& out) {
  out["start"] = values(c.firstPt());
  out["end"] = values(c.lastPt());
  const ERLimites bound = c.getBound();
  out["limits"] = json::array({number(bound.start()), number(bound.end())});
  out["box"] = values(c.getBox());
  out["length"] = number(c.arcLength(1e-9));
}

}  // namespace

json describeValues(const ERObject& object) {
  json out = json::object();
  if (const auto* c = ERFiniteEntity2DWF::castdown(object)) finiteCurve(*c, out);
  if (const auto* c = ERFiniteEntity3DWF::castdown(object)) finiteCurve(*c, out);

  if (const auto* l = ERInfLine2D::castdown(object)) {
    out["origin"] = values(l->origine());
    out["direction"] = values(l->dirVector());
  } else if (const auto* l3 = ERInfLine3D::castdown(object)) {
    out["origin"] = values(l3->origine());
    out["direction"] = values(l3->dirVector());
  }
  if (const auto* c = ERCircle2D::castdown(object)) {
    out["center"] = values(c->center());
    out["radius"] = number(c->radius());
  } else if (const auto* c3 = ERCircle3D::castdown(object)) {
    out["center"] = values(c3->center());
    out["radius"] = number(c3->radius());
  }
  if (const auto* e = EREllipse2D::castdown(object)) {
    out["center"] = values(e->center());
    out["major_axis"] = number(e->getBigAxe());
    out["minor_axis"] = number(e->getSmallAxe());
    out["angle"] = number(e->getAngle());
  } else if (const auto* e3 = EREllipse3D::castdown(object)) {
    out["center"] = values(e3->center());
  }
  if (const auto* d = ERDBObject::castdown(object)) {
    json properties = json::object();
    d->properties().forEach([&](long key, const ERDBObjProperty& p) {
      switch (p.getType()) {
        case ERDBObjProperty::STRING: properties[std::to_string(key)] = utf8OrLatin1(static_cast<const char*>(p)); break;
        case ERDBObjProperty::DOUBLE: properties[std::to_string(key)] = number(static_cast<double>(p)); break;
        case ERDBObjProperty::ULONG: properties[std::to_string(key)] = static_cast<unsigned long>(p); break;
        case ERDBObjProperty::LONG: properties[std::to_string(key)] = static_cast<long>(p); break;
        default: properties[std::to_string(key)] = nullptr; break;
      }
    });
    out["properties"] = properties;
    if (d->object())
      out["object"] = d->object()->getObjectID();
    else
      out["object"] = nullptr;
  }
  return out;
}

}  // namespace qorv::tool

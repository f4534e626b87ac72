#include "tools/qorv/form_output.h"

#include <cmath>
#include <iomanip>
#include <numbers>
#include <sstream>
#include <string>

#include "tools/qorv/text.h"

namespace qorv::tool {

namespace {

std::string indices(const std::vector<int>& v) {
  std::string s = "[";
  for (std::size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
  return s + "]";
}

std::string verdict(int inTolerance) {
  return inTolerance < 0 ? "null" : inTolerance ? "true" : "false";
}

void element(std::ostream& s, const gmFormResult& r) {
  const gmFormElement& e = r.element;
  s << ", \"element\": {\"point\": " << xyz(e.point.x(), e.point.y(), e.point.z())
    << ", \"axis\": " << xyz(e.axis.x(), e.axis.y(), e.axis.z());
  if (r.kind != gmForm::PLANE) s << ", \"radius\": " << jsonNumber(e.radius);
  if (r.kind == gmForm::CONE)
    s << ", \"half_angle\": " << jsonNumber(e.angle * 180 / std::numbers::pi);
  s << "}";
}

}  // namespace

void writeFormJson(std::ostream& s, const gmInspectionFeature& f, const gmFeatureSummary& fs) {
  const gmFeatureForm& declared = f.form();
  if (declared.form) {
    const gmFormResult& r = fs.formFit;
    s << ", \"form\": {\"association\": "
      << jsonString(gmForm::associationName(declared.formAssociation))
      << ", \"tolerance\": " << jsonNumber(declared.formTolerance);
    if (!r.ok) {
      s << ", \"reason\": " << jsonString(r.reason) << "}";
    } else {
      s << ", \"width\": " << jsonNumber(r.width)
        << ", \"in_tolerance\": " << verdict(fs.formInTolerance)
        << ", \"iterations\": " << r.iterations;
      if (declared.formAssociation != gmForm::LEAST_SQUARES)
        s << ", \"certified\": " << (r.certified ? "true" : "false")
          << ", \"contacts\": {\"upper\": " << indices(r.upperContacts)
          << ", \"lower\": " << indices(r.lowerContacts) << "}";
      element(s, r);
      s << "}";
    }
  }
  if (declared.size) {
    const gmFormResult& r = fs.sizeFit;
    s << ", \"size\": {\"association\": "
      << jsonString(gmForm::associationName(declared.sizeAssociation))
      << ", \"nominal\": " << jsonNumber(2 * f.elementR1()) << ", \"tolerance\": ["
      << jsonNumber(declared.sizeLower) << ", " << jsonNumber(declared.sizeUpper) << "]";
    if (!r.ok) {
      s << ", \"reason\": " << jsonString(r.reason) << "}";
    } else {
      s << ", \"diameter\": " << jsonNumber(r.size)
        << ", \"deviation\": " << jsonNumber(r.size - 2 * f.elementR1())
        << ", \"in_tolerance\": " << verdict(fs.sizeInTolerance);
      element(s, r);
      s << "}";
    }
  }
}

std::string datumText(const gmToleranceSpec& t) {
  std::string out;
  for (std::size_t k = 0; k < t.datums.size(); ++k) out += (k ? "|" : "") + t.datums[k];
  return out;
}

void writeToleranceJson(std::ostream& s, const gmInspectionFeature& f, const gmFeatureSummary& fs) {
  const bool judged = fs.stats.num_projected() > 0;
  s << ", \"profile\": {\"tolerance\": [" << jsonNumber(f.lower()) << ", " << jsonNumber(f.upper())
    << "], \"out_of_tolerance\": " << fs.outOfTolerance
    << ", \"in_tolerance\": " << verdict(judged ? fs.outOfTolerance == 0 : -1) << "}";
  if (!f.datum().empty()) s << ", \"datum\": " << jsonString(f.datum());
  if (f.tolerances().empty()) return;
  s << ", \"tolerances\": [";
  for (std::size_t k = 0; k < f.tolerances().size(); ++k) {
    const gmToleranceSpec& t = f.tolerances()[k];
    s << (k ? ", " : "") << "{\"kind\": " << jsonString(gmTolerance::kindName(t.kind))
      << ", \"tolerance\": " << jsonNumber(t.tolerance) << ", \"datums\": [";
    for (std::size_t d = 0; d < t.datums.size(); ++d)
      s << (d ? ", " : "") << jsonString(t.datums[d]);
    s << "]";
    if (t.kind == gmTolerance::ANGULARITY)
      s << ", \"angle\": " << jsonNumber(t.angle * 180 / std::numbers::pi);
    const gmToleranceResult* r = k < fs.tolerances.size() ? &fs.tolerances[k] : nullptr;
    if (r == nullptr || !r->ok) {
      s << ", \"reason\": " << jsonString(r ? r->reason : "no points")
        << ", \"in_tolerance\": null}";
      continue;
    }
    s << ", \"value\": " << jsonNumber(r->value)
      << ", \"in_tolerance\": " << verdict(r->inTolerance)
      << ", \"zone\": " << jsonString(r->cylindrical ? "diameter" : "planes")
      << ", \"direction\": " << xyz(r->zone.x(), r->zone.y(), r->zone.z()) << "}";
  }
  s << "]";
}

void writeToleranceTable(std::ostream& s, const std::vector<gmInspectionFeature>& features,
                         const std::vector<gmFeatureSummary>& summaries) {
  std::size_t idWidth = 12;
  bool any = false;
  for (const gmInspectionFeature& f : features) {
    any = any || !f.tolerances().empty();
    idWidth = std::max(idWidth, displayWidth(validUtf8(f.id())) + 2);
  }
  if (!any) return;
  s << "\n"
    << padded("feature", idWidth, true) << padded("characteristic", 18, true)
    << padded("datums", 10, true) << padded("value", 11, false) << padded("tolerance", 11, false)
    << padded("", 6, false) << "\n";
  for (std::size_t k = 0; k < features.size() && k < summaries.size(); ++k)
    for (std::size_t i = 0; i < features[k].tolerances().size(); ++i) {
      const gmToleranceSpec& t = features[k].tolerances()[i];
      const gmToleranceResult* r =
          i < summaries[k].tolerances.size() ? &summaries[k].tolerances[i] : nullptr;
      const bool ok = r != nullptr && r->ok;
      s << padded(validUtf8(features[k].id()), idWidth, true)
        << padded(gmTolerance::kindName(t.kind), 18, true)
        << padded(validUtf8(datumText(t)), 10, true)
        << padded(ok ? fixed(r->value) : "-", 11, false) << padded(fixed(t.tolerance), 11, false)
        << padded(!ok              ? "-"
                  : r->inTolerance ? "PASS"
                                   : "FAIL",
                  6, false)
        << "\n";
      if (!ok)
        s << "  " << validUtf8(features[k].id()) << ": " << gmTolerance::kindName(t.kind)
          << " not judged: " << validUtf8(r ? r->reason : "no points") << "\n";
    }
}

void writeFormTable(std::ostream& s, const std::vector<gmInspectionFeature>& features,
                    const std::vector<gmFeatureSummary>& summaries) {
  std::size_t idWidth = 12;
  bool any = false;
  for (const gmInspectionFeature& f : features) {
    any = any || f.form().form || f.form().size;
    idWidth = std::max(idWidth, displayWidth(validUtf8(f.id())) + 2);
  }
  if (!any) return;
  auto verdictWord = [](int v) { return v < 0 ? "-" : v ? "in" : "OUT"; };
  s << "\n"
    << padded("feature", idWidth, true) << padded("form", 15, true) << padded("width", 11, false)
    << padded("tolerance", 11, false) << padded("", 5, false) << "  " << padded("size", 15, true)
    << padded("diameter", 11, false) << padded("deviation", 11, false) << padded("", 5, false)
    << "\n";
  for (std::size_t k = 0; k < features.size() && k < summaries.size(); ++k) {
    const gmFeatureForm& declared = features[k].form();
    if (!declared.form && !declared.size) continue;
    const gmFeatureSummary& fs = summaries[k];
    s << padded(validUtf8(features[k].id()), idWidth, true);
    if (declared.form)
      s << padded(gmForm::associationName(declared.formAssociation), 15, true)
        << padded(fs.formFit.ok ? fixed(fs.formFit.width) : "-", 11, false)
        << padded(std::isfinite(declared.formTolerance) ? fixed(declared.formTolerance) : "-", 11,
                  false)
        << padded(verdictWord(fs.formInTolerance), 5, false);
    else
      s << padded("-", 15, true) << padded("", 27, false);
    s << "  ";
    if (declared.size)
      s << padded(gmForm::associationName(declared.sizeAssociation), 15, true)
        << padded(fs.sizeFit.ok ? fixed(fs.sizeFit.size) : "-", 11, false)
        << padded(fs.sizeFit.ok ? fixed(fs.sizeFit.size - 2 * features[k].elementR1()) : "-", 11,
                  false)
        << padded(verdictWord(fs.sizeInTolerance), 5, false);
    else
      s << padded("-", 15, true);
    s << "\n";
    for (const gmFormResult* r : {&fs.formFit, &fs.sizeFit})
      if (!r->ok && !r->reason.empty() &&
          ((r == &fs.formFit && declared.form) || (r == &fs.sizeFit && declared.size)))
        s << "  " << validUtf8(features[k].id()) << ": " << gmForm::associationName(r->association)
          << " not made: " << r->reason << "\n";
  }
}

}  // namespace qorv::tool

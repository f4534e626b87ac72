#include "qorv/measurement/gap_and_flush.h"

#include <cmath>
#include <ostream>
#include <sstream>
#include <string>

#include "qorv/persistence/file.h"

QORV_DEFINE_CLASS(gmGapAndFlush);
QORV_DEFINE_COPYABLE(gmGapAndFlush);
std::uint32_t gmGapAndFlush::binaryStoreSize() const {
  return ERPlanarEntity3DWF::binaryStoreSize() + 16;
}

gmGapAndFlush::gmGapAndFlush(const ERPoint3D& centre, const ERVector3D& direction,
                             const ERVector3D& normal, double gap, double flush)
    : gap_(gap), flush_(flush) {
  // Unit vectors first: no overflow or underflow for axes of any length.
  const ERVector3D n = normal.getnormalized(), d = direction.getnormalized();
  const ERVector3D y = n ^ d;
  if (y.norme() > 1e-12) {
    setRepere(ERChgRepere3D(y ^ n, y, centre));
  } else {
    setRepere(ERChgRepere3D(n, centre));
  }
}

void gmGapAndFlush::scale(double f) {
  scaleFrame(f);
  gap_ *= f;
  flush_ *= f;
}

void gmGapAndFlush::transformFrom(const ERPmSimilitude3D& T) {
  const double k = moveFrame(T, true);
  gap_ *= k;
  flush_ *= k;
}

void gmGapAndFlush::transformTo(const ERPmSimilitude3D& T) {
  const double k = moveFrame(T, false);  // the inverse ratio
  gap_ *= k;
  flush_ *= k;
}

void gmGapAndFlush::printOn(std::ostream& os) const {
  os << "Gap and Flush:" << std::endl;
  // Some frames' forms (the identity's, a scaling's) end without a line end: each line ends
  // here, so "Gap" starts its own.
  std::ostringstream frame;
  frame.copyfmt(os);
  getRepere().printOn(frame);
  const std::string text = frame.str();
  os << text;
  if (text.empty() || text.back() != '\n') os << std::endl;
  os << "               : Gap " << gap_ << std::endl;
  os << "               : Flush " << flush_ << std::endl;
}

void gmGapAndFlush::saveGuts(ERFile& f) const {
  ERPlanarEntity3DWF::saveGuts(f);
  f.Write(gap_);
  f.Write(flush_);
}

void gmGapAndFlush::restoreGuts(ERFile& f) {
  const ERPmIsometrie3D before = getRepere();
  const long start = f.CurOffset();
  ERPlanarEntity3DWF::restoreGuts(f);
  // A frame record cut short may stop early without a short read: check what it took.
  const bool frameWhole =
      f.CurOffset() - start == static_cast<long>(ERPlanarEntity3DWF::binaryStoreSize());
  double v[2];
  if (!frameWhole || !qorv::detail::restoreDoubles(f, v, 2)) {
    if (!frameWhole) f.markDamaged();
    setRepere(before);  // a short record changes nothing
    return;
  }
  gap_ = v[0];
  flush_ = v[1];
}

gmGapAndFlush operator>>(const ERPmIsometrie3D& T, const gmGapAndFlush& g) {
  gmGapAndFlush moved(g);
  moved.transformFrom(T);
  return moved;
}

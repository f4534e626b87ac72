// Writes measured probe centres for a nominal part with known deviations, probe diameters and
// noise, as a CMM would export them, and the deviations each point was given:
//   inspection_sample PART OUT_DIR [POINTS [SEED [SIDE]]]
// PART is the JSON nominal or a STEP or IGES model (SIDE its side file).
// OUT_DIR/measured.csv: id, x, y, z, feature (every other point), probe diameter, and four
// malformed lines at the end; OUT_DIR/truth.csv: id, feature, deviation.
// Each point starts from a nominal point T well inside its feature, the part's surface is moved
// along the outward normal n by the deviation, and the probe centre sits a probe radius further
// out: P = T + (deviation + radius) n. A point is kept only when the nominal foot of P is T again
// (so a point near another feature is never ambiguous).
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "qorv/measurement/inspection.h"
#include "tools/qorv/nominal.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: inspection_sample PART OUT_DIR [POINTS [SEED [SIDE]]]\n";
    return 2;
  }
  std::vector<gmInspectionFeature> features;
  try {
    qorv::tool::CadNominalOptions cad;
    if (argc > 5) cad.side = argv[5];
    features = qorv::tool::readNominal(argv[1], cad);
  } catch (const qorv::tool::NominalError& e) {
    std::cerr << "inspection_sample: " << argv[1] << ": " << e.why << "\n";
    return 2;
  }
  const std::string dir = argv[2];
  const long total = argc > 3 ? std::atol(argv[3]) : 2000;
  const unsigned seed = argc > 4 ? static_cast<unsigned>(std::atol(argv[4])) : 2026u;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  const gmInspection inspection(features);

  std::ofstream measured(dir + "/measured.csv"), truth(dir + "/truth.csv");
  if (!measured || !truth) {
    std::cerr << "inspection_sample: cannot write in " << dir << "\n";
    return 2;
  }
  measured.precision(17);
  truth.precision(17);
  measured << "id,x,y,z,feature,diameter\n";
  truth << "id,feature,deviation\n";
  const double diameters[] = {1.0, 2.0, 3.0};
  long id = 0;
  for (std::size_t k = 0; k < features.size(); ++k) {
    const gmInspectionFeature& f = features[k];
    const long want = total / static_cast<long>(features.size()) +
                      (static_cast<long>(k) < total % static_cast<long>(features.size()) ? 1 : 0);
    const double band = std::max(std::fabs(f.lower()), std::fabs(f.upper()));
    // A probe no larger than the tightest hollow it measures.
    const double limit = f.kind() == gmInspectionFeature::TORUS     ? f.r2()
                         : f.kind() == gmInspectionFeature::PLANE   ? 1e300
                         : f.kind() == gmInspectionFeature::SURFACE ? 4.0  // gently curved patches
                                                                    : 4 * f.r1();
    long made = 0;
    for (long attempt = 0; made < want && attempt < 200 * want; ++attempt) {
      const double u = f.u0() + (0.1 + 0.8 * unit(rng)) * (f.u1() - f.u0());
      const double v = f.v0() + (0.1 + 0.8 * unit(rng)) * (f.v1() - f.v0());
      ERVector3D n;
      const ERPoint3D T = f.point(u, v, &n);
      // A smooth form error, noise, and now and then a point well out of tolerance.
      double dev = 0.4 * band * std::sin(3 * u + 2 * v) + 0.1 * band * noise(rng);
      if (unit(rng) < 0.02) dev = (unit(rng) < 0.5 ? -1.6 : 1.6) * band;
      double d = diameters[rng() % 3];
      while (d / 2 >= 0.5 * limit) d /= 2;
      const ERPoint3D P = T + (dev + d / 2) * n;
      const bool named = made % 2 == 0;
      gmMeasuredPoint m;
      m.centre = P;
      m.diameter = d;
      if (named) m.feature = f.id();
      const gmInspectedPoint r = inspection.inspect(m, d);
      if (r.feature != static_cast<int>(k) ||
          qorv::distance(r.nominal, T) > 1e-9 * (1 + qorv::distance(ERPoint3D(), T)))
        continue;
      ++id, ++made;
      measured << "P" << id << "," << P.x() << "," << P.y() << "," << P.z() << ","
               << (named ? f.id() : "") << "," << d << "\n";
      truth << "P" << id << "," << f.id() << "," << dev << "\n";
    }
  }
  // What a careless export contains: reported and skipped, never fatal.
  measured << "B1,1.0,2.0\n";
  measured << "B2,x,2.0,3.0\n";
  measured << "B3,nan,2.0,3.0\n";
  measured << "B4,1.0,2.0,3.0,no-such-feature,2\n";
  std::cout << "inspection_sample: " << id << " points and 4 malformed lines in " << dir
            << "/measured.csv\n";
  return 0;
}

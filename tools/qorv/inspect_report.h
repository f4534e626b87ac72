// The inspection report: one self-contained HTML file a quality engineer signs, or its PDF.
//
// Conventions a caller gets wrong:
// - The digests are of the input files as they are when the report is written (read again), so
//   a file changed during the run shows a digest that is not what was inspected.
// - Colours are per feature: a point's colour says where its deviation lies in its OWN
//   feature's band (white at the band's centre, the lower and upper limits at fixed colours,
//   one saturated colour on each side beyond them), so features with bands of any width read on
//   one scale. A band open on one side (an infinite limit) takes the spread of its feature's
//   deviations for the missing half-width; a band open on both sides, their largest magnitude.
// - The verdict of a feature: FAIL when a point lies outside its band or a form or size it asks
//   for is out of tolerance; else NOT JUDGED when it has no judged point or a form or size it
//   asks for could not be made; else PASS.
// - Views show a subset past a cap, and say which: every point out of tolerance up to
//   kMaxOutsideShown (past it, those farthest outside their band), and an even subset of the
//   points in tolerance up to kMaxInsideShown. The 3D view and the static views show the same
//   points; in the 3D view the points out of tolerance are drawn over the faces, never hidden.
// - The 3D view runs the embedded three.js (a module imported from a Blob URL: the page needs
//   no network); the static SVG views are what prints and what a browser without WebGL shows.
//   Once drawn, the 3D view's element carries data-projected (the labelled points' page
//   positions and their labels' boxes in CSS pixels) and data-canvas (the canvas's page rectangle),
//   for checking the picture against the data.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "qorv/measurement/alignment.h"
#include "qorv/measurement/inspection.h"

namespace qorv::tool {

constexpr std::size_t kMaxOutsideShown = 20000, kMaxInsideShown = 20000;
// The 3D view's faces: past this many vertices, further features are left out (and said to be).
constexpr std::size_t kMaxVertices = 500000;

// Everything the report shows, gathered by the inspect command.
struct ReportInputs {
  std::string nominalPath, measuredPath;
  std::string units;        // as the nominal states them; "" when it does not
  std::string alignMethod;  // "" when the points were taken as they are
  gmAlignment alignment;
  double probeDiameter = 0;
  bool probeDiameterGiven = false;
  std::size_t inspected = 0, notJudged = 0, unassigned = 0, outside = 0;
  bool failuresFirst = false;  // the feature table's order: failures first, else the nominal's
  const gmInspection* inspection = nullptr;
  const std::vector<gmMeasuredPoint>* points = nullptr;
  const std::vector<gmInspectedPoint>* results = nullptr;
  const std::vector<gmFeatureSummary>* summaries = nullptr;
  const std::vector<gmSkippedLine>* skipped = nullptr;
  // When the points are an even subset of a cloud: the headline in the caption's place
  // ("20000 of 10000000 points shown, ...").
  std::string shownOf;
};

void writeReport(std::ostream& html, const ReportInputs& in);

// How bad a judged point is, ordered: (1, how far outside the band) for a point outside it (NaN:
// infinitely), else (0, how far from the band's centre, or from 0 for an open band). A feature's
// worst point is its greatest; the report and the stored results agree on it.
std::pair<int, double> pointBadness(const gmInspectionFeature& f, const gmInspectedPoint& r);

// The headless Chromium the PDF prints through: QORV_CHROMIUM when set, else chromium or
// chromium-browser on PATH; "" when none is found.
std::string findChromium();
// Prints the HTML file to pdf through chromium (a fresh profile in a scratch folder, no network
// services, stopped after 180 s); "" when done, else why not (pdf untouched).
std::string printPdf(const std::string& chromium, const std::string& html, const std::string& pdf);

}  // namespace qorv::tool

#include "tools/qorv/inspect_report.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <numbers>
#include <sstream>
#include <thread>

#include "qorv/foundation/library.h"
#include "qorv/version.h"
#include "tools/qorv/report_mesh.h"
#include "tools/qorv/sha256.h"
#include "tools/qorv/text.h"

extern char** environ;

namespace qorv::tool {

extern const char kThreeModule[];
extern const unsigned long kThreeModule_size;

namespace {

std::string escaped(const std::string& text) {
  const std::string s = validUtf8(text);
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A JSON string that may sit inside a script element.
std::string scriptString(const std::string& text) {
  std::string s = jsonString(validUtf8(text)), out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '<' && i + 1 < s.size() && s[i + 1] == '/')
      out += "<\\";
    else
      out += s[i];
  }
  return out;
}

std::string num(double v, int digits = 4) {
  if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v > 0 ? "+inf" : "-inf");
  std::ostringstream s;
  s << std::fixed << std::setprecision(digits) << v;
  return s.str();
}

std::string signedNum(double v) { return (v > 0 && std::isfinite(v) ? "+" : "") + num(v); }

std::string group(std::size_t n) {
  std::string s = std::to_string(n);
  for (int at = static_cast<int>(s.size()) - 3; at > 0; at -= 3)
    s.insert(static_cast<std::size_t>(at), ",");
  return s;
}

struct Rgb {
  int r, g, b;
};
constexpr Rgb kCentre{255, 255, 255}, kLowerLimit{67, 147, 195}, kUpperLimit{214, 96, 77};
constexpr Rgb kBelow{0, 40, 255}, kAbove{230, 0, 0};

std::string hex(Rgb c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", c.r, c.g, c.b);
  return buffer;
}

// Where a deviation lies in its feature's band: 0 at the centre, -1 and 1 at the limits.
struct Band {
  double centre = 0, half = 1;
  double position(double d) const {
    const double t = (d - centre) / half;
    return std::isnan(t) ? 0 : t;
  }
};

Band bandOf(const gmInspectionFeature& f, double spread) {
  const double lo = f.lower(), hi = f.upper();
  const double w = spread > 0 && std::isfinite(spread) ? spread : 1;
  if (std::isfinite(lo) && std::isfinite(hi)) return {(lo + hi) / 2, (hi - lo) / 2};
  if (std::isfinite(lo)) return {lo + w, w};
  if (std::isfinite(hi)) return {hi - w, w};
  return {0, w};
}

Rgb colourAt(double t, bool inTolerance) {
  if (!inTolerance) return t < 0 ? kBelow : kAbove;
  t = std::clamp(t, -1.0, 1.0);
  const Rgb end = t < 0 ? kLowerLimit : kUpperLimit;
  const double a = std::fabs(t);
  auto mix = [a](int from, int to) {
    return static_cast<int>(std::lround(from + (to - from) * a));
  };
  return {mix(kCentre.r, end.r), mix(kCentre.g, end.g), mix(kCentre.b, end.b)};
}

std::string base64(const unsigned char* p, std::size_t n) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  for (std::size_t i = 0; i < n; i += 3) {
    const unsigned v = p[i] << 16 | (i + 1 < n ? p[i + 1] << 8 : 0) | (i + 2 < n ? p[i + 2] : 0);
    out += k[v >> 18 & 63];
    out += k[v >> 12 & 63];
    out += i + 1 < n ? k[v >> 6 & 63] : '=';
    out += i + 2 < n ? k[v & 63] : '=';
  }
  return out;
}

// Little-endian bytes whatever the host, as the page's typed arrays read them.
std::string base64Floats(const std::vector<float>& v) {
  std::vector<unsigned char> b;
  b.reserve(4 * v.size());
  for (float f : v) {
    const auto u = std::bit_cast<std::uint32_t>(f);
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(u >> (8 * k)));
  }
  return base64(b.data(), b.size());
}

std::string base64Indices(const std::vector<std::uint32_t>& v) {
  std::vector<unsigned char> b;
  b.reserve(4 * v.size());
  for (std::uint32_t u : v)
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(u >> (8 * k)));
  return base64(b.data(), b.size());
}

enum Verdict { FAIL, NOT_JUDGED, PASS };
const char* verdictWord(Verdict v) {
  return v == FAIL ? "FAIL" : v == PASS ? "PASS" : "NOT JUDGED";
}

Verdict verdictOf(const gmInspectionFeature& f, const gmFeatureSummary& s) {
  if (s.outOfTolerance > 0 || s.formInTolerance == 0 || s.sizeInTolerance == 0) return FAIL;
  for (const gmToleranceResult& t : s.tolerances)
    if (t.inTolerance == 0) return FAIL;
  if (s.stats.num_projected() == 0) return NOT_JUDGED;
  if ((f.form().form && s.formInTolerance < 0) || (f.form().size && s.sizeInTolerance < 0))
    return NOT_JUDGED;
  if (s.tolerances.size() < f.tolerances().size()) return NOT_JUDGED;
  for (const gmToleranceResult& t : s.tolerances)
    if (t.inTolerance < 0) return NOT_JUDGED;
  return PASS;
}

// "position &#8960; 0.1 | A | B": the tolerance as a drawing's frame reads.
std::string frameText(const gmToleranceSpec& t, const std::string& unit) {
  std::string s = std::string(gmTolerance::kindName(t.kind)) + " ";
  if (t.kind == gmTolerance::POSITION) s += "&#8960; ";
  s += num(t.tolerance) + unit;
  for (const std::string& d : t.datums) s += " | " + escaped(d);
  if (t.kind == gmTolerance::ANGULARITY)
    s += " at " + num(t.angle * 180 / std::numbers::pi, 3) + "&#176;";
  return s;
}

std::string nominalText(const gmInspectionFeature& f, const std::string& unit) {
  std::string s;
  switch (f.kind()) {
    case gmInspectionFeature::CYLINDER:
    case gmInspectionFeature::SPHERE:
      s = "&#8960; " + num(2 * f.elementR1());
      break;
    case gmInspectionFeature::CONE:
      s = "half-angle " + num(f.r1() * 180 / std::numbers::pi, 3) + "&#176;";
      break;
    case gmInspectionFeature::TORUS:
      s = "R " + num(f.r1()) + ", r " + num(f.r2());
      break;
    default:
      s = "&#8212;";
  }
  const gmFeatureForm& declared = f.form();
  if (declared.size)
    s += "<br>size " + signedNum(declared.sizeLower) + " / " + signedNum(declared.sizeUpper) + unit;
  if (declared.form && std::isfinite(declared.formTolerance))
    s += "<br>form &#8804; " + num(declared.formTolerance) + unit;
  if (!f.datum().empty()) s += "<br>datum " + escaped(f.datum());
  for (const gmToleranceSpec& t : f.tolerances()) s += "<br>" + frameText(t, unit);
  return s;
}

std::string actualText(const gmInspectionFeature& f, const gmFeatureSummary& s) {
  const gmFeatureForm& declared = f.form();
  const bool plane = f.kind() == gmInspectionFeature::PLANE;
  std::vector<std::string> parts;
  if (declared.size) {
    const gmFormResult& r = s.sizeFit;
    parts.push_back(r.ok ? "<span" + std::string(s.sizeInTolerance == 0 ? " class=\"bad\"" : "") +
                               ">&#8960; " + num(r.size) + " (" +
                               signedNum(r.size - 2 * f.elementR1()) + ", " +
                               gmForm::associationName(declared.sizeAssociation) + ")</span>"
                         : "size not made: " + escaped(r.reason));
  } else if (s.fitted && !plane) {
    parts.push_back("&#8960; " + num(2 * s.size) + " (least-squares fit)");
  }
  if (declared.form) {
    const gmFormResult& r = s.formFit;
    parts.push_back(r.ok ? "<span" + std::string(s.formInTolerance == 0 ? " class=\"bad\"" : "") +
                               ">form " + num(r.width) + " (" +
                               gmForm::associationName(declared.formAssociation) + ")</span>"
                         : "form not made: " + escaped(r.reason));
  } else if (s.fitted) {
    parts.push_back("form " + num(s.formError) + " (least-squares fit)");
  }
  for (std::size_t k = 0; k < f.tolerances().size(); ++k) {
    const char* name = gmTolerance::kindName(f.tolerances()[k].kind);
    const gmToleranceResult* r = k < s.tolerances.size() ? &s.tolerances[k] : nullptr;
    if (r == nullptr || !r->ok)
      parts.push_back(std::string(name) + " not judged: " + escaped(r ? r->reason : "no points"));
    else
      parts.push_back("<span" + std::string(r->inTolerance == 0 ? " class=\"bad\"" : "") + ">" +
                      name + " " + num(r->value) + " " + (r->inTolerance ? "PASS" : "FAIL") +
                      "</span>");
  }
  if (parts.empty()) return "&#8212;";
  std::string out;
  for (std::size_t k = 0; k < parts.size(); ++k) out += (k ? "<br>" : "") + parts[k];
  return out;
}

std::string utcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buffer;
}

std::string fileRow(const char* what, const std::string& path) {
  if (path.empty())
    return "<tr><th>" + std::string(what) + "</th><td>given in memory, not from a file</td></tr>\n";
  const std::string digest = sha256File(path);
  return "<tr><th>" + std::string(what) + "</th><td>" + escaped(path) +
         "<br><span class=\"digest\">SHA-256 " +
         (digest.empty() ? "(the file could not be read again)" : digest) + "</span></td></tr>\n";
}

// One feature's histogram against its own band, with a count axis; values more than one and a
// half half-bands beyond a limit are counted in the end bins, which say so.
void histogram(std::ostream& html, const gmInspectionFeature& f, const Band& band,
               const std::vector<double>& devs, const std::string& unit) {
  constexpr int kBins = 30, W = 330, H = 170, L = 42, R = 10, T = 22, B = 34;
  double lo = band.centre - 2.5 * band.half, hi = band.centre + 2.5 * band.half;
  if (!(hi > lo) || !std::isfinite(hi - lo)) {
    lo = band.centre - 1, hi = band.centre + 1;
  }
  std::vector<std::size_t> bins(kBins, 0);
  std::size_t under = 0, over = 0;
  for (double d : devs) {
    if (std::isnan(d)) continue;
    const double at = (d - lo) / (hi - lo) * kBins;
    if (at < 0) ++under;
    if (at >= kBins) ++over;
    ++bins[static_cast<std::size_t>(std::clamp(at, 0.0, kBins - 1.0))];
  }
  const std::size_t top = std::max<std::size_t>(1, *std::max_element(bins.begin(), bins.end()));
  auto x = [&](double v) { return L + (v - lo) / (hi - lo) * (W - L - R); };
  auto y = [&](double c) { return H - B - (H - B - T) * c / static_cast<double>(top); };
  html << "<figure class=\"hist\"><svg width=\"" << W << "\" height=\"" << H
       << "\" xmlns=\"http://www.w3.org/2000/svg\" font-size=\"10\">\n<text x=\"" << L
       << "\" y=\"13\" font-size=\"12\""
       << " font-weight=\"bold\">" << escaped(f.id()) << "</text>\n";
  for (int b = 0; b < kBins; ++b) {
    const double v0 = lo + (hi - lo) * b / kBins, v1 = lo + (hi - lo) * (b + 1) / kBins,
                 mid = (v0 + v1) / 2;
    const bool inside = mid >= f.lower() && mid <= f.upper();
    const auto c = static_cast<double>(bins[static_cast<std::size_t>(b)]);
    html << "<rect x=\"" << num(x(v0), 1) << "\" y=\"" << num(y(c), 1) << "\" width=\""
         << num(x(v1) - x(v0) - 0.5, 1) << "\" height=\"" << num(y(0) - y(c), 1) << "\" fill=\""
         << hex(colourAt(band.position(mid), inside))
         << "\" stroke=\"#555\" stroke-width=\"0.4\"/>\n";
  }
  // The count axis.
  html << "<line x1=\"" << L << "\" x2=\"" << L << "\" y1=\"" << T << "\" y2=\"" << H - B
       << "\" stroke=\"#000\"/>";
  for (std::size_t c : {std::size_t{0}, top / 2, top}) {
    if (c == top / 2 && (top < 2)) continue;
    html << "<line x1=\"" << L - 3 << "\" x2=\"" << L << "\" y1=\""
         << num(y(static_cast<double>(c)), 1) << "\" y2=\"" << num(y(static_cast<double>(c)), 1)
         << "\" stroke=\"#000\"/><text x=\"" << L - 5 << "\" y=\""
         << num(y(static_cast<double>(c)) + 3, 1) << "\" text-anchor=\"end\">" << c << "</text>";
  }
  html << "<text x=\"10\" y=\"" << (T + H - B) / 2 << "\" transform=\"rotate(-90 10 "
       << (T + H - B) / 2 << ")\" text-anchor=\"middle\">points</text>\n";
  html << "<line x1=\"" << L << "\" x2=\"" << W - R << "\" y1=\"" << H - B << "\" y2=\"" << H - B
       << "\" stroke=\"#000\"/>\n";
  for (double v : {f.lower(), f.upper()})
    if (std::isfinite(v) && v >= lo && v <= hi)
      html << "<line x1=\"" << num(x(v), 1) << "\" x2=\"" << num(x(v), 1) << "\" y1=\"" << T
           << "\" y2=\"" << H - B << "\" stroke=\"#000\" stroke-dasharray=\"4 3\"/><text x=\""
           << num(x(v), 1) << "\" y=\"" << H - B + 12 << "\" text-anchor=\"middle\">"
           << signedNum(v) << "</text>\n";
  html << "<text x=\"" << (L + W - R) / 2 << "\" y=\"" << H - 6
       << "\" text-anchor=\"middle\">deviation" << (unit.empty() ? "" : " (" + escaped(unit) + ")")
       << "</text>";
  if (under > 0)
    html << "<text x=\"" << L << "\" y=\"" << T - 2 << "\">&#8804; " << under << " beyond</text>";
  if (over > 0)
    html << "<text x=\"" << W - R << "\" y=\"" << T - 2 << "\" text-anchor=\"end\">" << over
         << " beyond &#8805;</text>";
  html << "</svg></figure>\n";
}

void legend(std::ostream& html, const std::string& unitWords) {
  constexpr int W = 560, H = 58, M = 40, kSteps = 60;
  html << "<div class=\"legend\"><svg width=\"" << W << "\" height=\"" << H
       << "\" xmlns=\"http://www.w3.org/2000/svg\" font-size=\"11\">\n";
  auto x = [&](double t) { return M + (t + 1.5) / 3 * (W - 2 * M); };
  for (int i = 0; i < kSteps; ++i) {
    const double t = -1.5 + 3.0 * (i + 0.5) / kSteps;
    html << "<rect x=\"" << num(x(-1.5 + 3.0 * i / kSteps), 1) << "\" y=\"4\" width=\""
         << num((W - 2.0 * M) / kSteps + 0.4, 1) << "\" height=\"22\" fill=\""
         << hex(colourAt(t, std::fabs(t) <= 1)) << "\"/>\n";
  }
  const struct {
    double t;
    const char *name, *anchor;
  } ticks[] = {{-1.5, "below", "start"},
               {-1, "lower limit", "middle"},
               {0, "band centre", "middle"},
               {1, "upper limit", "middle"},
               {1.5, "above", "end"}};
  for (const auto& k : ticks)
    html << "<line x1=\"" << num(x(k.t), 1) << "\" x2=\"" << num(x(k.t), 1)
         << "\" y1=\"26\" y2=\"32\" stroke=\"#000\"/>"
         << "<text x=\"" << num(x(k.t), 1) << "\" y=\"45\" text-anchor=\"" << k.anchor << "\">"
         << k.name << "</text>\n";
  html << "</svg><p>Each point is coloured by where its deviation lies in its <em>own</em> "
          "feature's tolerance "
          "band: white at the band's centre, blue at the lower limit, red at the upper limit, and "
          "one saturated "
          "colour beyond each limit (blue: less material than allowed, red: more). Features with "
          "bands of any "
          "width read on this one scale; each feature's limits are in the table"
       << unitWords << ".</p></div>\n";
}

// The page's style; print drops the 3D view (the static views stand for it) and keeps colours.
constexpr const char* kStyle = R"CSS(
body{font-family:sans-serif;margin:2em;color:#222;-webkit-print-color-adjust:exact;print-color-adjust:exact}
table{border-collapse:collapse;margin:1em 0}
td,th{border:1px solid #bbb;padding:3px 8px;text-align:right;vertical-align:top}
th{background:#eee}
td.l,th.l,table.head td,table.head th{text-align:left}
.bad{color:#b2182b;font-weight:bold}
.verdict{font-weight:bold;text-align:center}
.PASS{background:#1a9641;color:#fff}.FAIL{background:#d7191c;color:#fff}.NOT{background:#fdae61;color:#000}
.digest{font-family:monospace;font-size:85%;color:#555}
svg{border:1px solid #ccc;margin:4px;background:#fff}
figure{display:inline-block;margin:0 1em 1em 0;break-inside:avoid}
#view3d{position:relative;width:900px;height:600px;border:1px solid #ccc;overflow:hidden}
#view3d canvas{display:block}
.label{position:absolute;font-size:11px;background:rgba(255,255,255,.85);border:1px solid #333;padding:0 3px;white-space:nowrap;pointer-events:none}
.status{padding:2em;color:#555}
table.sign td{width:16em;height:6em;text-align:left;color:#999;font-size:80%}
table.sign th{text-align:left}
@page{size:A4;margin:12mm}
@media print{#section3d{display:none}body{margin:0;font-size:10pt}h2{break-after:avoid}tr{break-inside:avoid}
#features{font-size:7.5pt}#features td,#features th{padding:2px 3px}}
)CSS";

// The 3D view's script: imports three.js from the embedded source, draws the faces and the
// points, orbits on drag and wheel, and labels the worst points.
constexpr const char* kViewScript = R"JS(
const box = document.getElementById('view3d');
const status = box.querySelector('.status');
function bytes(s) { const b = atob(s), a = new Uint8Array(b.length); for (let i = 0; i < b.length; ++i) a[i] = b.charCodeAt(i); return a; }
function floats(s) { return new Float32Array(bytes(s).buffer); }
async function main() {
  const data = JSON.parse(document.getElementById('report-data').textContent);
  const source = document.getElementById('three-module').textContent;
  const url = URL.createObjectURL(new Blob([source], {type: 'text/javascript'}));
  const THREE = await import(url);
  URL.revokeObjectURL(url);
  const probe = document.createElement('canvas'), gl = probe.getContext('webgl2') || probe.getContext('webgl');
  if (!gl) {
    status.textContent = 'This browser has no WebGL: see the static views below.';
    box.dataset.ready = '0';
    return;
  }
  gl.getExtension('WEBGL_lose_context')?.loseContext();
  THREE.ColorManagement.enabled = false;
  const renderer = new THREE.WebGLRenderer({antialias: true, preserveDrawingBuffer: true});
  renderer.outputColorSpace = THREE.LinearSRGBColorSpace;
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  const width = box.clientWidth, height = box.clientHeight;
  renderer.setSize(width, height);
  renderer.setClearColor(0xffffff, 1);
  status.style.display = 'none';
  box.prepend(renderer.domElement);
  const scene = new THREE.Scene();
  const camera = new THREE.PerspectiveCamera(30, width / height, data.radius / 100, data.radius * 100);
  scene.add(new THREE.AmbientLight(0xffffff, 1.6));
  const light = new THREE.DirectionalLight(0xffffff, 1.4);
  camera.add(light);
  light.position.set(0.3, 0.5, 1);
  scene.add(camera);
  const faces = new THREE.MeshLambertMaterial({color: 0xb4bcc6, side: THREE.DoubleSide,
      polygonOffset: true, polygonOffsetFactor: 2, polygonOffsetUnits: 2});
  for (const m of data.meshes) {
    const g = new THREE.BufferGeometry();
    g.setAttribute('position', new THREE.BufferAttribute(floats(m.positions), 3));
    g.setIndex(new THREE.BufferAttribute(new Uint32Array(bytes(m.triangles).buffer), 1));
    g.computeVertexNormals();
    scene.add(new THREE.Mesh(g, faces));
  }
  for (const [key, size, onTop] of [['inside', 3, false], ['outside', 7, true]]) {
    const set = data[key];
    if (!set.positions) continue;
    const g = new THREE.BufferGeometry();
    g.setAttribute('position', new THREE.BufferAttribute(floats(set.positions), 3));
    g.setAttribute('color', new THREE.BufferAttribute(bytes(set.colours), 3, true));
    const points = new THREE.Points(g, new THREE.PointsMaterial({size: size, sizeAttenuation: false,
        vertexColors: true, depthTest: !onTop, depthWrite: !onTop}));
    points.renderOrder = onTop ? 2 : 1;
    scene.add(points);
  }
  const labels = data.labels.map(l => {
    const e = document.createElement('div');
    e.className = 'label';
    e.textContent = l.text;
    box.appendChild(e);
    return {at: new THREE.Vector3(...l.at), e: e, id: l.id, feature: l.feature, side: l.side};
  });
  const target = new THREE.Vector3(0, 0, 0);
  let theta = -Math.PI / 3, phi = Math.PI / 3.2, distance = data.radius / Math.sin(Math.PI / 12) * 0.8;
  function draw() {
    camera.position.set(Math.sin(phi) * Math.cos(theta), Math.sin(phi) * Math.sin(theta), Math.cos(phi))
        .multiplyScalar(distance).add(target);
    camera.up.set(0, 0, 1);
    camera.lookAt(target);
    camera.updateMatrixWorld();
    renderer.render(scene, camera);
    const r = renderer.domElement.getBoundingClientRect(), where = [];
    for (const l of labels) {
      const p = l.at.clone().project(camera);
      const x = (p.x + 1) / 2 * width, y = (1 - p.y) / 2 * height;
      const shown = p.z < 1 && x >= 0 && x < width && y >= 0 && y < height;
      l.e.style.display = shown ? '' : 'none';
      l.e.style.left = (x + 6) + 'px';
      l.e.style.top = (y - 18) + 'px';
      if (shown) where.push({id: l.id, feature: l.feature, side: l.side,
          x: r.left + window.scrollX + x, y: r.top + window.scrollY + y, e: l.e});
    }
    for (const w of where) {  // each label's own box, which may cover another's point
      const b = w.e.getBoundingClientRect();
      w.box = [b.left + window.scrollX, b.top + window.scrollY, b.width, b.height];
      delete w.e;
    }
    box.dataset.projected = JSON.stringify(where);
    box.dataset.canvas = JSON.stringify([r.left + window.scrollX, r.top + window.scrollY, width, height]);
  }
  let drag = null;
  renderer.domElement.addEventListener('pointerdown', e => {
    drag = {x: e.clientX, y: e.clientY, pan: e.shiftKey || e.button === 2};
    renderer.domElement.setPointerCapture(e.pointerId);
  });
  renderer.domElement.addEventListener('pointerup', () => { drag = null; });
  renderer.domElement.addEventListener('contextmenu', e => e.preventDefault());
  renderer.domElement.addEventListener('pointermove', e => {
    if (!drag) return;
    const dx = e.clientX - drag.x, dy = e.clientY - drag.y;
    drag.x = e.clientX, drag.y = e.clientY;
    if (drag.pan) {
      const s = distance * Math.tan(Math.PI / 12) * 2 / height;
      const right = new THREE.Vector3().setFromMatrixColumn(camera.matrixWorld, 0);
      const up = new THREE.Vector3().setFromMatrixColumn(camera.matrixWorld, 1);
      target.addScaledVector(right, -dx * s).addScaledVector(up, dy * s);
    } else {
      theta -= dx * 0.01;
      phi = Math.min(Math.PI - 0.01, Math.max(0.01, phi - dy * 0.01));
    }
    draw();
  });
  renderer.domElement.addEventListener('wheel', e => {
    e.preventDefault();
    distance *= Math.exp(e.deltaY * 0.001);
    draw();
  }, {passive: false});
  draw();
  box.dataset.ready = '1';
}
main().catch(e => {
  status.style.display = '';
  status.textContent = 'The 3D view could not be drawn (' + e.message + '): see the static views below.';
  box.dataset.ready = '0';
});
)JS";

}  // namespace

void writeReport(std::ostream& html, const ReportInputs& in) {
  const auto& fs = in.inspection->features();
  const auto& points = *in.points;
  const auto& results = *in.results;
  const auto& summaries = *in.summaries;
  const auto& skipped = *in.skipped;
  const std::string unit = in.units.empty() ? "" : " " + in.units.substr(0, in.units.find(','));
  const std::string unitWords = in.units.empty()
                                    ? ", in the nominal's units (it does not state them)"
                                    : ", in " + escaped(in.units);

  // Per feature: the spread that scales an open band, the worst point, the deviations.
  std::vector<double> spread(fs.size(), 0);
  std::vector<std::pair<int, double>> worstScore(fs.size(), {-1, 0.0});
  std::vector<std::size_t> worst(fs.size(), results.size());
  std::vector<std::vector<double>> devs(fs.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    const gmInspectedPoint& r = results[i];
    if (r.feature < 0) continue;
    const auto k = static_cast<std::size_t>(r.feature);
    devs[k].push_back(r.deviation);
    const double lo = fs[k].lower(), hi = fs[k].upper();
    const double from = std::isfinite(lo) ? lo : std::isfinite(hi) ? hi : 0;
    if (std::isfinite(r.deviation)) spread[k] = std::max(spread[k], std::fabs(r.deviation - from));
    const std::pair<int, double> b = pointBadness(fs[k], r);
    if (b > worstScore[k]) worstScore[k] = b, worst[k] = i;
  }
  std::vector<Band> bands;
  for (std::size_t k = 0; k < fs.size(); ++k) bands.push_back(bandOf(fs[k], spread[k]));
  auto colourOf = [&](const gmInspectedPoint& r) {
    const Band& b = bands[static_cast<std::size_t>(r.feature)];
    return colourAt(b.position(r.deviation), r.inTolerance);
  };
  std::vector<Verdict> verdicts;
  std::size_t failing = 0, notJudged = 0;
  for (std::size_t k = 0; k < fs.size(); ++k) {
    verdicts.push_back(verdictOf(fs[k], summaries[k]));
    failing += verdicts.back() == FAIL, notJudged += verdicts.back() == NOT_JUDGED;
  }

  // The points shown: every point out of tolerance up to its cap (past it the farthest out),
  // an even subset of the others.
  std::vector<std::size_t> outside, inside;
  for (std::size_t i = 0; i < results.size(); ++i)
    if (results[i].feature >= 0) (results[i].inTolerance ? inside : outside).push_back(i);
  const std::size_t outsideTotal = outside.size(), insideTotal = inside.size();
  if (outside.size() > kMaxOutsideShown) {
    auto score = [&](std::size_t i) {
      return pointBadness(fs[static_cast<std::size_t>(results[i].feature)], results[i]);
    };
    std::nth_element(outside.begin(), outside.begin() + kMaxOutsideShown, outside.end(),
                     [&](std::size_t a, std::size_t b) { return score(a) > score(b); });
    outside.resize(kMaxOutsideShown);
    std::sort(outside.begin(), outside.end());
  }
  if (inside.size() > kMaxInsideShown) {
    std::vector<std::size_t> subset;
    for (std::size_t k = 0; k < kMaxInsideShown; ++k)
      subset.push_back(inside[k * insideTotal / kMaxInsideShown]);
    inside.swap(subset);
  }
  std::string caption;
  if (outside.size() == outsideTotal && inside.size() == insideTotal) {
    caption = "All " + group(insideTotal + outsideTotal) + " judged points are shown (" +
              group(outsideTotal) + " out of tolerance).";
  } else {
    caption = "Shown: " + group(outside.size()) + " of the " + group(outsideTotal) +
              " points out of tolerance" +
              (outside.size() == outsideTotal ? " (all of them)"
                                              : " (those farthest outside their band; at most " +
                                                    group(kMaxOutsideShown) + " are drawn)") +
              ", and " + group(inside.size()) + " of the " + group(insideTotal) +
              " points in tolerance" +
              (inside.size() == insideTotal
                   ? " (all of them)"
                   : " (an even subset in input order, about one in " +
                         num(static_cast<double>(insideTotal) / inside.size(), 1) + ")") +
              ".";
  }
  if (!in.shownOf.empty()) caption = in.shownOf;  // a cloud's subset: counted by the caller

  // --- The document.
  const std::string title = "Inspection of " + escaped(in.nominalPath);
  html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" << title
       << "</title>\n<style>" << kStyle << "</style></head><body>\n";
  html << "<h1>" << title << "</h1>\n<table class=\"head\">\n";
  html << fileRow("Part (nominal)", in.nominalPath) << fileRow("Measured points", in.measuredPath);
  html << "<tr><th>Date and time (UTC)</th><td>" << utcNow()
       << "</td></tr>\n<tr><th>Software</th><td>qorv " << QORV_VERSION_STRING << " (tool), library "
       << escaped(qorvVersion()) << "</td></tr>\n<tr><th>Units</th><td>"
       << (in.units.empty() ? "not stated by the nominal" : escaped(in.units))
       << "</td></tr>\n<tr><th>Alignment</th><td>";
  if (in.alignMethod.empty()) {
    html << "none: the points were taken in the nominal's frame";
  } else {
    const gmAlignment& a = in.alignment;
    html << escaped(in.alignMethod) << ": residual rms " << num(a.rms) << unit << ", largest "
         << num(a.maxResidual) << unit << ", " << a.used << " points, " << a.iterations
         << " iterations; turns " << num(a.angles[0], 4) << "&#176;, " << num(a.angles[1], 4)
         << "&#176;, " << num(a.angles[2], 4) << "&#176;, shift (" << num(a.translation[0]) << ", "
         << num(a.translation[1]) << ", " << num(a.translation[2]) << ")" << unit;
  }
  html << "</td></tr>\n<tr><th>Probe diameter</th><td>";
  bool perPoint = false;
  for (const gmMeasuredPoint& p : points) perPoint = perPoint || p.diameter >= 0;
  if (in.probeDiameterGiven)
    html << num(in.probeDiameter) << unit
         << (perPoint ? " (points that give their own keep it)" : "");
  else
    html << (perPoint ? "as each point gives it (points that give none: uncompensated)"
                      : "none given: points judged uncompensated");
  html << "</td></tr>\n<tr><th>Points</th><td>" << group(in.inspected) << " inspected, "
       << group(in.notJudged) << " skipped, " << group(in.unassigned)
       << " unassigned, <span class=\"" << (in.outside ? "bad" : "") << "\">" << group(in.outside)
       << " out of tolerance</span></td></tr>\n<tr><th>Result</th><td><span class=\"verdict "
       << (failing     ? "FAIL"
           : notJudged ? "NOT"
                       : "PASS")
       << "\">&#160;"
       << (failing     ? "FAIL"
           : notJudged ? "NOT JUDGED"
                       : "PASS")
       << "&#160;</span> " << failing << " of " << fs.size() << " features fail"
       << (notJudged ? ", " + std::to_string(notJudged) + " not judged" : "")
       << "</td></tr>\n</table>\n";
  // Left blank for the people who answer for the result.
  html << "<table class=\"sign\"><tr><th>Inspected by</th><th>Approved "
          "by</th></tr><tr><td>name<br><br>"
          "signature<br><br>date</td><td>name<br><br>signature<br><br>date</td></tr></table>\n";

  // The feature table.
  std::vector<std::size_t> order(fs.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  if (in.failuresFirst)
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return verdicts[a] < verdicts[b]; });
  html << "<h2>Features</h2>\n<p>Deviations along the outward normal (positive: more material than "
          "nominal)"
       << unitWords << (in.failuresFirst ? "; failures first." : "; in the nominal's order.")
       << "</p>\n<table id=\"features\"><tr><th class=\"l\">feature</th><th "
          "class=\"l\">kind</th><th>nominal</th>"
       << "<th>actual</th><th>points</th><th>min</th><th>max</th><th>mean</th><th>std "
          "dev</th><th>profile of a surface</th>"
       << "<th>out</th><th class=\"l\">worst point</th><th>verdict</th></tr>\n";
  for (std::size_t k : order) {
    const gmFeatureSummary& s = summaries[k];
    const bool any = s.stats.num_projected() > 0;
    html << "<tr data-feature=\"" << escaped(fs[k].id()) << "\"><td class=\"l\">"
         << escaped(fs[k].id()) << "</td><td class=\"l\">" << fs[k].label() << "</td><td>"
         << nominalText(fs[k], unit) << "</td><td>" << actualText(fs[k], s) << "</td><td>"
         << s.stats.num_projected() << "</td><td>" << (any ? num(s.stats.min_value()) : "-")
         << "</td><td>" << (any ? num(s.stats.max_value()) : "-") << "</td><td>"
         << (any ? num(s.stats.mean()) : "-") << "</td><td>"
         << (any ? num(s.stats.standard_deviation()) : "-") << "</td><td>"
         << signedNum(fs[k].lower()) << " / " << signedNum(fs[k].upper()) << "</td><td"
         << (s.outOfTolerance ? " class=\"bad\"" : "") << ">" << s.outOfTolerance
         << "</td><td class=\"l\">";
    if (worst[k] < results.size())
      html << escaped(points[worst[k]].id) << " (line " << points[worst[k]].line << ", "
           << signedNum(results[worst[k]].deviation) << ")";
    else
      html << "-";
    html << "</td><td class=\"verdict "
         << (verdicts[k] == NOT_JUDGED ? "NOT" : verdictWord(verdicts[k])) << "\">"
         << verdictWord(verdicts[k]) << "</td></tr>\n";
  }
  html << "</table>\n";

  html << "<h2>Deviations by feature</h2>\n";
  legend(html, unitWords);
  for (std::size_t k : order)
    if (!devs[k].empty())
      histogram(html, fs[k], bands[k], devs[k], in.units.substr(0, in.units.find(',')));

  // The 3D view: faces, points and labels as data for the script.
  ERMinimax3D box;
  for (const gmInspectionFeature& f : fs)
    if (f.problem().empty() && !f.box().invalid()) box.Update(f.box());
  // The part frames the view; a gross outlier far off is drawn, but does not shrink the part.
  if (box.invalid())
    for (const auto* set : {&inside, &outside})
      for (std::size_t i : *set)
        if (std::isfinite(results[i].calculated.x() + results[i].calculated.y() +
                          results[i].calculated.z()))
          box.Update(results[i].calculated);
  const double diagonal = box.invalid() ? 0 : box.diagonal();
  const ERPoint3D origin =
      std::isfinite(diagonal) && diagonal > 0 ? box.center_point() : ERPoint3D();

  {
    std::ostringstream d;
    d << "{\"radius\": " << jsonNumber(std::isfinite(diagonal) && diagonal > 0 ? diagonal / 2 : 1)
      << ", \"meshes\": [";
    bool first = true;
    std::size_t vertices = 0, leftOut = 0;
    for (const gmInspectionFeature& f : fs) {
      ReportMesh m;
      if (std::isfinite(diagonal) && diagonal > 0)
        tessellateFeature(f, diagonal / 1000, origin, kMaxVertices - vertices, m);
      leftOut += m.cut;
      if (m.triangles.empty()) continue;
      vertices += m.positions.size() / 3;
      d << (first ? "" : ",") << "\n{\"id\": " << scriptString(f.id()) << ", \"positions\": \""
        << base64Floats(m.positions) << "\", \"triangles\": \"" << base64Indices(m.triangles)
        << "\"}";
      first = false;
    }
    d << "]";
    for (const auto* set : {&inside, &outside}) {
      std::vector<float> at;
      std::vector<unsigned char> colours;
      for (std::size_t i : *set) {
        const ERPoint3D p = results[i].calculated;
        const double c[3] = {p.x() - origin.x(), p.y() - origin.y(), p.z() - origin.z()};
        if (!(std::fabs(c[0]) + std::fabs(c[1]) + std::fabs(c[2]) < 1e38))
          continue;  // beyond a float
        for (double v : c) at.push_back(static_cast<float>(v));
        const Rgb rgb = colourOf(results[i]);
        for (int v : {rgb.r, rgb.g, rgb.b}) colours.push_back(static_cast<unsigned char>(v));
      }
      d << ", \"" << (set == &inside ? "inside" : "outside") << "\": {\"positions\": \""
        << base64Floats(at) << "\", \"colours\": \"" << base64(colours.data(), colours.size())
        << "\"}";
    }
    // Labels: each failing feature's worst point, then the farthest out overall, ten at most.
    std::vector<std::size_t> labelled;
    for (std::size_t k = 0; k < fs.size(); ++k)
      if (verdicts[k] == FAIL && worst[k] < results.size() && !results[worst[k]].inTolerance)
        labelled.push_back(worst[k]);
    std::vector<std::size_t> byBadness = outside;
    const std::size_t extra = std::min<std::size_t>(byBadness.size(), 10);
    std::partial_sort(
        byBadness.begin(), byBadness.begin() + static_cast<std::ptrdiff_t>(extra), byBadness.end(),
        [&](std::size_t a, std::size_t b) {
          return pointBadness(fs[static_cast<std::size_t>(results[a].feature)], results[a]) >
                 pointBadness(fs[static_cast<std::size_t>(results[b].feature)], results[b]);
        });
    for (std::size_t k = 0; k < extra && labelled.size() < 10; ++k)
      if (std::find(labelled.begin(), labelled.end(), byBadness[k]) == labelled.end())
        labelled.push_back(byBadness[k]);
    d << ", \"labels\": [";
    first = true;
    for (std::size_t i : labelled) {
      const gmInspectedPoint& r = results[i];
      const ERPoint3D p = r.calculated;
      if (!std::isfinite(p.x() + p.y() + p.z())) continue;
      const std::string& feature = fs[static_cast<std::size_t>(r.feature)].id();
      d << (first ? "" : ",") << "\n{\"id\": " << scriptString(points[i].id)
        << ", \"feature\": " << scriptString(feature) << ", \"side\": \""
        << (r.inTolerance                                                     ? "inside"
            : r.deviation < bands[static_cast<std::size_t>(r.feature)].centre ? "below"
                                                                              : "above")
        << "\", \"text\": "
        << scriptString(points[i].id + " " + feature + " " + signedNum(r.deviation))
        << ", \"at\": [" << jsonNumber(p.x() - origin.x()) << ", " << jsonNumber(p.y() - origin.y())
        << ", " << jsonNumber(p.z() - origin.z()) << "]}";
      first = false;
    }
    d << "]}";
    html << "<section id=\"section3d\"><h2>3D view</h2>\n<div id=\"view3d\"><div class=\"status\">"
            "The 3D view needs a browser with JavaScript and WebGL; the static views below show "
            "the same points.</div></div>\n<p>"
         << caption
         << " Points out of tolerance are drawn over the faces, never hidden by them; the worst "
            "point of each failing feature and the farthest out overall are labelled. Drag to "
            "turn, shift-drag (or the right button) to move, the wheel to zoom. Faces are drawn "
            "to within "
         << num(diagonal / 1000, 4) << unit << " of the nominal"
         << (leftOut ? "; " + std::to_string(leftOut) + " features are left out, past the view's " +
                           group(kMaxVertices) + " vertices"
                     : "")
         << ".</p></section>\n";
    html << "<script type=\"application/json\" id=\"report-data\">" << d.str() << "</script>\n";
    html << "<script type=\"text/plain\" id=\"three-module\">";
    html.write(kThreeModule, static_cast<std::streamsize>(kThreeModule_size));
    html << "</script>\n<script type=\"module\">" << kViewScript << "</script>\n";
  }

  // The static views, for printing and for browsers without WebGL.
  html << "<h2>Views</h2>\n<p>" << caption
       << " Points out of tolerance are drawn larger, with a dark ring.</p>\n";
  ERMinimax3D pointBox;
  for (const auto* set : {&inside, &outside})
    for (std::size_t i : *set)
      if (std::isfinite(results[i].calculated.x() + results[i].calculated.y() +
                        results[i].calculated.z()))
        pointBox.Update(results[i].calculated);
  const char* names[3] = {"top (x, y)", "front (x, z)", "side (y, z)"};
  const int axes[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  for (int v = 0; v < 3; ++v) {
    constexpr int S = 420, M = 20;
    auto coord = [&](const ERPoint3D& p, int a) {
      return a == 0 ? p.x() : (a == 1 ? p.y() : p.z());
    };
    const ERPoint3D lo = pointBox.invalid() ? ERPoint3D() : pointBox.MinPoint();
    const ERPoint3D hi = pointBox.invalid() ? ERPoint3D(1, 1, 1) : pointBox.MaxPoint();
    const double ex = coord(hi, axes[v][0]) - coord(lo, axes[v][0]),
                 ey = coord(hi, axes[v][1]) - coord(lo, axes[v][1]);
    const double span = std::max({ex, ey, 1e-300});
    html << "<figure><svg class=\"view\" width=\"" << S << "\" height=\"" << S
         << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
    for (const auto* set : {&inside, &outside})
      for (std::size_t i : *set) {
        const gmInspectedPoint& r = results[i];
        const double px =
            M + (coord(r.calculated, axes[v][0]) - coord(lo, axes[v][0])) / span * (S - 2 * M);
        const double py =
            S - M - (coord(r.calculated, axes[v][1]) - coord(lo, axes[v][1])) / span * (S - 2 * M);
        if (!std::isfinite(px + py)) continue;
        html << "<circle cx=\"" << num(px, 1) << "\" cy=\"" << num(py, 1) << "\" r=\""
             << (r.inTolerance ? "2.5" : "4.5") << "\" fill=\"" << hex(colourOf(r)) << "\""
             << (r.inTolerance ? "" : " stroke=\"#000\" stroke-width=\"1.2\"") << "/>\n";
      }
    html << "</svg><figcaption>" << names[v] << "</figcaption></figure>\n";
  }

  if (!skipped.empty()) {
    constexpr std::size_t kListed = 500;
    html << "<h2>Skipped</h2>\n<table><tr><th>line</th><th class=\"l\">reason</th></tr>\n";
    for (std::size_t k = 0; k < skipped.size() && k < kListed; ++k)
      html << "<tr><td>" << skipped[k].line << "</td><td class=\"l\">" << escaped(skipped[k].reason)
           << "</td></tr>\n";
    html << "</table>\n";
    if (skipped.size() > kListed)
      html << "<p>The first " << kListed << " of " << group(skipped.size())
           << " are listed; --format csv or json lists them all.</p>\n";
  }
  html << "</body></html>\n";
}

std::pair<int, double> pointBadness(const gmInspectionFeature& f, const gmInspectedPoint& r) {
  const double lo = f.lower(), hi = f.upper(), d = r.deviation;
  if (std::isnan(d)) return {1, HUGE_VAL};
  if (d < lo || d > hi) return {1, d < lo ? lo - d : d - hi};
  return {0, std::isfinite(lo + hi) ? std::fabs(d - (lo + hi) / 2) : std::fabs(d)};
}

std::string findChromium() {
  if (const char* given = std::getenv("QORV_CHROMIUM"); given != nullptr)
    return ::access(given, X_OK) == 0 ? given : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (const char* name : {"chromium", "chromium-browser"}) {
    std::size_t start = 0;
    while (start <= dirs.size()) {
      const std::size_t end = std::min(dirs.find(':', start), dirs.size());
      const std::string candidate =
          (end > start ? dirs.substr(start, end - start) : ".") + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
  }
  return "";
}

std::string printPdf(const std::string& chromium, const std::string& htmlPath,
                     const std::string& pdf) {
  namespace fs = std::filesystem;
  std::error_code ec;
  char pattern[] = "/tmp/qorv-print-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return "cannot make a folder for the browser";
  const fs::path scratch = pattern;
  const std::string printed = (scratch / "report.pdf").string();
  // A file URL: bytes other than unreserved ones and '/' are percent-encoded (a '#' or a space
  // in a folder's name would otherwise cut the path).
  std::string page = "file://";
  for (unsigned char c : fs::absolute(htmlPath, ec).string()) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      page += static_cast<char>(c);
    } else {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%%%02X", c);
      page += buffer;
    }
  }
  std::vector<std::string> args = {chromium,
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--user-data-dir=" + (scratch / "profile").string(),
                                   "--no-pdf-header-footer",
                                   "--virtual-time-budget=10000",
                                   "--print-to-pdf=" + printed,
                                   page};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, chromium.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  std::string why;
  if (spawned != 0) {
    why = "cannot start " + chromium;
  } else {
    // A browser that hangs is stopped: the report is not worth a stuck tool.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        why = chromium + " did not finish printing within 180 s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::ifstream check(printed, std::ios::binary);
    char head[5] = {};
    check.read(head, 5);
    if (why.empty() && std::string(head, 5) != "%PDF-") why = chromium + " printed no PDF";
  }
  if (why.empty()) {
    fs::rename(printed, pdf, ec);
    if (ec) {  // another file system: copy, then the copy replaces the target
      const std::string near = pdf + ".printing";
      fs::copy_file(printed, near, fs::copy_options::overwrite_existing, ec);
      if (!ec) fs::rename(near, pdf, ec);
      if (ec) why = "cannot be written (" + ec.message() + ")", fs::remove(near, ec);
    }
  }
  fs::remove_all(scratch, ec);
  return why;
}

}  // namespace qorv::tool

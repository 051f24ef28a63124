#include "viewer/svg.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "viewer/wrinkles.h"

namespace viewer {

namespace {

// clang-format off
// The viridis map (the published 256-entry table) sampled at t = i/32,
// red, green, blue in 0..1. Linear interpolation between these samples
// stays within 1.7/255 of the full table.
constexpr std::array<std::array<double, 3>, 33> kViridis{{
    {0.267004, 0.004874, 0.329415},  // t = 0/32
    {0.276987, 0.050151, 0.375542},  // t = 1/32
    {0.282302, 0.094624, 0.417024},  // t = 2/32
    {0.282902, 0.135449, 0.453035},  // t = 3/32
    {0.278919, 0.174879, 0.482972},  // t = 4/32
    {0.270788, 0.213324, 0.506643},  // t = 5/32
    {0.259266, 0.250672, 0.524378},  // t = 6/32
    {0.245374, 0.286704, 0.536971},  // t = 7/32
    {0.230223, 0.321297, 0.545488},  // t = 8/32
    {0.214836, 0.354470, 0.551027},  // t = 9/32
    {0.199995, 0.386377, 0.554533},  // t = 10/32
    {0.186132, 0.417256, 0.556682},  // t = 11/32
    {0.173302, 0.447386, 0.557850},  // t = 12/32
    {0.161265, 0.477036, 0.558125},  // t = 13/32
    {0.149668, 0.506440, 0.557329},  // t = 14/32
    {0.138415, 0.535767, 0.555090},  // t = 15/32
    {0.128148, 0.565107, 0.550893},  // t = 16/32
    {0.120875, 0.594465, 0.544158},  // t = 17/32
    {0.120325, 0.623765, 0.534308},  // t = 18/32
    {0.130961, 0.652859, 0.520817},  // t = 19/32
    {0.155378, 0.681539, 0.503240},  // t = 20/32
    {0.192974, 0.709556, 0.481231},  // t = 21/32
    {0.241467, 0.736626, 0.454543},  // t = 22/32
    {0.298636, 0.762445, 0.423019},  // t = 23/32
    {0.362859, 0.786695, 0.386589},  // t = 24/32
    {0.432985, 0.809056, 0.345271},  // t = 25/32
    {0.508094, 0.829231, 0.299221},  // t = 26/32
    {0.587266, 0.846982, 0.248871},  // t = 27/32
    {0.669358, 0.862217, 0.195444},  // t = 28/32
    {0.752867, 0.875089, 0.142650},  // t = 29/32
    {0.835913, 0.886110, 0.102462},  // t = 30/32
    {0.916550, 0.896130, 0.100822},  // t = 31/32
    {0.993248, 0.906157, 0.143936},  // t = 32/32
}};
// clang-format on

// Picture layout, in user units (pixels at the natural size).
constexpr double kWidth = 800.0;
constexpr double kHeight = 600.0;
constexpr double kPlotLeft = 20.0, kPlotTop = 20.0, kPlotRight = 650.0, kPlotBottom = 520.0;
constexpr double kBarLeft = 690.0, kBarWidth = 20.0, kBarTop = 70.0, kBarBottom = 470.0;

// A wrinkling model's states: a slack element is filled grey instead of by
// its stress (it has none), a wrinkled one is hatched along its wrinkles in
// a colour the viridis map does not hold.
constexpr std::array<int, 3> kSlackFill{200, 200, 200};
constexpr const char* kWrinkleColour = "#d62728";

// The camera: the model turned about Z by the azimuth, then seen from above
// at the elevation angle, in parallel projection.
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;
constexpr double kAzimuth = -30.0 * kPi / 180.0;
constexpr double kElevation = 35.0 * kPi / 180.0;

struct Projected {
  double right;  // across the picture
  double up;     // up the picture
  double depth;  // away from the viewer: larger is farther
};

Projected project(const std::array<double, 3>& p) {
  const double ca = std::cos(kAzimuth), sa = std::sin(kAzimuth);
  const double ce = std::cos(kElevation), se = std::sin(kElevation);
  const double x1 = p[0] * ca - p[1] * sa;
  const double y1 = p[0] * sa + p[1] * ca;
  return {x1, y1 * se + p[2] * ce, y1 * ce - p[2] * se};
}

std::string hex(const std::array<int, 3>& c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
  return buf;
}

std::string fixed(double v, int decimals) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// A value for people: three significant digits (four for the caption).
std::string short_number(double v, int digits) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v == 0.0 ? 0.0 : v);  // no "-0"
  return buf;
}

// Edges of the reference mesh that belong to one triangle only: the
// outline of the membrane and of any holes in it. Sorted, so the picture
// does not depend on hashing.
std::vector<std::pair<int, int>> boundary_edges(const Mesh& mesh) {
  std::vector<std::pair<int, int>> edges;
  edges.reserve(mesh.tri.size() * 3);
  for (const auto& t : mesh.tri) {
    for (std::size_t v = 0; v < 3; ++v) {
      const int a = t[v], b = t[(v + 1) % 3];
      edges.emplace_back(std::min(a, b), std::max(a, b));
    }
  }
  std::sort(edges.begin(), edges.end());
  std::vector<std::pair<int, int>> once;
  for (std::size_t i = 0; i < edges.size();) {
    std::size_t j = i + 1;
    while (j < edges.size() && edges[j] == edges[i]) ++j;
    if (j - i == 1) once.push_back(edges[i]);
    i = j;
  }
  return once;
}

}  // namespace

std::array<int, 3> viridis(double t) {
  if (!(t > 0.0)) t = 0.0;  // NaN too
  if (t > 1.0) t = 1.0;
  const double x = t * static_cast<double>(kViridis.size() - 1);
  const auto i = std::min(static_cast<std::size_t>(x), kViridis.size() - 2);
  const double f = x - static_cast<double>(i);
  std::array<int, 3> c{};
  for (std::size_t j = 0; j < 3; ++j) {
    const double v = kViridis[i][j] + (kViridis[i + 1][j] - kViridis[i][j]) * f;
    c[j] = static_cast<int>(std::lround(v * 255.0));
  }
  return c;
}

double magnification(double largest_displacement, double size) {
  if (!(largest_displacement > 0.0) || !(size > 0.0) || largest_displacement >= 0.1 * size) return 1.0;
  // The largest nice factor (1, 2 or 5 times a power of ten) that lifts the
  // largest displacement to at most 20 % of the model's size.
  const double target = 0.2 * size / largest_displacement;
  double decade = std::pow(10.0, std::floor(std::log10(target)));
  double best = decade;
  for (const double step : {2.0, 5.0, 10.0}) {
    if (step * decade <= target) best = step * decade;
  }
  return std::max(best, 1.0);
}

double edge_strength(double side_px) {
  // Full edges from 20 px sides up, none below 5 px.
  return std::clamp((side_px - 5.0) / 15.0, 0.0, 1.0);
}

namespace {

// The largest displacement, for the caption and the magnification: its
// length and its node (0-based; 0 when every displacement is zero).
struct Largest {
  double length = 0.0;
  std::size_t node = 0;
};

Largest largest_displacement(const Report& report, std::size_t nnode) {
  Largest l;
  for (std::size_t k = 0; k < nnode; ++k) {
    const auto& d = report.displacement[k];
    const double len = std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
    if (len > l.length) {
      l.length = len;
      l.node = k;
    }
  }
  return l;
}

// Size of the model: the longest side of its reference bounding box.
double model_size(const Mesh& mesh) {
  std::array<double, 3> box_lo{kInf, kInf, kInf}, box_hi{-kInf, -kInf, -kInf};
  for (const auto& x : mesh.node) {
    for (std::size_t j = 0; j < 3; ++j) {
      box_lo[j] = std::min(box_lo[j], x[j]);
      box_hi[j] = std::max(box_hi[j], x[j]);
    }
  }
  double size = 0.0;
  for (std::size_t j = 0; j < 3 && !mesh.node.empty(); ++j) size = std::max(size, box_hi[j] - box_lo[j]);
  return size;
}

// Every node seen by the camera: where it is drawn (the deformed position,
// displacements times `factor`) and where it stood.
struct Projection {
  std::vector<Projected> def;  // #nodes: drawn positions
  std::vector<Projected> ref;  // #nodes: reference positions
};

Projection project_nodes(const Mesh& mesh, const Report& report, double factor) {
  const std::size_t nnode = mesh.node.size();
  Projection p{std::vector<Projected>(nnode), std::vector<Projected>(nnode)};
  for (std::size_t k = 0; k < nnode; ++k) {
    const auto& x = mesh.node[k];
    const auto& d = report.displacement[k];
    p.def[k] = project(factor == 1.0
                           ? report.position[k]
                           : std::array<double, 3>{x[0] + factor * d[0], x[1] + factor * d[1], x[2] + factor * d[2]});
    p.ref[k] = project(x);
  }
  return p;
}

// The map from the camera's plane to the picture that fits the drawn and
// the reference shape into the plot area with one scale, keeping the
// aspect, centred.
class Fit {
 public:
  explicit Fit(const Projection& p) {
    double lo_u = kInf, hi_r = -kInf;
    for (const auto* shape : {&p.def, &p.ref}) {
      for (const Projected& q : *shape) {
        lo_r_ = std::min(lo_r_, q.right);
        hi_r = std::max(hi_r, q.right);
        lo_u = std::min(lo_u, q.up);
        hi_u_ = std::max(hi_u_, q.up);
      }
    }
    if (p.def.empty()) lo_r_ = hi_r = lo_u = hi_u_ = 0.0;
    const double span_r = hi_r - lo_r_, span_u = hi_u_ - lo_u;
    const double plot_w = kPlotRight - kPlotLeft, plot_h = kPlotBottom - kPlotTop;
    if (span_r > 0.0 || span_u > 0.0) {
      scale_ = std::min(span_r > 0.0 ? plot_w / span_r : kInf, span_u > 0.0 ? plot_h / span_u : kInf);
    }
    off_x_ = kPlotLeft + 0.5 * (plot_w - span_r * scale_);
    off_y_ = kPlotTop + 0.5 * (plot_h - span_u * scale_);
  }

  double x(const Projected& p) const { return off_x_ + (p.right - lo_r_) * scale_; }
  double y(const Projected& p) const { return off_y_ + (hi_u_ - p.up) * scale_; }
  // Picture units per model unit.
  double scale() const { return scale_; }

 private:
  double lo_r_ = kInf, hi_u_ = -kInf;
  double scale_ = 1.0;
  double off_x_ = 0.0, off_y_ = 0.0;
};

// The range of the larger principal stress, which the colours span.
struct StressRange {
  double lo = 0.0, hi = 0.0;
  std::array<int, 3> colour(double s) const { return viridis(hi > lo ? (s - lo) / (hi - lo) : 0.5); }
};

// Writes the picture's parts into one text.
class Canvas {
 public:
  Canvas(const Mesh& mesh, const Projection& p, const Fit& fit) : mesh_(mesh), p_(p), fit_(fit) {
    // Fine meshes get one decimal: a tenth of a pixel is below what shows.
    decimals_ = mesh.tri.size() > 2000 ? 1 : 2;
    out_.reserve(mesh.tri.size() * 90 + 4096);
  }

  void open() {
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"600\" viewBox=\"0 0 800 600\">\n";
    out_ += "<rect width=\"" + fixed(kWidth, 0) + "\" height=\"" + fixed(kHeight, 0) + "\" fill=\"#ffffff\"/>\n";
  }

  // The deformed triangles, farthest first; a wrinkling model's slack ones
  // grey and its wrinkled ones hatched (wrinkles empty otherwise).
  void membrane(const Report& report, const StressRange& range, const Wrinkles& wrinkles) {
    const double strength = edge_strength(mean_side_px());
    // Each triangle is stroked in its own colour, which closes the hairline
    // seams anti-aliasing leaves between neighbours; on coarse meshes the
    // stroke is darkened towards the edge colour to show the elements.
    out_ += "<g id=\"membrane\" stroke-width=\"" + fixed(0.5 + 0.5 * strength, 2) + "\" stroke-linejoin=\"round\">\n";
    const std::array<int, 3> edge{32, 32, 32};
    for (const std::size_t e : painter_order()) {
      const auto& t = mesh_.tri[e];
      const int state = wrinkles.state.empty() ? kTaut : wrinkles.state[e];
      const std::array<int, 3> fill = state == kSlack ? kSlackFill : range.colour(report.stress1[e]);
      std::array<int, 3> stroke = fill;
      for (std::size_t j = 0; j < 3; ++j) {
        stroke[j] = static_cast<int>(std::lround(fill[j] + (edge[j] - fill[j]) * 0.7 * strength));
      }
      out_ += "<polygon points=\"";
      point(p_.def[static_cast<std::size_t>(t[0])]);
      out_ += ' ';
      point(p_.def[static_cast<std::size_t>(t[1])]);
      out_ += ' ';
      point(p_.def[static_cast<std::size_t>(t[2])]);
      out_ += "\" fill=\"" + hex(fill) + "\" stroke=\"" + hex(stroke) + "\"/>\n";
      if (state == kWrinkled) hatch(t, wrinkles.direction[e], strength);
    }
    out_ += "</g>\n";
  }

  // The legend of a wrinkling model's states, under the colour bar.
  void state_legend() {
    out_ += "<g id=\"states\" font-family=\"sans-serif\" font-size=\"13\" fill=\"#202020\">\n";
    out_ += "<path d=\"M" + fixed(kBarLeft - 10.0, 0) + ",496h6m3,0h6m3,0h6\" stroke=\"" + kWrinkleColour +
            "\" stroke-width=\"1.5\"/>";
    out_ += "<text x=\"" + fixed(kBarLeft + 24.0, 0) + "\" y=\"500\">wrinkled</text>\n";
    out_ += "<rect x=\"" + fixed(kBarLeft - 10.0, 0) + "\" y=\"508\" width=\"24\" height=\"10\" fill=\"" +
            hex(kSlackFill) + "\" stroke=\"#404040\"/>";
    out_ += "<text x=\"" + fixed(kBarLeft + 24.0, 0) + "\" y=\"518\">slack</text>\n";
    out_ += "</g>\n";
  }

  // The undeformed outline, on top so that it shows where the membrane
  // has moved away from it.
  void outline() {
    out_ += "<path id=\"outline\" fill=\"none\" stroke=\"#808080\" stroke-width=\"1.2\" stroke-dasharray=\"5 3\" d=\"";
    for (const auto& [a, b] : boundary_edges(mesh_)) {
      out_ += 'M';
      point(p_.ref[static_cast<std::size_t>(a)]);
      out_ += 'L';
      point(p_.ref[static_cast<std::size_t>(b)]);
    }
    out_ += "\"/>\n";
  }

  // Colour bar: largest value at the top.
  void colour_bar(const StressRange& range) {
    out_ += "<defs><linearGradient id=\"viridis\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">";
    for (int i = 0; i <= 32; ++i) {
      const double t = i / 32.0;
      out_ += "<stop offset=\"" + fixed(t, 4) + "\" stop-color=\"" + hex(viridis(t)) + "\"/>";
    }
    out_ += "</linearGradient></defs>\n";
    out_ += "<g id=\"colourbar\" font-family=\"sans-serif\" font-size=\"13\" fill=\"#202020\">\n";
    out_ += "<text x=\"" + fixed(kBarLeft - 10.0, 0) + "\" y=\"" + fixed(kBarTop - 18.0, 0) + "\">stress 1</text>\n";
    out_ += "<rect x=\"" + fixed(kBarLeft, 0) + "\" y=\"" + fixed(kBarTop, 0) + "\" width=\"" + fixed(kBarWidth, 0) +
            "\" height=\"" + fixed(kBarBottom - kBarTop, 0) + "\" fill=\"url(#viridis)\" stroke=\"#404040\"/>\n";
    const int ticks = range.hi > range.lo ? 5 : 1;
    for (int i = 0; i < ticks; ++i) {
      const double f = ticks > 1 ? i / static_cast<double>(ticks - 1) : 0.5;
      const double y = kBarBottom - f * (kBarBottom - kBarTop);
      const double value = range.lo + f * (range.hi - range.lo);
      out_ += "<path d=\"M" + fixed(kBarLeft + kBarWidth, 0) + ',' + fixed(y, 1) + "h5\" stroke=\"#404040\"/>";
      out_ += "<text x=\"" + fixed(kBarLeft + kBarWidth + 8.0, 0) + "\" y=\"" + fixed(y + 4.5, 1) + "\">" +
              short_number(value, 3) + "</text>\n";
    }
    out_ += "</g>\n";
  }

  // Caption: the largest displacement, the model's size, the scale of the
  // drawn displacements.
  void caption(const Largest& largest, double factor, const std::vector<ChamberResult>& chambers) {
    out_ += "<g id=\"caption\" font-family=\"sans-serif\" font-size=\"14\" fill=\"#202020\">\n";
    // A model with gas chambers: their final gauge pressure and volume, on
    // a line above the others (the first three chambers).
    if (!chambers.empty()) {
      std::string line;
      for (std::size_t k = 0; k < chambers.size() && k < 3; ++k) {
        line += (k > 0 ? " \xC2\xB7 " : "") + std::string("Chamber ") + std::to_string(k + 1) + ": gauge pressure " +
                short_number(chambers[k].gauge, 4) + ", volume " + short_number(chambers[k].volume, 4);
      }
      if (chambers.size() > 3) line += " \xC2\xB7 \xE2\x80\xA6";
      out_ += "<text x=\"20\" y=\"529\">" + line + "</text>\n";
    }
    out_ += "<text x=\"20\" y=\"553\">Largest displacement " + short_number(largest.length, 4);
    if (largest.length > 0.0) out_ += " at node " + std::to_string(largest.node + 1);
    out_ += " \xC2\xB7 " + std::to_string(mesh_.node.size()) + " nodes, " + std::to_string(mesh_.tri.size()) +
            " elements</text>\n";
    const std::string shape = factor == 1.0 ? std::string("Deformed shape at true scale")
                                            : "Deformed shape, displacements \xC3\x97 " + short_number(factor, 6);
    out_ += "<text x=\"20\" y=\"577\" font-size=\"13\" fill=\"#606060\">" + shape +
            ", coloured by the larger principal stress; dashed grey: undeformed outline</text>\n";
    out_ += "</g>\n";
  }

  std::string close() {
    out_ += "</svg>\n";
    return std::move(out_);
  }

 private:
  // Lines across the drawn triangle t along the projected tension line w:
  // one through the middle, three on triangles large enough to show them.
  void hatch(const std::array<int, 3>& t, const std::array<double, 3>& w, double strength) {
    const Projected d3 = project(w);  // the camera is linear: a direction projects alone
    double dx = d3.right;
    double dy = -d3.up;  // the picture's y runs down
    const double len = std::hypot(dx, dy);
    if (!(len > 1e-3)) return;  // seen end on: no line to draw
    dx /= len;
    dy /= len;
    double px[3];
    double py[3];
    double s[3];
    for (std::size_t v = 0; v < 3; ++v) {
      const Projected& q = p_.def[static_cast<std::size_t>(t[v])];
      px[v] = fit_.x(q);
      py[v] = fit_.y(q);
      s[v] = px[v] * -dy + py[v] * dx;  // across the lines
    }
    const double lo = std::min({s[0], s[1], s[2]});
    const double hi = std::max({s[0], s[1], s[2]});
    const int lines = strength > 0.5 ? 3 : 1;
    std::string d;
    for (int i = 1; i <= lines; ++i) {
      const double at = lo + (hi - lo) * i / (lines + 1.0);
      std::string line;
      int found = 0;
      for (std::size_t v = 0; v < 3 && found < 2; ++v) {
        const std::size_t u = (v + 1) % 3;
        if ((s[v] - at) * (s[u] - at) > 0.0 || s[v] == s[u]) continue;
        const double f = (at - s[v]) / (s[u] - s[v]);
        line += found == 0 ? 'M' : 'L';
        line += fixed(px[v] + f * (px[u] - px[v]), decimals_) + ',' + fixed(py[v] + f * (py[u] - py[v]), decimals_);
        ++found;
      }
      if (found == 2) d += line;  // a line that only touches a vertex draws nothing
    }
    if (d.empty()) return;
    out_ += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + kWrinkleColour + "\" stroke-width=\"" +
            fixed(0.6 + 0.6 * strength, 2) + "\"/>\n";
  }

  void point(const Projected& p) {
    out_ += fixed(fit_.x(p), decimals_);
    out_ += ',';
    out_ += fixed(fit_.y(p), decimals_);
  }

  // Mean side length on screen, which decides how strongly edges are drawn.
  double mean_side_px() const {
    double side_sum = 0.0;
    for (const auto& t : mesh_.tri) {
      for (std::size_t v = 0; v < 3; ++v) {
        const Projected& p = p_.def[static_cast<std::size_t>(t[v])];
        const Projected& q = p_.def[static_cast<std::size_t>(t[(v + 1) % 3])];
        side_sum += std::hypot(p.right - q.right, p.up - q.up) * fit_.scale();
      }
    }
    return mesh_.tri.empty() ? 0.0 : side_sum / (3.0 * static_cast<double>(mesh_.tri.size()));
  }

  // Painter's order: farthest centroid first; equal depths keep element order.
  std::vector<std::size_t> painter_order() const {
    const std::size_t nelem = mesh_.tri.size();
    std::vector<double> depth(nelem);
    for (std::size_t e = 0; e < nelem; ++e) {
      const auto& t = mesh_.tri[e];
      depth[e] = (p_.def[static_cast<std::size_t>(t[0])].depth + p_.def[static_cast<std::size_t>(t[1])].depth) +
                 p_.def[static_cast<std::size_t>(t[2])].depth;
    }
    std::vector<std::size_t> order(nelem);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return depth[a] > depth[b]; });
    return order;
  }

  const Mesh& mesh_;
  const Projection& p_;
  const Fit& fit_;
  int decimals_ = 2;
  std::string out_;
};

}  // namespace

std::string svg_document(const Mesh& mesh, const Report& report) {
  const Largest largest = largest_displacement(report, mesh.node.size());
  const double factor = magnification(largest.length, model_size(mesh));
  const Projection projection = project_nodes(mesh, report, factor);
  const Fit fit(projection);
  StressRange range;
  if (!report.stress1.empty() && !mesh.tri.empty()) {
    const auto [lo, hi] = std::minmax_element(report.stress1.begin(), report.stress1.end());
    range = {*lo, *hi};
  }

  const Wrinkles wrinkles = mesh.wrinkling ? wrinkles_of(mesh, report) : Wrinkles{};
  Canvas canvas(mesh, projection, fit);
  canvas.open();
  canvas.membrane(report, range, wrinkles);
  canvas.outline();
  canvas.colour_bar(range);
  if (mesh.wrinkling) canvas.state_legend();
  canvas.caption(largest, factor, report.chambers);
  return canvas.close();
}

}  // namespace viewer

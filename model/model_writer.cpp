#include "model/model_writer.h"

#include <bit>
#include <cstring>
#include <string_view>

#include "model/model_file.h"
#include "platform/number_image.h"

namespace solver::model_file {

namespace {

using std::int64_t;

// The images of the reals written, each distinct value formatted once.
// Large models repeat few values (a lattice has 2n + 1 distinct coordinates
// for some 10 n^2 written, a uniform pressure one), and a formatted print
// costs far more than copying its image. An image is a function of the
// value alone, so what is remembered cannot change a byte of the file.
//
// Each image is kept with the field separator before it, as most reals
// are written, in a slot of kRoom characters, which a line copies whole
// (a copy of a fixed size is a few moves, one of a variable size a call).
//
// Open addressing on the value's bits, grown to at most kMaxSlots; the
// table is kept at most half full, so a search always ends at an empty
// slot. Past that size further values are formatted without being kept.
class RealImages {
 public:
  static constexpr std::size_t kRoom = 32;

  struct Image {
    const char* text;  // kRoom characters readable
    std::size_t length;
  };

  // The last value written in one column of a section: a column often
  // repeats its value from line to line (a lattice row's Y, a flat sheet's
  // Z, a uniform pressure), and comparing with it costs less than a search.
  struct Column {
    std::uint64_t bits = 0;
    std::size_t slot = 0;
    std::size_t generation = 0;  // of the table the slot belongs to; 0: none
  };

  explicit RealImages(int aft) : aft_(aft), slots_(kFirstSlots) {}

  Image operator()(double v, Column& column) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    if (column.generation == generation_ && column.bits == bits) return image(slots_[column.slot]);
    const Slot* s = lookup(v, bits);
    if (s != &spare_) column = {bits, static_cast<std::size_t>(s - slots_.data()), generation_};
    return image(*s);
  }

  Image operator()(double v) { return image(*lookup(v, std::bit_cast<std::uint64_t>(v))); }

 private:
  struct Slot {
    std::uint64_t bits = 0;
    std::uint8_t length = 0;  // 0: empty
    char text[kRoom];
  };
  static constexpr std::size_t kFirstSlots = std::size_t{1} << 12;
  static constexpr std::size_t kMaxSlots = std::size_t{1} << 17;

  static Image image(const Slot& s) { return {s.text, s.length}; }

  // The slot of v's image, made when there is none: a slot of the table,
  // or spare_ when the table is full.
  const Slot* lookup(double v, std::uint64_t bits) {
    Slot* s = find(bits);
    if (s->length != 0) return s;
    if (used_ + 1 > slots_.size() / 2) {
      if (slots_.size() >= kMaxSlots) {
        s = &spare_;
      } else {
        grow();
        s = find(bits);
      }
    }
    if (s != &spare_) ++used_;
    scratch_ = kS;
    platform::append_real(scratch_, v, 2, aft_, 3);
    s->bits = bits;
    s->length = static_cast<std::uint8_t>(scratch_.size());
    std::memcpy(s->text, scratch_.data(), scratch_.size());
    return s;
  }

  // The slot holding bits, or the empty slot where it belongs.
  Slot* find(std::uint64_t bits) {
    const std::size_t mask = slots_.size() - 1;
    // Fibonacci hashing: the top bits of the product depend on every bit of
    // the value (short decimals differ in their high bits only).
    const int shift = 64 - std::countr_zero(slots_.size());
    std::size_t i = static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> shift);
    while (slots_[i].length != 0 && slots_[i].bits != bits) i = (i + 1) & mask;
    return &slots_[i];
  }

  void grow() {
    ++generation_;
    std::vector<Slot> old(2 * slots_.size());
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.length != 0) *find(s.bits) = s;
    }
  }

  int aft_;
  std::vector<Slot> slots_;
  std::size_t used_ = 0;
  std::size_t generation_ = 1;
  Slot spare_;
  std::string scratch_;
};

// A record line, built in place and written with one copy: the large
// sections are millions of short fields.
class Line {
 public:
  Line& integer(int64_t k) {
    p_ = platform::write_integer(p_, k, 5);
    return *this;
  }
  Line& sep() { return text(kS); }
  Line& text(std::string_view s) {
    std::memcpy(p_, s.data(), s.size());
    p_ += s.size();
    return *this;
  }
  Line& image(RealImages::Image image) {
    std::memcpy(p_, image.text, RealImages::kRoom);
    p_ += image.length;
    return *this;
  }
  template <class Sink>
  void end(Sink& f) {
    *p_++ = '\n';
    f.text({text_, static_cast<std::size_t>(p_ - text_)});
    p_ = text_;
  }

 private:
  // The longest record: eight fields, each at most a separator and a real
  // of 17 digits or an integer of 20 characters, and room for the last
  // image's whole slot.
  char text_[9 * RealImages::kRoom];
  char* p_ = text_;
};

// The text in memory: what a file would hold.
class TextSink {
 public:
  TextSink& text(std::string_view s) {
    text_.append(s);
    return *this;
  }
  TextSink& line_end() {
    text_.push_back('\n');
    return *this;
  }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

// Writes into a Sink: an OutputFile, or a TextSink.
template <class Sink>
class Writer {
 public:
  Writer(Sink& f, Reals reals) : f_(f), real_(reals == Reals::canonical ? 6 : 16) {}

  void parameters(const AnalysisParameters& p) {
    section(kParametersLabel);
    real(p.lstol).sep().integer(p.maxls).field(p.mntol).field(p.mnref);
    sep().integer(p.maxminor).sep().integer(p.maxlist).sep().integer(p.maxmajor).end();
  }

  void material(const Material& m) {
    section(kMaterialLabel);
    real(m.young).field(m.poisson).field(m.density).end();
  }

  void nodes(const std::vector<std::array<double, 3>>& nodes) {
    section(kNodesLabel);
    count(nodes.size());
    RealImages::Column x, y, z;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      integer(static_cast<int64_t>(k) + 1).field(nodes[k][0], x).field(nodes[k][1], y).field(nodes[k][2], z).end();
    }
  }

  void elements(const std::vector<std::array<std::int32_t, 3>>& elements) {
    section(kElementsLabel);
    count(elements.size());
    for (std::size_t e = 0; e < elements.size(); ++e) {
      const auto& v = elements[e];
      integer(static_cast<int64_t>(e) + 1).sep().integer(v[0]).sep().integer(v[1]).sep().integer(v[2]).end();
    }
  }

  void node_values(std::string_view label, const std::vector<NodeValue>& records) {
    section(label);
    count(records.size());
    RealImages::Column value;
    for (const NodeValue& r : records) integer(r.node).sep().integer(r.axis).field(r.value, value).end();
  }

  void pressures(const std::vector<ElementValue>& records) {
    section(kPressuresLabel);
    count(records.size());
    RealImages::Column value;
    for (const ElementValue& r : records) integer(r.element).field(r.value, value).end();
  }

  void extension(const Extension& x) {
    if (x.wrinkling) {
      section(kWrinklingLabel, ":wrinkling");
      line_.text(*x.wrinkling ? "on" : "off");
      end();
    }
    if (!x.prestress.empty()) {
      section(kPrestressLabel, ":prestress");
      count(x.prestress.size());
      for (const PrestressRange& p : x.prestress) {
        integer(p.first).sep().integer(p.last).field(p.n1).field(p.n2);
        field(p.direction[0]).field(p.direction[1]).field(p.direction[2]).end();
      }
    }
    if (!x.chambers.empty()) {
      section(kChambersLabel, ":chambers");
      count(x.chambers.size());
      for (const Chamber& c : x.chambers) {
        integer(c.number).field(c.kappa).field(c.ambient).field(c.gauge).field(c.volume);
        field(c.origin[0]).field(c.origin[1]).field(c.origin[2]).end();
      }
    }
    if (!x.enclosures.empty()) {
      section(kEnclosuresLabel, ":enclosures");
      count(x.enclosures.size());
      for (const Enclosure& e : x.enclosures) integer(e.first).sep().integer(e.last).sep().integer(e.chamber).end();
    }
  }

 private:
  // Every section but the first follows the two empty lines that end the
  // one before it.
  void section(std::string_view label, std::string_view marker = ":") {
    if (!first_) f_.line_end().line_end();  // the two empty lines that end a section
    first_ = false;
    f_.text(label).line_end().text(marker).line_end();
  }
  // A count greater than zero is followed by the empty line the reader
  // skips; a count of zero ends its section.
  void count(std::size_t n) {
    integer(static_cast<int64_t>(n)).end();
    if (n > 0) f_.line_end();
  }
  // A real that begins its line.
  Writer& real(double v) {
    const RealImages::Image image = real_(v);
    line_.text(std::string_view(image.text, image.length).substr(kS.size()));
    return *this;
  }
  // A real after the separator.
  Writer& field(double v) {
    line_.image(real_(v));
    return *this;
  }
  Writer& field(double v, RealImages::Column& column) {
    line_.image(real_(v, column));
    return *this;
  }
  Writer& integer(int64_t k) {
    line_.integer(k);
    return *this;
  }
  Writer& sep() {
    line_.sep();
    return *this;
  }
  void end() { line_.end(f_); }

  Sink& f_;
  RealImages real_;
  Line line_;
  bool first_ = true;
};

template <class Sink>
void write_into(const Description& model, Sink& f, Reals reals) {
  Writer<Sink> w(f, reals);
  w.parameters(model.parameters);
  w.material(model.material);
  w.nodes(model.nodes);
  w.elements(model.elements);
  w.node_values(kConstraintsLabel, model.constraints);
  w.node_values(kLoadsLabel, model.loads);
  w.pressures(model.pressures);
  w.extension(model.extension);
}

}  // namespace

void write(const Description& model, platform::OutputFile& f, Reals reals) { write_into(model, f, reals); }

std::string text(const Description& model, Reals reals) {
  TextSink sink;
  write_into(model, sink, reals);
  return std::move(sink.text());
}

Description describe(const analysis& a) {
  Description d;
  d.parameters = {a.lstol, a.maxls, a.mntol, a.mnref, a.maxminor, a.maxlist, a.maxmajor};
  d.material = {a.young, a.poisson, a.density};
  d.nodes.reserve(static_cast<std::size_t>(a.nnode));
  for (int k = 1; k <= a.nnode; ++k) d.nodes.push_back({a.coordx(k), a.coordy(k), a.coordz(k)});
  d.elements.reserve(static_cast<std::size_t>(a.nelem));
  bool pressed = false;
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    d.elements.push_back({el.node[0], el.node[1], el.node[2]});
    pressed = pressed || el.pressure != 0.0;
  }
  // The generators' layout: a pressure record for every element, or none.
  if (pressed) {
    d.pressures.reserve(static_cast<std::size_t>(a.nelem));
    for (int e = 1; e <= a.nelem; ++e) d.pressures.push_back({e, a.elem(e).pressure});
  }
  for (int k = 1; k <= a.nnode; ++k) {
    for (int j = 1; j <= 3; ++j) {
      if (a.dof(k, j) != 0) d.constraints.push_back({k, j, a.displ(k, j)});
      if (a.action(k, j) != 0.0) d.loads.push_back({k, j, a.action(k, j)});
    }
  }
  d.extension = a.extension;
  return d;
}

void write(const Description& model, const std::string& file_name, Reals reals) {
  platform::OutputFile f(file_name);
  write(model, f, reals);
  f.commit();
}

}  // namespace solver::model_file

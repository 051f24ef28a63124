#include "viewer/report.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/failure.h"
#include "platform/text_reader.h"

namespace viewer {

namespace {

constexpr std::string_view kDisplHeading = " Node             Displ X             Displ Y             Displ Z";
constexpr std::string_view kCoordHeading = " Node             Coord X             Coord Y             Coord Z";
constexpr std::string_view kStressHeading = "Element            Stress-1            Stress-2";
constexpr std::string_view kForceHeading = " Node             Force X             Force Y             Force Z";
constexpr std::string_view kChamberHeading =
    "Chamber              Volume            Pressure               Gauge    Reference Volume";

// The report's text line by line, with the number of the current line for
// failure messages ("output.txt:17: ...").
class Lines {
 public:
  Lines(const std::string& file_name, const std::string& text) : file_name_(file_name), text_(text) {}

  bool at_end() const { return pos_ >= text_.size(); }

  // The next line without its line end; EndError naming `what` when the
  // text has no further line.
  std::string_view next(const std::string& what) {
    if (at_end()) {
      throw platform::EndError(file_name_ + ":" + std::to_string(line_ + 1) + ": the file ends where " + what +
                               " was expected");
    }
    ++line_;
    const std::size_t nl = text_.find('\n', pos_);
    const std::size_t end = nl == std::string_view::npos ? text_.size() : nl;
    std::string_view s = text_.substr(pos_, end - pos_);
    pos_ = nl == std::string_view::npos ? text_.size() : nl + 1;
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    return s;
  }

  // The next line, which must read `expected` exactly.
  void expect(std::string_view expected, const std::string& what) {
    const std::string_view s = next(what);
    if (s != expected) fail("expected " + what + ", found " + quote(s));
  }

  [[noreturn]] void fail(const std::string& message) const {
    throw platform::DataError(file_name_ + ":" + std::to_string(line_) + ": " + message);
  }

  static std::string quote(std::string_view s) {
    constexpr std::size_t kMax = 40;
    std::string q = "\"";
    q.append(s.substr(0, kMax));
    if (s.size() > kMax) q += "...";
    q += '"';
    return q;
  }

 private:
  const std::string& file_name_;
  std::string_view text_;
  std::size_t pos_ = 0;
  std::int64_t line_ = 0;  // number of the line last returned by next()
};

// Splits a line into the next blank-separated word, advancing past it.
std::string_view next_word(std::string_view& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  std::size_t j = i;
  while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
  const std::string_view w = s.substr(i, j - i);
  s.remove_prefix(j);
  return w;
}

bool is_blank(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

std::int64_t to_int(const Lines& lines, std::string_view w, const std::string& what) {
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
  if (w.empty() || ec != std::errc() || end != w.data() + w.size()) {
    lines.fail("expected an integer (" + what + "), found " + Lines::quote(w));
  }
  return v;
}

// The report writes every real as a finite number in scientific form; a
// NaN or an infinity means the solution diverged and there is nothing to
// draw.
double to_real(const Lines& lines, std::string_view w, const std::string& what) {
  while (!w.empty() && w.front() == ' ') w.remove_prefix(1);
  double v = 0.0;
  const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
  if (w.empty() || ec != std::errc() || end != w.data() + w.size()) {
    lines.fail("expected a real (" + what + "), found " + Lines::quote(w));
  }
  if (!std::isfinite(v)) lines.fail(what + " is not a finite number: " + Lines::quote(w));
  return v;
}

// One summary line: a 48-character label, the value in 15 characters, " |".
std::string_view summary_value(Lines& lines, std::string_view caption) {
  const std::string what = "the summary line \"" + std::string(caption) + "\"";
  const std::string_view s = lines.next(what);
  if (s.size() != 65 || s.substr(0, 2) != "| " || s.substr(2, caption.size()) != caption || s.substr(46, 2) != "| " ||
      s.substr(63) != " |") {
    lines.fail("expected " + what + ", found " + Lines::quote(s));
  }
  return s.substr(48, 15);
}

void heading(Lines& lines, std::string_view caption, int rule, const std::string& table) {
  const std::string dashes(static_cast<std::size_t>(rule), '-');
  lines.expect(dashes, "the rule above the " + table + " heading");
  lines.expect(caption, "the " + table + " heading");
  lines.expect(dashes, "the rule below the " + table + " heading");
  lines.expect("", "the empty line below the " + table + " heading");
}

// Reads the `count` rows of a table of `reals` reals after the row number,
// then the two empty lines that close the table. The row numbers must run
// 1..count: a table of other length than the model is a report of another
// model.
template <class Store>
void table(Lines& lines,
           int count,
           int reals,
           const std::string& table_name,
           const char* row_name,
           const std::string& model_size,
           Store store) {
  for (int k = 1; k <= count; ++k) {
    std::string_view s = lines.next("line " + std::to_string(k) + " of the " + table_name);
    if (is_blank(s)) {
      lines.fail("the " + table_name + " ends after " + std::to_string(k - 1) + " " + row_name + "s, but " +
                 model_size + " " + row_name + "s");
    }
    const std::string row = std::string(row_name) + " " + std::to_string(k);
    const std::int64_t number = to_int(lines, next_word(s), row_name + std::string(" number"));
    if (number != k) {
      lines.fail("expected " + row + " in the " + table_name + ", found " + row_name + " " + std::to_string(number));
    }
    std::array<double, 3> v{};
    for (int j = 0; j < reals; ++j) {
      v[static_cast<std::size_t>(j)] = to_real(lines, next_word(s), "value " + std::to_string(j + 1) + " of " + row);
    }
    if (!is_blank(s)) lines.fail("unexpected text after the values of " + row + ": " + Lines::quote(s));
    store(k - 1, v);
  }
  for (int i = 0; i < 2; ++i) {
    const std::string_view s = lines.next("the empty lines after the " + table_name);
    if (!is_blank(s)) {
      lines.fail("the " + table_name + " holds more than " + std::to_string(count) + " " + row_name + "s, but " +
                 model_size + " " + row_name + "s");
    }
  }
}

}  // namespace

Report parse_report(const std::string& file_name, const std::string& text, int nnode, int nelem) {
  Lines lines(file_name, text);
  Report r;
  const std::string nodes = "the model (input.txt) has " + std::to_string(nnode);
  const std::string elements = "the model (input.txt) has " + std::to_string(nelem);
  const std::string rule65(65, '-');

  lines.expect(rule65, "the rule above the summary");
  std::string_view v = summary_value(lines, "Major Iterations");
  r.major = static_cast<int>(to_int(lines, next_word(v), "major iterations"));
  v = summary_value(lines, "Last Minor Iterations");
  r.minor = static_cast<int>(to_int(lines, next_word(v), "minor iterations"));
  r.energy = to_real(lines, summary_value(lines, "Total Potential Energy"), "total potential energy");
  r.residue = to_real(lines, summary_value(lines, "Allowable Maximum Residue"), "allowable maximum residue");
  lines.expect(rule65, "the rule below the summary");
  lines.expect("", "the first empty line after the summary");
  lines.expect("", "the second empty line after the summary");

  const auto n = static_cast<std::size_t>(nnode > 0 ? nnode : 0);
  const auto m = static_cast<std::size_t>(nelem > 0 ? nelem : 0);
  r.displacement.assign(n, {});
  r.position.assign(n, {});
  r.stress1.assign(m, 0.0);
  r.stress2.assign(m, 0.0);
  r.reaction.assign(n, {});

  heading(lines, kDisplHeading, 65, "displacement table");
  table(lines, nnode, 3, "displacement table", "node", nodes, [&](int i, const std::array<double, 3>& x) {
    r.displacement[static_cast<std::size_t>(i)] = x;
  });
  heading(lines, kCoordHeading, 65, "table of deformed coordinates");
  table(lines, nnode, 3, "table of deformed coordinates", "node", nodes, [&](int i, const std::array<double, 3>& x) {
    r.position[static_cast<std::size_t>(i)] = x;
  });
  heading(lines, kStressHeading, 47, "stress table");
  table(lines, nelem, 2, "stress table", "element", elements, [&](int i, const std::array<double, 3>& x) {
    r.stress1[static_cast<std::size_t>(i)] = x[0];
    r.stress2[static_cast<std::size_t>(i)] = x[1];
  });
  heading(lines, kForceHeading, 65, "reaction table");

  // Reaction lines: only nodes with a reported component, in rising order;
  // fixed 20-character fields after the 5-character node number.
  std::int64_t previous = 0;
  while (!lines.at_end()) {
    const std::string_view s = lines.next("a reaction line");
    // One field per axis: a longer line would put its fourth value past
    // the node's three reactions.
    if (s.size() < 25 || s.size() > 65 || (s.size() - 5) % 20 != 0) {
      lines.fail("a reaction line is a node number in 5 characters and 1 to 3 fields of 20, found " + Lines::quote(s));
    }
    std::string_view number = s.substr(0, 5);
    const std::int64_t k = to_int(lines, next_word(number), "node number of a reaction line");
    if (k <= previous || k > nnode) {
      lines.fail("reaction line for node " + std::to_string(k) + " after node " + std::to_string(previous) +
                 ": nodes come in rising order and " + nodes + " nodes");
    }
    previous = k;
    const std::size_t fields = (s.size() - 5) / 20;
    for (std::size_t j = 0; j < fields; ++j) {
      const std::string_view f = s.substr(5 + 20 * j, 20);
      if (is_blank(f)) continue;
      r.reaction[static_cast<std::size_t>(k - 1)][j] =
          to_real(lines, f, "reaction " + std::to_string(j + 1) + " of node " + std::to_string(k));
    }
  }
  return r;
}

std::vector<ChamberResult> parse_chambers(const std::string& file_name, const std::string& text, int count) {
  Lines lines(file_name, text);
  heading(lines, kChamberHeading, 89, "chamber table");
  std::vector<ChamberResult> chambers;
  for (int k = 1; k <= count; ++k) {
    std::string_view s = lines.next("the line of chamber " + std::to_string(k));
    const std::string row = "chamber " + std::to_string(k);
    if (to_int(lines, next_word(s), "chamber number") != k) lines.fail("expected the line of " + row);
    double v[4];
    for (int j = 0; j < 4; ++j) v[j] = to_real(lines, next_word(s), "value " + std::to_string(j + 1) + " of " + row);
    if (!is_blank(s)) lines.fail("unexpected text after the values of " + row + ": " + Lines::quote(s));
    chambers.push_back({v[0], v[1], v[2], v[3]});
  }
  if (!lines.at_end()) {
    lines.next("nothing");
    lines.fail("the chamber table holds more than " + std::to_string(count) +
               " chambers, but the model (input.txt) has " + std::to_string(count));
  }
  return chambers;
}

Report read_report(const std::string& file_name, int nnode, int nelem) {
  return parse_report(file_name, platform::read_file(file_name), nnode, nelem);
}

}  // namespace viewer

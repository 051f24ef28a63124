#include "mesh/msh_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/failure.h"

namespace mesh {

namespace {

using std::uint64_t;

// Walks the file front to back. ASCII data is read as Gmsh reads it, as
// numbers separated by any white space; binary data as fixed-size fields
// in the file's byte order.
class Scanner {
 public:
  Scanner(const std::string& file, std::string_view text, const NodesOfType& nodes_of)
      : file_(file), text_(text), nodes_of_(nodes_of) {}

  void run() {
    header();
    bool nodes = false, elements = false;
    while (pos_ < text_.size()) {
      const std::string_view l = line();
      // Gmsh passes over lines outside the sections.
      if (l.empty() || l[0] != '$') continue;
      const std::string name(trim(l.substr(1)));
      section_ = "$" + name;
      if (name == "PhysicalNames") {
        physical_names();
      } else if (name == "Entities" && v41_) {
        entities();
      } else if (name == "Nodes") {
        v41_ ? nodes41() : nodes22();
        nodes = true;
      } else if (name == "Elements") {
        v41_ ? elements41() : elements22();
        elements = true;
      } else {
        pass_over(name);
        continue;
      }
      end_marker(name);
    }
    section_.clear();
    if (!nodes || !elements) {
      pos_ = text_.size();
      fail(std::string("the file ends without ") + (nodes ? "an $Elements" : "a $Nodes") +
           " section: a mesh file holds $Nodes and $Elements (is it cut short?)");
    }
  }

 private:
  // ------------------------------------------------------------ messages

  std::string where(std::size_t pos) const {
    if (binary_) return file_ + ": byte " + std::to_string(pos);
    const auto line = 1 + std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(pos), '\n');
    return file_ + ":" + std::to_string(line);
  }
  [[noreturn]] void fail(const std::string& message) const { fail_at(pos_, message); }
  [[noreturn]] void fail_at(std::size_t pos, const std::string& message) const {
    throw platform::DataError(where(pos) + ": " + message);
  }
  [[noreturn]] void ends(const std::string& what) const {
    fail("the file ends where " + what + " of the " + section_ + " section was expected (is it cut short?)");
  }

  // ------------------------------------------------------------ text

  static std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
  }
  // The rest of the current line, without its line end; the position moves
  // past the line end.
  std::string_view line() {
    const std::size_t start = pos_;
    const void* nl = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
    const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text_.data()) : text_.size();
    pos_ = nl ? end + 1 : end;
    return trim(text_.substr(start, end - start));
  }
  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
  void skip_blanks() {
    while (pos_ < text_.size() && blank(text_[pos_])) ++pos_;
  }
  // The next word of ASCII data. A word that begins with '$' is the next
  // marker line: the section holds fewer numbers than its counts announce.
  std::string_view token(const std::string& what) {
    skip_blanks();
    if (pos_ >= text_.size()) ends(what);
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !blank(text_[pos_])) ++pos_;
    const std::string_view t = text_.substr(start, pos_ - start);
    if (t[0] == '$') {
      fail_at(start,
              "expected " + what + " of the " + section_ + " section, found \"" + std::string(t.substr(0, 40)) +
                  "\": the section holds less than its counts announce");
    }
    return t;
  }
  [[noreturn]] void not_a(std::size_t start, const char* kind, const std::string& what, std::string_view t) const {
    fail_at(start,
            std::string("expected ") + kind + " (" + what + " of the " + section_ + " section), found \"" +
                std::string(t.substr(0, 40)) + "\"");
  }
  // A non-negative integer that sizes what follows.
  uint64_t count(const std::string& what) {
    const std::string_view t = token(what);
    const std::size_t start = pos_ - t.size();
    uint64_t v = 0;
    for (const char c : t) {
      if (c < '0' || c > '9') not_a(start, "a count", what, t);
      if (v > (std::numeric_limits<uint64_t>::max() - 9) / 10) not_a(start, "a count within 64 bits", what, t);
      v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    return v;
  }
  // An integer, optionally signed (entity tags may be negative).
  long long integer(const std::string& what) {
    const std::string_view t = token(what);
    const std::size_t start = pos_ - t.size();
    std::size_t i = t[0] == '-' || t[0] == '+' ? 1 : 0;
    if (i == t.size() || t.size() > 19) not_a(start, "an integer", what, t);
    long long v = 0;
    for (; i < t.size(); ++i) {
      if (t[i] < '0' || t[i] > '9') not_a(start, "an integer", what, t);
      v = v * 10 + (t[i] - '0');
    }
    return t[0] == '-' ? -v : v;
  }
  // A real: the characters of a decimal number; its value is Gmsh's to read.
  void real(const std::string& what) {
    const std::string_view t = token(what);
    for (const char c : t) {
      if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) {
        not_a(pos_ - t.size(), "a real number", what, t);
      }
    }
  }
  void skip_tokens(uint64_t n, const std::string& what) {
    for (uint64_t k = 0; k < n; ++k) integer(what);
  }
  void skip_reals(uint64_t n, const std::string& what) {
    for (uint64_t k = 0; k < n; ++k) real(what);
  }

  // ------------------------------------------------------------ binary

  std::size_t remaining() const { return text_.size() - pos_; }
  template <class T>
  T field(const std::string& what) {
    if (remaining() < sizeof(T)) ends(what);
    unsigned char b[sizeof(T)];
    std::memcpy(b, text_.data() + pos_, sizeof(T));
    if (swap_) std::reverse(b, b + sizeof(T));
    T v;
    std::memcpy(&v, b, sizeof(T));
    pos_ += sizeof(T);
    return v;
  }
  uint64_t size_field(const std::string& what) { return field<uint64_t>(what); }
  int int_field(const std::string& what) { return field<std::int32_t>(what); }
  // Skips n binary records of `bytes` each, after checking that the file
  // holds them: `owner` announces n `items`.
  void skip_records(uint64_t n, uint64_t bytes, const std::string& owner, const char* items) {
    check(n, bytes, owner, items);
    pos_ += static_cast<std::size_t>(n * bytes);
  }
  // A count n of items that the rest of the file must be able to hold at
  // `least` bytes each (binary) or characters (ASCII: a digit and a
  // separator per number), checked before anything is read by it.
  void check(uint64_t n, uint64_t least, const std::string& owner, const char* items) {
    if (least > 0 && n > remaining() / least) {
      fail(owner + " announces " + std::to_string(n) + " " + items + ", but the rest of the file (" +
           std::to_string(remaining()) + " bytes) cannot hold them (is the count corrupt, or the file cut short?)");
    }
  }

  // ------------------------------------------------------------ sections

  void header() {
    const std::string_view first = line();
    if (first != "$MeshFormat") {
      pos_ = 0;
      fail(
          "expected \"$MeshFormat\": veloramesh reads Gmsh meshes (MSH 2.2 or 4.1; in Gmsh: File > Export, or gmsh -2 "
          "-format msh41)");
    }
    const std::size_t start = pos_;
    const std::string_view format = line();
    const std::string_view version = format.substr(0, format.find(' '));
    if (version != "4.1" && version != "2.2") {
      fail_at(start,
              "MSH version \"" + std::string(version) +
                  "\"; veloramesh reads versions 4.1 and 2.2 (Gmsh option Mesh.MshFileVersion)");
    }
    v41_ = version == "4.1";
    section_ = "$MeshFormat";
    // "version file-type data-size"
    std::string_view rest = format.substr(std::min(format.size(), version.size()));
    std::string_view words[2];
    for (std::string_view& w : words) {
      while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
      const std::size_t end = std::min(rest.find(' '), rest.find('\t'));
      w = rest.substr(0, end);
      rest.remove_prefix(std::min(rest.size(), w.size()));
    }
    const int type = words[0] == "0" ? 0 : words[0] == "1" ? 1 : -1;
    if (type < 0) {
      fail_at(start, "file type \"" + std::string(words[0]) + "\"; expected 0 (ASCII) or 1 (binary)");
    }
    if (type == 1) {
      if (words[1] != "8") {
        fail_at(start,
                "binary data of \"" + std::string(words[1]) +
                    "\"-byte numbers; veloramesh reads binary meshes of 8-byte numbers");
      }
      binary_ = true;
      // The integer 1, in the byte order of the machine that wrote the
      // file: reversed, the file comes from a machine of the other order,
      // and every field is read reversed, as Gmsh reads it.
      const std::size_t at = pos_;
      const std::int32_t one = field<std::int32_t>("the byte-order check");
      if (one != 1) {
        swap_ = true;
        pos_ = at;
        if (field<std::int32_t>("the byte-order check") != 1) {
          fail_at(at, "the byte-order check reads " + std::to_string(one) + "; expected the integer 1");
        }
      }
    }
    end_marker("MeshFormat");
    section_.clear();
  }

  // Past blanks and line ends, the marker "$End<name>" must stand.
  void end_marker(const std::string& name) {
    skip_blanks();
    const std::string marker = "$End" + name;
    if (pos_ >= text_.size()) ends("the end marker " + marker);
    if (text_.compare(pos_, marker.size(), marker) != 0) {
      std::size_t end = pos_;
      while (end < text_.size() && end - pos_ < 40 && !blank(text_[end])) ++end;
      std::string found(text_.substr(pos_, end - pos_));
      if (std::any_of(found.begin(), found.end(), [](char c) { return c < 0x20 || c > 0x7e; })) found = "binary data";
      fail("expected the end marker " + marker + ", found \"" + found + "\": the " + section_ +
           " section holds more than its counts announce");
    }
    line();
  }

  // A section this check does not read: up to its end marker.
  void pass_over(const std::string& name) {
    const std::string marker = "\n$End" + name;
    const std::size_t at = text_.find(marker, pos_ == 0 ? 0 : pos_ - 1);
    if (at == std::string_view::npos) {
      pos_ = text_.size();
      fail("the file ends inside the " + section_ + " section, before its end marker $End" + name +
           " (is it cut short?)");
    }
    pos_ = at + 1;
    line();
  }

  void physical_names() {
    const uint64_t n = count("the number of names");
    check(n, 6, "the " + section_ + " section", "names");
    for (uint64_t k = 1; k <= n; ++k) {
      const std::string what = "physical name " + std::to_string(k) + " of " + std::to_string(n);
      integer("the dimension of " + what);
      integer("the tag of " + what);
      skip_blanks();
      if (pos_ >= text_.size()) ends("the name of " + what);
      if (text_[pos_] != '"') not_a(pos_, "a quoted name", what, text_.substr(pos_, 20));
      line();
    }
  }

  void entities() {
    const char* kinds[4] = {"points", "curves", "surfaces", "volumes"};
    uint64_t n[4];
    for (int d = 0; d < 4; ++d) {
      n[d] = binary_ ? size_field(std::string("the number of ") + kinds[d])
                     : count(std::string("the number of ") + kinds[d]);
    }
    for (int d = 0; d < 4; ++d) {
      // A point: tag, X, Y, Z, a count of physical tags; any other
      // entity: tag, its bounding box, that count and a count of bounding
      // entities.
      const uint64_t least = binary_ ? (d == 0 ? 4 + 24 + 8 : 4 + 48 + 16) : (d == 0 ? 10 : 18);
      check(n[d], least, "the " + section_ + " section", kinds[d]);
      for (uint64_t k = 1; k <= n[d]; ++k) {
        const std::string what = std::string(kinds[d]).substr(0, std::strlen(kinds[d]) - 1) + " " + std::to_string(k);
        if (binary_) {
          pos_ += 4 + (d == 0 ? 24 : 48);  // within `least`
          const uint64_t tags = size_field("the physical tag count of " + what);
          skip_records(tags, 4, what, "physical tags");
          if (d > 0) {
            const uint64_t bounds = size_field("the bounding entity count of " + what);
            skip_records(bounds, 4, what, "bounding entities");
          }
        } else {
          integer("the tag of " + what);
          skip_reals(d == 0 ? 3 : 6, "a coordinate of " + what);
          const uint64_t tags = count("the physical tag count of " + what);
          check(tags, 2, what, "physical tags");
          skip_tokens(tags, "a physical tag of " + what);
          if (d > 0) {
            const uint64_t bounds = count("the bounding entity count of " + what);
            check(bounds, 2, what, "bounding entities");
            skip_tokens(bounds, "a bounding entity of " + what);
          }
        }
      }
    }
  }

  // The four numbers that open $Nodes and $Elements of MSH 4.1: blocks,
  // total, smallest and largest tag.
  std::array<uint64_t, 2> header41(const char* items) {
    const std::string b = "the number of blocks", t = std::string("the number of ") + items;
    uint64_t v[4];
    for (int k = 0; k < 4; ++k) {
      const std::string what = k == 0 ? b : k == 1 ? t : k == 2 ? "the smallest tag" : "the largest tag";
      v[k] = binary_ ? size_field(what) : count(what);
    }
    check(v[0], binary_ ? 20 : 8, "the " + section_ + " section", "blocks");
    check(v[1], binary_ ? 16 : 4, "the " + section_ + " section", items);
    return {v[0], v[1]};
  }
  void check_total(uint64_t sum, uint64_t total, const char* items) {
    if (sum != total) {
      fail("the blocks of the " + section_ + " section hold " + std::to_string(sum) + " " + items +
           ", but its first line announces " + std::to_string(total));
    }
  }

  void nodes41() {
    const auto [blocks, total] = header41("nodes");
    uint64_t sum = 0;
    for (uint64_t k = 1; k <= blocks; ++k) {
      const std::string block = "node block " + std::to_string(k) + " of " + std::to_string(blocks);
      long long dim = 0, parametric = 0;
      uint64_t n = 0;
      if (binary_) {
        dim = int_field("the dimension of " + block);
        int_field("the entity of " + block);
        parametric = int_field("the parametric flag of " + block);
        n = size_field("the node count of " + block);
      } else {
        dim = integer("the dimension of " + block);
        integer("the entity of " + block);
        parametric = integer("the parametric flag of " + block);
        n = count("the node count of " + block);
      }
      if (dim < 0 || dim > 3 || parametric < 0 || parametric > 1) {
        fail(block + " of the " + section_ + " section gives dimension " + std::to_string(dim) +
             " and parametric flag " + std::to_string(parametric) + "; expected 0 to 3 and 0 or 1");
      }
      const uint64_t reals = 3 + (parametric != 0 ? static_cast<uint64_t>(dim) : 0);
      if (binary_) {
        skip_records(n, 8 + 8 * reals, block, "nodes");
      } else {
        check(n, 2 + 2 * reals, block, "nodes");
        skip_tokens(n, "a node tag of " + block);
        skip_reals(n * reals, "a coordinate of " + block);
      }
      sum += n;
    }
    check_total(sum, total, "nodes");
  }

  // Nodes of an element type, from Gmsh; a type it does not know is a
  // fault of the file.
  uint64_t nodes_of(long long type, const std::string& block) {
    const int n = type >= 0 && type <= std::numeric_limits<int>::max() ? nodes_of_(static_cast<int>(type)) : -1;
    if (n < 0)
      fail(block + " of the " + section_ + " section has element type " + std::to_string(type) +
           ", which Gmsh does not know");
    return static_cast<uint64_t>(n);
  }

  void elements41() {
    const auto [blocks, total] = header41("elements");
    uint64_t sum = 0;
    for (uint64_t k = 1; k <= blocks; ++k) {
      const std::string block = "element block " + std::to_string(k) + " of " + std::to_string(blocks);
      long long type = 0;
      uint64_t n = 0;
      if (binary_) {
        int_field("the dimension of " + block);
        int_field("the entity of " + block);
        type = int_field("the element type of " + block);
        n = size_field("the element count of " + block);
      } else {
        integer("the dimension of " + block);
        integer("the entity of " + block);
        type = integer("the element type of " + block);
        n = count("the element count of " + block);
      }
      const uint64_t numbers = 1 + nodes_of(type, block);  // the tag, then the nodes
      if (binary_) {
        skip_records(n, 8 * numbers, block, "elements");
      } else {
        check(n, 2 * numbers, block, "elements");
        skip_tokens(n * numbers, "a tag or node of " + block);
      }
      sum += n;
    }
    check_total(sum, total, "elements");
  }

  // MSH 2.2 counts stand on a line of their own, in binary files too; the
  // binary data begins right after that line.
  uint64_t count_line(const std::string& what) {
    const uint64_t n = count(what);
    if (binary_) line();
    return n;
  }

  void nodes22() {
    const uint64_t n = count_line("the number of nodes");
    if (binary_) {
      skip_records(n, 4 + 24, "the " + section_ + " section", "nodes");
      return;
    }
    check(n, 8, "the " + section_ + " section", "nodes");
    for (uint64_t k = 1; k <= n; ++k) {
      const std::string what = "node " + std::to_string(k) + " of " + std::to_string(n);
      integer("the tag of " + what);
      skip_reals(3, "a coordinate of " + what);
    }
  }

  void elements22() {
    const uint64_t n = count_line("the number of elements");
    check(n, binary_ ? 12 : 8, "the " + section_ + " section", "elements");
    for (uint64_t k = 1; k <= n;) {
      const std::string what = "element " + std::to_string(k) + " of " + std::to_string(n);
      if (binary_) {
        // A block header: type, how many elements follow, their tag count.
        const long long type = int_field("the element type of the block of " + what);
        const long long follow = int_field("the element count of the block of " + what);
        const long long tags = int_field("the tag count of the block of " + what);
        if (follow < 1 || tags < 0 || static_cast<uint64_t>(follow) > n - k + 1) {
          fail("the block of " + what + " announces " + std::to_string(follow) + " elements of " +
               std::to_string(tags) + " tags; " + std::to_string(n - k + 1) + " elements remain of the section's " +
               std::to_string(n));
        }
        const uint64_t numbers = 1 + static_cast<uint64_t>(tags) + nodes_of(type, "the block of " + what);
        skip_records(static_cast<uint64_t>(follow), 4 * numbers, "the block of " + what, "elements");
        k += static_cast<uint64_t>(follow);
      } else {
        integer("the tag of " + what);
        const long long type = integer("the type of " + what);
        const uint64_t tags = count("the tag count of " + what);
        check(tags, 2, what, "tags");
        skip_tokens(tags, "a tag of " + what);
        skip_tokens(nodes_of(type, what), "a node of " + what);
        ++k;
      }
    }
  }

  const std::string& file_;
  std::string_view text_;
  const NodesOfType& nodes_of_;
  std::size_t pos_ = 0;
  bool v41_ = false;
  bool binary_ = false;
  bool swap_ = false;
  std::string section_;  // the section being read ("$Nodes"), for messages
};

}  // namespace

void check_msh(const std::string& file, std::string_view content, const NodesOfType& nodes_of) {
  Scanner(file, content, nodes_of).run();
}

}  // namespace mesh

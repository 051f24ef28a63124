#include "platform/text_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/failure.h"

namespace platform {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The kind of a file that is not a regular one, for the message.
std::string kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a directory, not a regular file";
  if (S_ISFIFO(mode)) return "it is a FIFO (named pipe), not a regular file";
  if (S_ISCHR(mode)) return "it is a character device, not a regular file";
  if (S_ISBLK(mode)) return "it is a block device, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  return "it is not a regular file";
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { ::close(fd_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

 private:
  int fd_;
};

}  // namespace

std::string read_file(const std::string& file_name) {
  // Opened without waiting: opening a FIFO for reading would otherwise
  // block until some writer opens it. Only a regular file is read: a
  // device such as /dev/zero never ends, a FIFO may never deliver, and a
  // directory holds no text.
  errno = 0;
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw FileError("cannot open \"" + file_name + "\" for reading: " + std::strerror(errno));
  const Descriptor closer(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw FileError("cannot read \"" + file_name + "\": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw FileError("cannot read \"" + file_name + "\": " + kind_of(st.st_mode));
  // The size when opened bounds what is read, so a file that another
  // program keeps appending to is read as it was; files of the kernel's
  // own (/proc) give a size of 0 and are read to their end.
  const auto size = static_cast<std::size_t>(st.st_size);
  std::string content;
  content.reserve(size);
  char buf[1 << 16];
  while (size == 0 || content.size() < size) {
    const std::size_t want = size == 0 ? sizeof buf : std::min(sizeof buf, size - content.size());
    const ssize_t got = ::read(fd, buf, want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw FileError("cannot read \"" + file_name + "\": " + std::strerror(errno));
    if (got == 0) break;
    content.append(buf, static_cast<std::size_t>(got));
  }
  return content;
}

TextReader TextReader::open(const std::string& file_name) { return TextReader(file_name, read_file(file_name)); }

TextReader::TextReader(std::string file_name, std::string content)
    : file_name_(std::move(file_name)), text_(std::move(content)) {}

std::string TextReader::where(const std::string& message) const {
  return file_name_ + ":" + std::to_string(line_) + ": " + message;
}

bool TextReader::at_line_end() const {
  if (pos_ >= text_.size()) return false;
  const char c = text_[pos_];
  if (c == '\n') return true;
  return c == '\r' && (pos_ + 1 == text_.size() || text_[pos_ + 1] == '\n');
}

void TextReader::consume_line_end() {
  if (text_[pos_] == '\r') ++pos_;
  if (pos_ < text_.size()) ++pos_;  // the line feed
  ++line_;
}

bool TextReader::at_separator() const {
  if (pos_ >= text_.size()) return true;
  const char c = text_[pos_];
  return c == ' ' || c == '\t' || at_line_end();
}

void TextReader::skip_blanks_and_line_ends() {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c == ' ' || c == '\t') {
      ++pos_;
    } else if (at_line_end()) {
      consume_line_end();
    } else {
      break;
    }
  }
}

void TextReader::skip_line(const char* what) {
  if (pos_ >= text_.size()) {
    // Past the last character: fine when that character ended a line that
    // had no line end (the reader stands in the middle of it), not when a
    // whole further line was wanted.
    if (pos_ == 0 || text_[pos_ - 1] == '\n' || last_line_skipped_) {
      throw EndError(where("the file ends where " + std::string(what) + " was expected"));
    }
    return;
  }
  const void* nl = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
  if (nl == nullptr) {
    pos_ = text_.size();
    last_line_skipped_ = true;
    return;
  }
  pos_ = static_cast<std::size_t>(static_cast<const char*>(nl) - text_.data()) + 1;
  ++line_;
}

void TextReader::scan(const char* section) {
  for (;;) {
    while (at_line_end()) consume_line_end();
    if (pos_ >= text_.size()) {
      throw EndError(where(std::string("the file ends before the marker line (a line beginning with ':') of the ") +
                           section + " section"));
    }
    const char c = text_[pos_];
    skip_line("a line");
    if (c == ':') return;
  }
}

std::optional<TextReader::Marker> TextReader::scan_optional() {
  for (;;) {
    while (at_line_end()) consume_line_end();
    if (pos_ >= text_.size()) return std::nullopt;
    if (text_[pos_] == ':') {
      Marker m;
      m.line = line_;
      std::size_t i = pos_ + 1;
      while (i < text_.size() && text_[i] != ' ' && text_[i] != '\t' && text_[i] != '\n' &&
             !(text_[i] == '\r' && (i + 1 == text_.size() || text_[i + 1] == '\n'))) {
        ++i;
      }
      m.keyword = text_.substr(pos_ + 1, i - pos_ - 1);
      skip_line("a line");
      return m;
    }
    skip_line("a line");
  }
}

std::string TextReader::field_context(const char* field) const {
  std::string s = field;
  if (record_[0] != '\0') {
    s += " of ";
    if (record_number_ == 0) {
      s += "the ";
      s += record_;
    } else {
      s += record_;
      s += ' ';
      s += std::to_string(record_number_);
    }
  }
  return s;
}

std::string TextReader::excerpt() const {
  std::string s = "\"";
  std::size_t i = pos_;
  for (int n = 0; i < text_.size() && n < 20; ++i, ++n) {
    const char c = text_[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') break;
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      s += hex;
    } else {
      s += c;
    }
  }
  if (i < text_.size() && i - pos_ == 20 &&
      !(text_[i] == ' ' || text_[i] == '\t' || text_[i] == '\n' || text_[i] == '\r')) {
    s += "...";
  }
  s += '"';
  return s;
}

void TextReader::fail_expected(const char* kind, const char* field) const {
  if (pos_ >= text_.size()) {
    throw EndError(where(std::string("the file ends where ") + kind + " (" + field_context(field) + ") was expected"));
  }
  throw DataError(where(std::string("expected ") + kind + " (" + field_context(field) + "), found " + excerpt()));
}

void TextReader::fail_data(const std::string& message) const { throw DataError(where(message)); }

void TextReader::end_number(std::size_t start, std::size_t end, const char* kind, const char* field) {
  pos_ = end;
  if (at_separator()) return;
  pos_ = start;  // the message quotes the whole token
  fail_data(std::string("expected ") + kind + " (" + field_context(field) + "), found " + excerpt() +
            ": the number runs into other text");
}

std::size_t TextReader::read_word(const char* field, std::initializer_list<std::string_view> words) {
  skip_blanks_and_line_ends();
  std::string expected;
  for (std::size_t k = 0; k < words.size(); ++k) {
    expected += k == 0 ? "\"" : k + 1 == words.size() ? " or \"" : ", \"";
    expected += *(words.begin() + k);
    expected += '"';
  }
  if (pos_ >= text_.size()) fail_expected(expected.c_str(), field);
  std::size_t i = pos_;
  while (i < text_.size() && ((text_[i] >= 'a' && text_[i] <= 'z') || (text_[i] >= 'A' && text_[i] <= 'Z'))) ++i;
  const std::size_t start = pos_;
  pos_ = i;
  const bool word = i > start && at_separator();
  pos_ = start;
  if (word) {
    const std::string_view found(text_.data() + start, i - start);
    for (std::size_t k = 0; k < words.size(); ++k) {
      if (*(words.begin() + k) == found) {
        pos_ = i;
        return k;
      }
    }
  }
  fail_expected(expected.c_str(), field);
}

std::int32_t TextReader::read_int(const char* field) {
  skip_blanks_and_line_ends();
  const std::size_t start = pos_;
  std::size_t i = pos_;
  bool negative = false;
  if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) {
    negative = text_[i] == '-';
    ++i;
  }
  if (i >= text_.size() || !is_digit(text_[i])) fail_expected("an integer", field);
  // Accumulate the magnitude with a bound one past the 32-bit range, so
  // that -2147483648 is accepted and anything longer is rejected early.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  bool too_big = false;
  for (; i < text_.size() && is_digit(text_[i]); ++i) {
    if (!too_big) {
      value = value * 10 + (text_[i] - '0');
      if (value > kLimit) too_big = true;
    }
  }
  if (too_big || (!negative && value == kLimit)) {
    fail_data("the integer " + excerpt() + " (" + field_context(field) +
              ") is outside the range -2147483648..2147483647");
  }
  end_number(start, i, "an integer", field);
  return static_cast<std::int32_t>(negative ? -value : value);
}

double TextReader::read_real(const char* field) {
  skip_blanks_and_line_ends();
  const std::size_t start = pos_;
  std::size_t i = pos_;
  if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) ++i;
  std::size_t digits = 0;
  for (; i < text_.size() && is_digit(text_[i]); ++i) ++digits;
  if (i < text_.size() && text_[i] == '.') {
    ++i;
    for (; i < text_.size() && is_digit(text_[i]); ++i) ++digits;
  }
  if (digits == 0) fail_expected("a real number", field);
  if (i < text_.size() && (text_[i] == 'E' || text_[i] == 'e')) {
    ++i;
    if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    for (; i < text_.size() && is_digit(text_[i]); ++i) ++exp_digits;
    if (exp_digits == 0) {
      fail_data("expected a real number (" + field_context(field) + "), found " + excerpt() +
                ": the exponent has no digits");
    }
  }
  end_number(start, i, "a real number", field);
  // strtod rounds correctly and does not depend on the locale here (the
  // programs never change it from "C").
  const std::string token = text_.substr(start, i - start);
  errno = 0;
  const double value = std::strtod(token.c_str(), nullptr);
  if (errno == ERANGE && (std::isinf(value))) {
    pos_ = start;
    fail_data("the real number " + excerpt() + " (" + field_context(field) + ") is too large for a double");
  }
  // An underflow gives the nearest double (zero or a subnormal), which is
  // the correctly rounded value: accepted.
  return value;
}

}  // namespace platform

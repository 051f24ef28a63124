#pragma once
// An output text file that is either written completely or not at all.
//
// The text goes to a temporary file beside the target ("name.part"), which
// replaces the target only in commit(), after the last byte has been
// written, flushed and the file closed without error. Any failure on the
// way (a full disk, a read-only directory) is a FileError; a file dropped
// without commit() (because a failure ended the program while it was being
// written) removes its temporary file. Either way an earlier file of the
// same name stays as it was.
//
// Lines end with a line feed, the platform's line end.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

class OutputFile {
 public:
  // Creates the temporary file. FileError when that is impossible.
  explicit OutputFile(std::string file_name);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  OutputFile& text(std::string_view s) {
    buffer_.append(s);
    maybe_flush();
    return *this;
  }
  // The character c written n times (nothing when n <= 0).
  OutputFile& chars(char c, int n) {
    if (n > 0) buffer_.append(static_cast<std::size_t>(n), c);
    maybe_flush();
    return *this;
  }
  // A real in the (fore, aft, exp) image of number_image.h.
  OutputFile& real(double v, int fore, int aft, int exp);
  // An integer right-aligned in width characters (0: the digits alone).
  OutputFile& integer(std::int64_t k, int width);
  OutputFile& line_end() {
    buffer_.push_back('\n');
    maybe_flush();
    return *this;
  }

  // Writes what is left, closes the file and renames it over the target.
  void commit();

  const std::string& file_name() const { return file_name_; }

 private:
  void maybe_flush() {
    if (buffer_.size() >= kFlushAt) flush_buffer();
  }
  void flush_buffer();
  [[noreturn]] void fail(const std::string& what);
  void discard();

  static constexpr std::size_t kFlushAt = std::size_t{1} << 20;

  std::string file_name_;
  std::string temp_name_;
  std::FILE* file_ = nullptr;
  std::string buffer_;
};

}  // namespace platform

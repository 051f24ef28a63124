#pragma once
// Output text files that are written completely or not at all, one file
// (OutputFile) or every file of a run together (OutputFiles).
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
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

  // Writes what is left and closes the temporary file, which then holds
  // the whole text; the target is not touched yet. FileError when that
  // fails (the temporary file is removed).
  void finish();
  // finish(), then renames the temporary file over the target.
  void commit();

  const std::string& file_name() const { return file_name_; }

 private:
  friend class OutputFiles;
  // Renames the finished temporary file over the target; the reason
  // (strerror) when that fails, an empty string when it succeeds.
  std::string replace_target();
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
  bool temporary_ = false;  // the temporary file exists (open, or finished and not yet renamed)
  std::string buffer_;
};

// The output files of one run, committed together: a failure before the
// last of them is complete leaves every earlier file of those names as it
// was, and a run that ends normally replaces all of them.
//
// Each file is written through its OutputFile; commit() finishes every one
// (the last byte written, flushed and closed), checks that each target can
// be replaced, and only then renames the temporary files over their
// targets, one after the other in the order they were added. Nothing that
// can fail for lack of space or a bad target comes between the renames,
// and the program's terminating signals that can be caught (an interrupt,
// a hang-up, a termination request) wait until the last rename is done.
// What is left is a program killed outright (SIGKILL) or a machine that
// stops between two renames: the files renamed before it are new, the
// others old, and the new text of each of the others stands complete in
// its temporary file.
class OutputFiles {
 public:
  OutputFiles() = default;
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // A new file of the set, its temporary file created at once (FileError
  // when that is impossible). The reference stays valid as long as the set.
  OutputFile& add(std::string file_name);

  // Finishes every file, then replaces every target. FileError when a file
  // cannot be finished or a target is a directory (nothing is replaced then),
  // or, past every check, when the system refuses a rename (the message
  // names the files already replaced).
  void commit();

 private:
  std::vector<std::unique_ptr<OutputFile>> files_;
};

}  // namespace platform

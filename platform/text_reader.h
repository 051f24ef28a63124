#pragma once
// Sequential reader of the free-form text files of the system ("input.txt",
// "square.txt").
//
// The file is read whole into memory and consumed front to back. Numbers are
// free-form: before each number, blanks, tabs and line ends are skipped, so
// a record may stand anywhere on its line or run over several lines. An
// integer is an optionally signed decimal that fits in 32 bits; a real is an
// optionally signed decimal number with or without a point and fraction and
// an optional exponent (E or e, optional sign, digits). A number ends at the
// first character that cannot continue it; that character must be a blank,
// a tab or a line end (or the end of the file), so a number that runs into
// text ("1,5", "2.0x", "4.0" where an integer is expected) is rejected
// instead of being silently cut short.
//
// A line end is a line feed; a carriage return right before it belongs to
// the line end. The last line of a file needs no line end.
//
// Every failure names the file and the line: "input.txt:23: expected an
// integer (node number of node record 4), found "abc"".

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The whole content of a file, which must be a regular file: a directory,
// a device (/dev/zero), a FIFO or a socket is a FileError at once, before
// anything is read or waited for ("cannot read "input.txt": it is a FIFO
// (named pipe), not a regular file"). What is read is bounded by the
// file's size when it was opened. FileError when it cannot be opened or
// read.
std::string read_file(const std::string& file_name);

class TextReader {
 public:
  // Reads the file whole (read_file). FileError when it cannot be opened
  // or read, or is not a regular file.
  static TextReader open(const std::string& file_name);

  // A reader over text already in memory, as if read from file_name.
  TextReader(std::string file_name, std::string content);

  // Marker search: skips lines until one whose first character is ':' and
  // leaves the reader at the start of the line after it. Empty lines are
  // passed over; only the first character of a line is looked at, so a
  // colon after blanks does not make a marker. `section` names what the
  // marker opens, for the message when the file ends first (EndError).
  void scan(const char* section);

  // A marker line found by scan_optional: its line number and the word
  // right after its colon (up to the first blank, tab or line end; empty
  // when the colon stands alone or a blank follows it).
  struct Marker {
    std::int64_t line = 0;
    std::string keyword;
  };

  // The marker search of a section that may be absent: like scan, but the
  // end of the file before any marker line is no failure, it returns
  // nothing. Preamble lines are skipped as scan skips them.
  std::optional<Marker> scan_optional();

  // The record that the next numbers belong to, for failure messages:
  // ("node record", 4) gives "... of node record 4"; a number of 0 gives
  // "... of the parameters record" for ("parameters record", 0).
  void set_record(const char* record, std::int64_t number) {
    record_ = record;
    record_number_ = number;
  }

  // Reads the next number; `field` names it ("node number", "young").
  // EndError at the end of the file, DataError on malformed text.
  std::int32_t read_int(const char* field);
  double read_real(const char* field);

  // Reads the next word, skipping blanks and line ends before it as before a
  // number, and returns its position among `words`. A word is letters
  // ending at a blank, a tab, a line end or the end of the file; anything
  // else, or a word not among `words`, is a DataError ("expected "on" or
  // "off" (wrinkling of the wrinkling record), found "yes""), the end of
  // the file an EndError.
  std::size_t read_word(const char* field, std::initializer_list<std::string_view> words);

  // Skips the rest of the current line, its line end included. A last line
  // without a line end is skipped like any other; a line that is not there
  // at all (the reader already stands at the end of the file, at the start
  // of a line) is an EndError naming `what`.
  void skip_line(const char* what);

  // Bytes not yet consumed.
  std::size_t remaining() const { return text_.size() - pos_; }
  bool at_end() const { return pos_ >= text_.size(); }
  // Line number (from 1) of the current position.
  std::int64_t line() const { return line_; }
  const std::string& file_name() const { return file_name_; }

  // "file:line: message", for failures raised by the reader's users.
  std::string where(const std::string& message) const;

 private:
  void skip_blanks_and_line_ends();
  bool at_line_end() const;   // at "\n" or "\r\n"
  void consume_line_end();    // past "\n" or "\r\n"
  bool at_separator() const;  // end of file, blank, tab or line end
  std::string field_context(const char* field) const;
  std::string excerpt() const;  // the text at the current position, quoted
  [[noreturn]] void fail_expected(const char* kind, const char* field) const;
  [[noreturn]] void fail_data(const std::string& message) const;
  // A number of kind ("an integer") from start to end: moves past it, or,
  // when other text follows it without a separator, a DataError.
  void end_number(std::size_t start, std::size_t end, const char* kind, const char* field);

  std::string file_name_;
  std::string text_;
  std::size_t pos_ = 0;
  std::int64_t line_ = 1;
  bool last_line_skipped_ = false;  // a last line without line end was skipped
  const char* record_ = "";
  std::int64_t record_number_ = 0;
};

}  // namespace platform

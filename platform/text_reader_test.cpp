#include "platform/text_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "platform/failure.h"
#include "platform/testing.h"

namespace {

using platform::TextReader;

using platform::testing::ExpectFailure;

TEST(TextReader, IntegersInEveryAcceptedForm) {
  TextReader r("t.txt", "  42 -7\t+3\n\n   0 2147483647 -2147483648");
  EXPECT_EQ(r.read_int("a"), 42);
  EXPECT_EQ(r.read_int("b"), -7);
  EXPECT_EQ(r.read_int("c"), 3);
  EXPECT_EQ(r.read_int("d"), 0);
  EXPECT_EQ(r.read_int("e"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(r.read_int("f"), std::numeric_limits<std::int32_t>::min());
}

TEST(TextReader, RealsInEveryAcceptedForm) {
  TextReader r("t.txt", "2.1E+05 210000 -0.5 1.0e-3 +7 3. .25 1E2 -0.000000E+00\r\n 1e-310 1e-400");
  EXPECT_EQ(r.read_real("a"), 2.1e5);
  EXPECT_EQ(r.read_real("b"), 210000.0);
  EXPECT_EQ(r.read_real("c"), -0.5);
  EXPECT_EQ(r.read_real("d"), 1.0e-3);
  EXPECT_EQ(r.read_real("e"), 7.0);
  EXPECT_EQ(r.read_real("f"), 3.0);
  EXPECT_EQ(r.read_real("g"), 0.25);
  EXPECT_EQ(r.read_real("h"), 100.0);
  const double z = r.read_real("i");
  EXPECT_EQ(z, 0.0);
  EXPECT_TRUE(std::signbit(z));
  EXPECT_EQ(r.read_real("subnormal"), 1e-310);  // underflow keeps the nearest double
  EXPECT_EQ(r.read_real("tiny"), 0.0);
  EXPECT_EQ(r.line(), 2);
}

TEST(TextReader, MalformedNumbersNameFileLineAndField) {
  TextReader r("input.txt", "1\n2\nabc\n");
  r.set_record("node record", 4);
  r.read_int("x");
  r.read_int("x");
  ExpectFailure([&] { r.read_int("node number"); },
                "DATA_ERROR",
                {"input.txt:3: expected an integer (node number of node record 4), found \"abc\""});
}

// See docs/decisions.md, 'Numbers that run into text'.
struct Malformed {
  std::string text;
  bool integer;      // read as an integer, else as a real
  std::string name;  // full name of the failure
  std::string part;  // part of its message
};

void PrintTo(const Malformed& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class TextReaderMalformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(TextReaderMalformed, FailsNamingFileLineAndWhat) {
  const Malformed& c = GetParam();
  TextReader r("t.txt", c.text);
  if (c.integer) {
    ExpectFailure([&] { r.read_int("k"); }, c.name, {c.part});
  } else {
    ExpectFailure([&] { r.read_real("k"); }, c.name, {c.part});
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind,
    TextReaderMalformed,
    ::testing::Values(Malformed{"abc", true, "DATA_ERROR", "t.txt:1: expected an integer (k), found \"abc\""},
                      Malformed{"1.5", true, "DATA_ERROR", "runs into other text"},
                      Malformed{"12abc", true, "DATA_ERROR", "found \"12abc\": the number runs into other text"},
                      Malformed{"2147483648", true, "DATA_ERROR", "outside the range -2147483648..2147483647"},
                      Malformed{"-99999999999999999999", true, "DATA_ERROR", "outside the range"},
                      Malformed{"+", true, "DATA_ERROR", "expected an integer"},
                      Malformed{"", true, "END_ERROR", "t.txt:1: the file ends where an integer (k) was expected"},
                      Malformed{"\n\n  \n", true, "END_ERROR", "t.txt:4: the file ends"},
                      Malformed{"1,5", false, "DATA_ERROR", "found \"1,5\": the number runs into other text"},
                      Malformed{"1.0e", false, "DATA_ERROR", "the exponent has no digits"},
                      Malformed{"1.0E+x", false, "DATA_ERROR", "the exponent has no digits"},
                      Malformed{"nan", false, "DATA_ERROR", "expected a real number (k), found \"nan\""},
                      Malformed{"inf", false, "DATA_ERROR", "found \"inf\""},
                      Malformed{"-.", false, "DATA_ERROR", "expected a real number"},
                      Malformed{"1e400", false, "DATA_ERROR", "\"1e400\" (k) is too large for a double"},
                      Malformed{"-1e400", false, "DATA_ERROR", "too large"},
                      Malformed{std::string("1.0\0", 4), false, "DATA_ERROR", "found \"1.0\\x00\""},
                      Malformed{std::string("\0", 1), false, "DATA_ERROR", "found \"\\x00\""},
                      Malformed{"", false, "END_ERROR", "the file ends where a real number (k) was expected"}));

TEST(TextReader, LongTokensAreQuotedShort) {
  TextReader r("t.txt", std::string(100000, 'x'));
  ExpectFailure([&] { r.read_real("k"); }, "DATA_ERROR", {"found \"xxxxxxxxxxxxxxxxxxxx...\""});
  TextReader big("t.txt", std::string(100000, '9'));
  ExpectFailure([&] { big.read_int("k"); }, "DATA_ERROR", {"outside the range"});
}

TEST(TextReader, ScanSkipsLabelsEmptyLinesAndIndentedColons) {
  TextReader r("t.txt",
               "title line\n"
               "\n"
               "  : not a marker (blank first)\n"
               "\r\n"
               ":  text after the colon is ignored 99\n"
               "5\n"
               "label\n"
               ":\n"
               "\n"
               "\n"
               "  6 rest of line\n");
  r.scan("first");
  EXPECT_EQ(r.line(), 6);
  EXPECT_EQ(r.read_int("a"), 5);
  r.skip_line("end");
  r.scan("second");
  EXPECT_EQ(r.read_int("b"), 6);
  r.skip_line("end");
  EXPECT_TRUE(r.at_end());
  ExpectFailure(
      [&] { r.scan("pressures"); },
      "END_ERROR",
      {"t.txt:12: the file ends before the marker line (a line beginning with ':') of the pressures section"});
}

TEST(TextReader, LabelBeginningWithColonIsAMarker) {
  TextReader r("t.txt", ":label that starts with a colon\n7\n");
  r.scan("s");
  EXPECT_EQ(r.read_int("a"), 7);
}

// See docs/decisions.md, 'A last line without a line end'.
TEST(TextReader, SkipLineAcceptsAMissingFinalLineEnd) {
  TextReader r("t.txt", ":\n1 2 trailing text");
  r.scan("s");
  EXPECT_EQ(r.read_int("a"), 1);
  EXPECT_EQ(r.read_int("b"), 2);
  EXPECT_NO_THROW(r.skip_line("end of record"));
  EXPECT_TRUE(r.at_end());
  // No further line to skip.
  ExpectFailure([&] { r.skip_line("the line after the count"); },
                "END_ERROR",
                {"the file ends where the line after the count was expected"});
}

TEST(TextReader, SkipLineAfterACompleteLastLineNeedsAnotherLine) {
  TextReader r("t.txt", "3\n");
  EXPECT_EQ(r.read_int("n"), 3);
  r.skip_line("end");
  ExpectFailure([&] { r.skip_line("the ignored line"); }, "END_ERROR", {"t.txt:2:"});
}

// See docs/decisions.md, 'Carriage returns before line feeds'.
TEST(TextReader, CarriageReturnsBelongToLineEnds) {
  TextReader r("t.txt", "x\r\n:\r\n 1.5\r\n\r\n 2\r\n");
  r.scan("s");
  EXPECT_EQ(r.read_real("a"), 1.5);
  EXPECT_EQ(r.read_int("b"), 2);
  EXPECT_EQ(r.line(), 5);
  r.skip_line("end");
  EXPECT_TRUE(r.at_end());
}

TEST(TextReader, OptionalScanGivesTheMarkersKeywordOrNothingAtTheEnd) {
  TextReader r("t.txt",
               "comment\n"
               "  :indented, no marker\n"
               "\n"
               ":prestress trailing words\n"
               "1\n"
               ":\n"
               ": blank first\n"
               ":chambers\r\n"
               "label\n");
  auto m = r.scan_optional();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->line, 4);
  EXPECT_EQ(m->keyword, "prestress");
  EXPECT_EQ(r.read_int("a"), 1);
  r.skip_line("end");
  for (const char* keyword : {"", "", "chambers"}) {
    m = r.scan_optional();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->keyword, keyword);
  }
  EXPECT_EQ(m->line, 8);
  // Preamble lines up to the end: no marker, nothing consumed past the end.
  EXPECT_FALSE(r.scan_optional());
  EXPECT_TRUE(r.at_end());
  TextReader last("t.txt", "x\n:wrinkling");
  m = last.scan_optional();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->keyword, "wrinkling");
  EXPECT_FALSE(last.scan_optional());
}

TEST(TextReader, WordsAreLettersAmongTheExpectedOnes) {
  TextReader r("t.txt", "\n  off\ton\n");
  r.set_record("wrinkling record", 0);
  EXPECT_EQ(r.read_word("wrinkling", {"on", "off"}), 1u);
  EXPECT_EQ(r.read_word("wrinkling", {"on", "off"}), 0u);
  for (const char* text : {"yes", "On", "1", "on1", "on,", "o-n"}) {
    TextReader bad("t.txt", std::string(":\n") + text + "\n");
    bad.scan("s");
    bad.set_record("wrinkling record", 0);
    ExpectFailure(
        [&] {
          bad.read_word("wrinkling", {"on", "off"});
        },
        "DATA_ERROR",
        {"t.txt:2: expected \"on\" or \"off\" (wrinkling of the wrinkling record), found \""});
  }
  TextReader end("t.txt", ":\n");
  end.scan("s");
  ExpectFailure(
      [&] {
        end.read_word("w", {"a", "b", "c"});
      },
      "END_ERROR",
      {"the file ends where \"a\", \"b\" or \"c\" (w) was expected"});
}

TEST(TextReader, RecordContextWithoutNumber) {
  TextReader r("square.txt", "x");
  r.set_record("parameters record", 0);
  ExpectFailure(
      [&] { r.read_real("young"); }, "DATA_ERROR", {"expected a real number (young of the parameters record)"});
}

TEST(TextReader, MissingFileIsAFileError) {
  ExpectFailure([] { TextReader::open("no-such-file-here.txt"); },
                "FILE_ERROR",
                {"cannot open \"no-such-file-here.txt\" for reading"});
}

// Files that never end, may never deliver or hold no text are refused
// before anything is read or waited for.
// See docs/decisions.md, 'Input files are regular files'.
class SpecialFile : public platform::testing::ScratchFolder {};

TEST_F(SpecialFile, IsRefusedAtOnceNamingWhatItIs) {
  ASSERT_EQ(::mkfifo("fifo.txt", 0600), 0);
  std::filesystem::create_directory("directory.txt");
  ExpectFailure([] { TextReader::open("fifo.txt"); },
                "FILE_ERROR",
                {"cannot read \"fifo.txt\": it is a FIFO (named pipe), not a regular file"});
  ExpectFailure([] { platform::read_file("directory.txt"); },
                "FILE_ERROR",
                {"cannot read \"directory.txt\": it is a directory, not a regular file"});
  if (std::filesystem::exists("/dev/zero")) {
    std::filesystem::create_symlink("/dev/zero", "zero.txt");
    ExpectFailure([] { platform::read_file("zero.txt"); },
                  "FILE_ERROR",
                  {"cannot read \"zero.txt\": it is a character device, not a regular file"});
  }
  // A link to a regular file is read as that file.
  { std::ofstream("plain.txt") << "text\n"; }
  std::filesystem::create_symlink("plain.txt", "link.txt");
  EXPECT_EQ(platform::read_file("link.txt"), "text\n");
}

}  // namespace

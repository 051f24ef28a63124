#include "cli/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifndef VELORA_VERSION
#error "VELORA_VERSION must be defined by the build (project(velora VERSION ...))"
#endif

namespace cli {

namespace {

// The compiler that built this program, as --version reports it.
std::string compiler() {
#if defined(__clang__)
  return std::string("clang ") + __clang_version__;
#elif defined(__GNUC__)
  return std::string("GCC ") + __VERSION__;
#else
  return "unknown compiler";
#endif
}

// The width of the help page's paragraphs.
constexpr std::size_t kWidth = 79;

// CLI11's messages may span lines (a validator's reason); a usage error is
// reported on one.
std::string one_line(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// Breaks each line of text at spaces so that no line is longer than width
// (a word longer than width stays whole).
std::string wrap(const std::string& text, std::size_t width) {
  std::string out;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    while (line.size() > width) {
      std::size_t cut = line.rfind(' ', width);
      if (cut == std::string::npos || cut == 0) cut = line.find(' ', width);
      if (cut == std::string::npos) break;
      out += line.substr(0, cut) + '\n';
      line.erase(0, cut + 1);
    }
    out += line;
    if (end == text.size()) break;
    out += '\n';
    begin = end + 1;
  }
  return out;
}

}  // namespace

CommandLine::CommandLine(Program program) : program_(std::move(program)), app_(std::string(), program_.name) {
  std::string description = program_.description + "\n\nReads (in the working directory): " + program_.reads +
                            "\nWrites (in the working directory): " + program_.writes +
                            "\nA file is written completely or not at all: after a failure the files of an earlier "
                            "run are as they were.\n";
  app_.description(wrap(description, kWidth));
  app_.footer(
      wrap("Exit status: 0 success; 1 failure (a report on standard error, no file written); 2 usage error (a "
           "message naming the option, nothing done).",
           kWidth));
  app_.set_version_flag(
      "--version", [this] { return version(); }, "Print version and build, and exit");
  app_.add_option("-C", directory_, "Work in DIR instead of the current directory")
      ->type_name("DIR")
      ->check(CLI::ExistingDirectory.description(""));
}

std::string CommandLine::version() const {
  std::string text = program_.name + " (velora) " VELORA_VERSION "\ncompiler: " + compiler();
  for (const std::string& line : version_lines_) text += "\n" + line;
  return text;
}

std::optional<int> CommandLine::parse(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  // CLI11 takes a vector of arguments last first.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app_.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << app_.help();
    return kExitSuccess;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << '\n';
    return kExitSuccess;
  } catch (const CLI::ParseError& e) {
    err << program_.name << ": " << one_line(e.what()) << '\n'
        << CLI::Formatter().make_usage(&app_, program_.name) << std::flush;
    return kExitUsage;
  }
  return std::nullopt;
}

std::vector<std::string> CommandLine::arguments(int argc, const char* const* argv) {
  std::vector<std::string> list;
  for (int i = 1; i < argc; ++i) list.emplace_back(argv[i]);
  return list;
}

void CommandLine::enter_directory() const {
  if (directory_.empty()) return;
  if (::chdir(directory_.c_str()) != 0) {
    const int error = errno;
    throw platform::FileError("cannot change to the directory \"" + directory_ + "\" (-C): " + std::strerror(error));
  }
}

}  // namespace cli

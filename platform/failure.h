#pragma once
// Failures end a program: they are thrown as exceptions and caught in one
// place only, the top of each program's main, which writes the failure
// report and exits with status 1 (see report_failure).
//
// Every failure has a full name, the one the report prints, and a message
// that says in a user's words what went wrong and where.

#include <exception>
#include <new>
#include <string>

namespace platform {

class Failure : public std::exception {
 public:
  Failure(std::string full_name, std::string message)
      : full_name_(std::move(full_name)), message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& full_name() const noexcept { return full_name_; }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string full_name_;
  std::string message_;
};

// A file cannot be opened, created, written or renamed.
struct FileError : Failure {
  explicit FileError(std::string message) : Failure("FILE_ERROR", std::move(message)) {}
};
// A file ends before the data it must hold.
struct EndError : Failure {
  explicit EndError(std::string message) : Failure("END_ERROR", std::move(message)) {}
};
// Text that is not a number where one is expected, an integer outside 32
// bits, or a value the model cannot have.
struct DataError : Failure {
  explicit DataError(std::string message) : Failure("DATA_ERROR", std::move(message)) {}
};
// An index outside its table.
struct RangeError : Failure {
  explicit RangeError(std::string message) : Failure("RANGE_ERROR", std::move(message)) {}
};
// The square root of a negative number.
struct ArgumentError : Failure {
  explicit ArgumentError(std::string message) : Failure("ARGUMENT_ERROR", std::move(message)) {}
};

// Memory exhausted where the program can say by what: a file too large to
// read on this machine. Elsewhere std::bad_alloc itself reaches
// run_program, which gives it the same full name.
struct StorageError : Failure {
  explicit StorageError(std::string message) : Failure("STORAGE_ERROR", std::move(message)) {}
};

// A library the program loads when it needs it cannot be loaded, is not
// the version the program was built for, or fails itself.
struct LibraryError : Failure {
  explicit LibraryError(std::string message) : Failure("LIBRARY_ERROR", std::move(message)) {}
};

// Writes the failure report to standard error: a line end, "raised ", the
// full name and, when there is a message, " : " and the message, then a
// line end.
void report_failure(const std::string& full_name, const std::string& message);

// Runs a program body and turns every failure (and exhausted storage, whose
// full name is STORAGE_ERROR) into the report and exit status 1. Returns the
// program's exit status. Any other exception that reaches here is a fault
// of the program, not of its input; it is reported as PROGRAM_ERROR with
// the same exit status, so that a program never aborts without a report.
template <class Body>
int run_program(Body&& body) {
  try {
    body();
    return 0;
  } catch (const Failure& f) {
    report_failure(f.full_name(), f.message());
  } catch (const std::bad_alloc&) {
    report_failure("STORAGE_ERROR", "not enough memory for the model's tables");
  } catch (const std::exception& e) {
    report_failure("PROGRAM_ERROR", e.what());
  } catch (...) {
    report_failure("PROGRAM_ERROR", "an exception of unknown type");
  }
  return 1;
}

}  // namespace platform

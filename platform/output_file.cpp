#include "platform/output_file.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/failure.h"
#include "platform/number_image.h"

namespace platform {

namespace {

// The signals whose default action ends the program and which a program
// may catch; the synchronous ones (a fault of the program itself: SIGSEGV,
// SIGBUS, SIGFPE, SIGILL) are not among them, nor those that only stop it.
constexpr std::array<int, 12> kDeferred = {
    SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

volatile std::sig_atomic_t pending[kDeferred.size()];

extern "C" void note_signal(int signal) {
  for (std::size_t k = 0; k < kDeferred.size(); ++k) {
    if (kDeferred[k] == signal) pending[k] = 1;
  }
}

// While it lives, the deferred signals are noted instead of acted on; when
// it goes, their earlier actions are back and each noted signal is raised
// again, so a program interrupted during the renames ends (or runs its own
// handler) right after them. The actions are the process's, not a
// thread's, so a signal that reaches another thread (a worker, a library's
// thread) waits as well. Signals the program ignores stay ignored.
class DeferredSignals {
 public:
  DeferredSignals() {
    struct sigaction note {};
    note.sa_handler = note_signal;
    sigfillset(&note.sa_mask);
    for (std::size_t k = 0; k < kDeferred.size(); ++k) {
      pending[k] = 0;
      installed_[k] = false;
      if (sigaction(kDeferred[k], nullptr, &old_[k]) != 0 || old_[k].sa_handler == SIG_IGN) continue;
      installed_[k] = sigaction(kDeferred[k], &note, nullptr) == 0;
    }
  }
  ~DeferredSignals() {
    for (std::size_t k = 0; k < kDeferred.size(); ++k) {
      if (installed_[k]) sigaction(kDeferred[k], &old_[k], nullptr);
    }
    for (std::size_t k = 0; k < kDeferred.size(); ++k) {
      if (installed_[k] && pending[k] != 0) std::raise(kDeferred[k]);
    }
  }
  DeferredSignals(const DeferredSignals&) = delete;
  DeferredSignals& operator=(const DeferredSignals&) = delete;

 private:
  std::array<struct sigaction, kDeferred.size()> old_{};
  std::array<bool, kDeferred.size()> installed_{};
};

}  // namespace

OutputFile::OutputFile(std::string file_name) : file_name_(std::move(file_name)), temp_name_(file_name_ + ".part") {
  errno = 0;
  file_ = std::fopen(temp_name_.c_str(), "wb");
  if (file_ == nullptr) {
    throw FileError("cannot create \"" + file_name_ + "\": " + std::strerror(errno));
  }
  temporary_ = true;
  buffer_.reserve(kFlushAt + 4096);
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (temporary_) {
    std::remove(temp_name_.c_str());
    temporary_ = false;
  }
}

void OutputFile::fail(const std::string& what) {
  const std::string reason = errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
  discard();
  throw FileError("cannot " + what + " \"" + file_name_ + "\"" + reason);
}

OutputFile& OutputFile::real(double v, int fore, int aft, int exp) {
  append_real(buffer_, v, fore, aft, exp);
  maybe_flush();
  return *this;
}

OutputFile& OutputFile::integer(std::int64_t k, int width) {
  append_integer(buffer_, k, width);
  maybe_flush();
  return *this;
}

void OutputFile::flush_buffer() {
  if (buffer_.empty()) return;
  errno = 0;
  if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) fail("write");
  buffer_.clear();
}

void OutputFile::finish() {
  if (file_ == nullptr) return;
  flush_buffer();
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) fail("write");
  std::FILE* f = file_;
  file_ = nullptr;
  errno = 0;
  if (std::fclose(f) != 0) fail("write");
}

std::string OutputFile::replace_target() {
  errno = 0;
  if (std::rename(temp_name_.c_str(), file_name_.c_str()) != 0) return std::strerror(errno);
  temporary_ = false;
  return {};
}

void OutputFile::commit() {
  if (!temporary_) return;
  finish();
  const std::string reason = replace_target();
  if (!reason.empty()) {
    discard();
    throw FileError("cannot replace \"" + file_name_ + "\": " + reason);
  }
}

OutputFile& OutputFiles::add(std::string file_name) {
  files_.push_back(std::make_unique<OutputFile>(std::move(file_name)));
  return *files_.back();
}

void OutputFiles::commit() {
  for (const auto& f : files_) f->finish();
  // A directory of a target's name is the one thing in the way of a
  // rename that the files' own creation has not already ruled out (the
  // directory they stand in takes new files).
  for (const auto& f : files_) {
    struct stat s {};
    if (::lstat(f->file_name().c_str(), &s) == 0 && S_ISDIR(s.st_mode)) {
      throw FileError("cannot replace \"" + f->file_name() + "\": it is a directory; no result file was replaced");
    }
  }
  std::string replaced;
  const DeferredSignals deferred;
  for (const auto& f : files_) {
    const std::string reason = f->replace_target();
    if (!reason.empty()) {
      throw FileError(
          "cannot replace \"" + f->file_name() + "\": " + reason +
          (replaced.empty() ? std::string("; no result file was replaced") : "; already replaced: " + replaced));
    }
    replaced += (replaced.empty() ? "\"" : ", \"") + f->file_name() + "\"";
  }
}

}  // namespace platform

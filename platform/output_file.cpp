#include "platform/output_file.h"

#include <cerrno>
#include <cstring>

#include "platform/failure.h"
#include "platform/number_image.h"

namespace platform {

OutputFile::OutputFile(std::string file_name) : file_name_(std::move(file_name)), temp_name_(file_name_ + ".part") {
  errno = 0;
  file_ = std::fopen(temp_name_.c_str(), "wb");
  if (file_ == nullptr) {
    throw FileError("cannot create \"" + file_name_ + "\": " + std::strerror(errno));
  }
  buffer_.reserve(kFlushAt + 4096);
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
    std::remove(temp_name_.c_str());
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

void OutputFile::commit() {
  if (file_ == nullptr) return;
  flush_buffer();
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) fail("write");
  std::FILE* f = file_;
  file_ = nullptr;
  errno = 0;
  if (std::fclose(f) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temp_name_.c_str());
    throw FileError("cannot write \"" + file_name_ + "\": " + reason);
  }
  errno = 0;
  if (std::rename(temp_name_.c_str(), file_name_.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temp_name_.c_str());
    throw FileError("cannot replace \"" + file_name_ + "\": " + reason);
  }
}

}  // namespace platform

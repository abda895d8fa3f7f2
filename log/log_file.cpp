#include "log/log_platform.h"

namespace tavsn::logos {

LogFile& LogFile::operator=(LogFile&& other) noexcept {
  if (this != &other) {
    reset();
    handle_ = other.release();
  }
  return *this;
}

LogFile::~LogFile() { reset(); }

void LogFile::reset() {
  if (handle_ != nullptr) CloseLogFile(release());
}

}  // namespace tavsn::logos

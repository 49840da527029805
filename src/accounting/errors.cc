#include "accounting/errors.h"

#include <cstring>

namespace tollbook {

FileError::FileError(const std::string& action, const std::string& path, int error_number)
    : Failure(action + " " + path + ": " + std::strerror(error_number)),
      error_number_(error_number) {}

}  // namespace tollbook

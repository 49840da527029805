#include "base/errors.h"

#include <cstring>

#include "base/text.h"

namespace tollbook {

Failure::Failure(const std::string& message) : std::runtime_error(PrintableText(message)) {}

FileError::FileError(const std::string& action, const std::string& path, int error_number)
    : Failure(action + " " + path + ": " + std::strerror(error_number)),
      error_number_(error_number) {}

}  // namespace tollbook

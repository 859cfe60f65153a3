#include "common/error.h"

#include <cstring>

namespace common {

Error FileError(std::string_view action, std::string_view path, int error_number) {
  std::string message(action);
  message += " \"";
  message += path;
  message += "\": ";
  message += error_number != 0 ? std::strerror(error_number) : "I/O error";
  return Error(message);
}

}  // namespace common

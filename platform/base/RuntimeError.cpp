#include "base/RuntimeError.h"

RuntimeError::RuntimeError(int number, const std::string& description, const std::string& source)
    : std::runtime_error(description),
      m_number(number),
      m_description(description),
      m_source(source) {}

void raiseError(int number, const std::string& description, const std::string& source) {
    throw RuntimeError(number, description, source);
}

// Names of parameterised test cases, made from the words of each case's description.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace support {

// GoogleTest's name of a case, made of the words of its description: "xscreensaver's hexadecimal
// id" gives "XscreensaversHexadecimalId", and a name that is one word already stays as it is.
inline std::string CaseName(const std::string& description) {
  std::string name;
  bool wordStart = true;
  for (const char character : description) {
    if (character == '\'') continue; // "xscreensaver's" is one word
    const bool letterOrDigit = std::isalnum(static_cast<unsigned char>(character)) != 0;
    if (letterOrDigit)
      name += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(character))) : character;
    wordStart = !letterOrDigit;
  }
  return name;
}

// For INSTANTIATE_TEST_SUITE_P, of any case with a `name`.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return CaseName(std::string(info.param.name));
}

} // namespace support

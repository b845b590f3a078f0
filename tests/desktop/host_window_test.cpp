// Tests of reading the host's window id as screen-saver hosts write it in XSCREENSAVER_WINDOW.
#include "host_window.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

namespace {

struct Case {
  const char* name;
  std::string text;
  std::optional<std::uint32_t> id;
};

class ParseWindowIdTest : public testing::TestWithParam<Case> {};

TEST_P(ParseWindowIdTest, ReadsWhatHostsWriteAndRefusesTheRest) {
  EXPECT_EQ(desktop::ParseWindowId(GetParam().text), GetParam().id) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Ids, ParseWindowIdTest,
    testing::Values(
        // What xscreensaver writes (0x and upper-case digits) and what xsecurelock writes.
        Case{"hexadecimal, upper-case digits", "0x2A0000B", 0x2A0000B},
        Case{"hexadecimal, lower-case digits", "0x2a0000b", 0x2A0000B},
        Case{"hexadecimal, upper-case prefix", "0X1f", 0x1F}, Case{"decimal", "44040203", 44040203u},
        Case{"decimal with a leading zero", "0123", 123u}, Case{"the largest id", "0xFFFFFFFF", 0xFFFFFFFFu},
        Case{"the largest id in decimal", "4294967295", 0xFFFFFFFFu}, Case{"one", "1", 1u},
        // Malformed values, each a named case.
        Case{"empty", "", std::nullopt}, Case{"zero names no window", "0", std::nullopt},
        Case{"zero in hexadecimal", "0x0", std::nullopt}, Case{"prefix without digits", "0x", std::nullopt},
        Case{"past 32 bits", "0x100000000", std::nullopt}, Case{"past 32 bits in decimal", "4294967296", std::nullopt},
        Case{"negative", "-5", std::nullopt}, Case{"negative hexadecimal", "0x-5", std::nullopt},
        Case{"plus sign", "+5", std::nullopt}, Case{"leading space", " 5", std::nullopt},
        Case{"trailing space", "5 ", std::nullopt}, Case{"trailing newline", "5\n", std::nullopt},
        Case{"trailing letters", "12abc", std::nullopt},
        Case{"hexadecimal digits without the prefix", "2a", std::nullopt}, Case{"a word", "root", std::nullopt},
        Case{"octal-looking prefix", "0o17", std::nullopt}, Case{"two ids", "0x10 0x20", std::nullopt}),
    [](const testing::TestParamInfo<Case>& info) {
      std::string name = info.param.name;
      for (char& character : name) {
        if (!std::isalnum(static_cast<unsigned char>(character))) character = '_';
      }
      return name;
    });

} // namespace

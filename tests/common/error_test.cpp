#include "common/error.h"

#include <gtest/gtest.h>

#include <string>

#include "common/convert.h"

namespace common {
namespace {

using namespace std::string_literals;

TEST(Printable, EscapesEveryByteThatWouldBeHiddenOrLost) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"7\0"s
       "7",
       "7\\x007"},
      {"\t\r\n\x1B\x7F", "\\x09\\x0D\\x0A\\x1B\\x7F"},
      {"a\\b 'c' ~", "a\\b 'c' ~"},
      {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80",
       "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80"},
      // Bytes that are no UTF-8 character: Latin-1, a cut sequence, an overlong NUL, a surrogate.
      {"\xFC"
       "x",
       "\\xFCx"},
      {"\xE2\x82", "\\xE2\\x82"},
      {"\xC0\x80", "\\xC0\\x80"},
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
      {"\xC2\x85", "\\xC2\\x85"},  // NEL, a C1 control
      {"\xC2\xA0", "\xC2\xA0"},
  };
  for (const Case& c : cases) EXPECT_EQ(Printable(c.text), c.shown) << c.shown;
}

TEST(Error, MessagesQuoteTheWholeValueWithItsControlBytesEscaped) {
  const auto message_of = [](auto&& call) -> std::string {
    try {
      call();
    } catch (const Error& e) {
      // The C string and the held text agree: nothing is cut at a NUL.
      EXPECT_EQ(std::string(e.what()), e.Message());
      return e.Message();
    }
    return "no error";
  };
  EXPECT_EQ(message_of([] {
              StrToInt(
                  "7\0"s
                  "7");
            }),
            "'7\\x007' is not a valid integer value");
  EXPECT_EQ(message_of([] {
              StrToInt64(
                  "400\0"s
                  "00");
            }),
            "'400\\x0000' is not a valid integer value");
  EXPECT_EQ(message_of([] {
              HexToInt32(
                  "1\0"s
                  "2");
            }),
            "'$1\\x002' is not a valid integer value");
  EXPECT_EQ(message_of([] { StrToFloat("1\r"); }), "'1\\x0D' is not a valid floating point value");
  EXPECT_EQ(message_of([] { throw FileError("Cannot open", "/tmp/a\0b"s, 2); }),
            "Cannot open \"/tmp/a\\x00b\": No such file or directory");
}

}  // namespace
}  // namespace common

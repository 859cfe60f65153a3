#include "acquisition/reply_cursor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace acquisition {
namespace {

// What the cursor met, as one line of text per case: the header, the records it took (index
// and stamps in hexadecimal), the count held, and the fault's line and field.
std::string Walk(std::string_view text, ReplyFraming framing) {
  ReplyCursor cursor(text, framing);
  const ReplyHeader header = cursor.ReadHeader();
  std::string seen = header == ReplyHeader::kCounts       ? "counts"
                     : header == ReplyHeader::kNoLine     ? "no line"
                     : header == ReplyHeader::kNotSamples ? "not samples"
                                                          : "fault";
  if (header == ReplyHeader::kCounts) {
    seen += " " + std::to_string(cursor.Count1()) + "," + std::to_string(cursor.Count2());
    while (const std::optional<ReplyRecord> r = cursor.Next()) {
      char text_of[64];
      std::snprintf(text_of, sizeof text_of, " %llX:%llX/%llX", static_cast<long long>(r->index),
                    static_cast<unsigned long long>(r->stamp1),
                    static_cast<unsigned long long>(r->stamp2));
      seen += text_of;
    }
  }
  seen += " held " + std::to_string(cursor.Held());
  if (cursor.Fault()) seen += " | " + cursor.Fault()->Text();
  return seen;
}

TEST(ReplyCursor, SaysWhatItMetInEitherFraming) {
  constexpr ReplyFraming kLink = ReplyFraming::kLink;
  constexpr ReplyFraming kFile = ReplyFraming::kFile;
  const struct {
    const char* name;
    ReplyFraming framing;
    std::string text;
    std::string seen;
  } cases[] = {
      {"link: records in index order, the remainder unread", kLink,
       "<K390><SAMPLES>3,2</SAMPLES>\r\n0,A,B\r\n2,0,0\r\n1,14,15\r\n1,99,99\r\n</K390>",
       "counts 3,2 0:A/B 1:14/15 held 2"},
      {"link: a text with no CR is only the remainder", kLink, "<SAMPLES>1,1</SAMPLES>\n",
       "no line held 0"},
      {"link: a blank line is a record that does not convert", kLink,
       "<SAMPLES>2,2</SAMPLES>\r\n0,1,2\r\n\r\n",
       "counts 2,2 0:1/2 held 1 | Reply line 3, "
       "index: '$' is not a valid integer value"},
      {"file: any line end, blanks skipped, the end tag ends", kFile,
       "<SAMPLES>4,4</SAMPLES>\n0,1,2\r\r\n1,3,4\r \n</K390>\n2,5,6\n",
       "counts 4,4 0:1/2 1:3/4 held 2"},
      {"file: a blank first line is no header", kFile, "\n<SAMPLES>1,1</SAMPLES>\n0,1,2\n",
       "not samples held 0"},
      {"a count 2 without its end tag", kFile, "<SAMPLES>3,3\n0,1,2\n",
       "fault held 0 | Reply line 1, count 2: '$' is not a valid integer value"},
      {"stamp 2 of a later record", kFile, "<SAMPLES>2,2</SAMPLES>\n0,1,2\n1,2,X\n3,3,3\n",
       "counts 2,2 0:1/2 held 1 | Reply line 3, stamp 2: '$X' is not a valid integer value"},
      {"an empty text", kFile, "", "no line held 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Walk(c.text, c.framing), c.seen) << c.name;
}

}  // namespace
}  // namespace acquisition

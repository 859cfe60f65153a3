#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/protocol.h"
#include "common/error.h"

namespace acquisition {
namespace {

TEST(DualStamps, EachChannelKeepsItsOwnCountOnOneTimeOrigin) {
  const struct {
    const char* name;
    std::string reply;
    std::vector<int64_t> ch1;
    std::vector<int64_t> ch2;
  } cases[] = {
      {"channel 2 count below the records",
       "<K390><SAMPLES>4,2</SAMPLES>\r\n0,100,125\r\n1,200,225\r\n2,300,0\r\n3,400,0\r\n</K390>",
       {0x100, 0x200, 0x300, 0x400},
       {0x125, 0x225}},
      {"channel 1 count below the records",
       "<SAMPLES>1,3</SAMPLES>\n0,100,90\n1,0,190\n2,0,290\n</K390>",
       {0x100},
       {0x90, 0x190, 0x290}},
      {"counts above the records that came",
       "<SAMPLES>5,5</SAMPLES>\r0,10,20\r1,30,40\r</K390>",
       {0x10, 0x30},
       {0x20, 0x40}},
      {"a skipped index and a blank line",
       "<SAMPLES>3,3</SAMPLES>\r\n0,10,20\r\n\r\n2,99,99\r\n1,30,40\r\n1,77,77\r\n2,50,60\r\n",
       {0x10, 0x30, 0x50},
       {0x20, 0x40, 0x60}},
      {"a 32-bit counter wrapping on both channels",
       "<SAMPLES>3,3</SAMPLES>\r\n0,FFFFFFF0,FFFFFFFA\r\n1,10,1A\r\n2,30,3A\r\n",
       {0xFFFFFFF0, 0x100000010, 0x100000030},
       {0xFFFFFFFA, 0x10000001A, 0x10000003A}},
      {"channel 2's first stamp already past the wrap",
       "<SAMPLES>2,2</SAMPLES>\r\n0,FFFFFF00,10\r\n1,FFFFFFF0,100\r\n",
       {0xFFFFFF00, 0xFFFFFFF0},
       {0x100000010, 0x100000100}},
      {"a 64-bit counter is taken as it is",
       "<SAMPLES>2,2</SAMPLES>\r\n0,100000000,FFFFFFF0\r\n1,100000100,1000000F0\r\n",
       {0x100000000, 0x100000100},
       {0xFFFFFFF0, 0x1000000F0}},
      {"no header", "0,10,20\r\n1,30,40\r\n", {}, {}},
  };
  for (const auto& c : cases) {
    const DualStamps stamps = DecodeDualStamps(c.reply);
    EXPECT_EQ(stamps.ch1, c.ch1) << c.name;
    EXPECT_EQ(stamps.ch2, c.ch2) << c.name;
  }
}

TEST(DualStamps, MalformedFieldsNameTheirLine) {
  const struct {
    std::string reply;
    std::string message;
  } cases[] = {
      {"<SAMPLES>3</SAMPLES>\r\n", "Reply line 1, count 1: '$' is not a valid integer value"},
      {"<SAMPLES>2,2</SAMPLES>\r\n0,1,2\r\n1,2G,3\r\n",
       "Reply line 3, stamp 1: '$2G' is not a valid integer value"},
      {"<SAMPLES>2,2</SAMPLES>\n0,1\n", "Reply line 2, stamp 2: '$' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    try {
      DecodeDualStamps(c.reply);
      ADD_FAILURE() << c.reply;
    } catch (const common::Error& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

}  // namespace
}  // namespace acquisition

// The texts both front ends show: sizes, mode words and the message for each result.
#include <gtest/gtest.h>

#include "formats/messages.h"

TEST(FormatSize, KeepsTwoDecimalsAndPicksTheUnit) {
  struct Case {
    std::uint32_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 B"},
      {964, "964 B"},
      {1023, "1023 B"},          // the last count shown in bytes
      {1024, "1 kB"},
      {1536, "1.5 kB"},
      {1000000, "976.56 kB"},    // 976.5625 rounds down
      {1048575, "1024 kB"},      // 1023.999 rounds up but stays in kB
      {1048576, "1 MB"},
      {5242880, "5 MB"},
      {143640, "140.27 kB"},
      {10485, "10.24 kB"},       // 10.2392 rounds to 10.24
      {1049, "1.02 kB"},
      {1572864, "1.5 MB"},
      {1034, "1.01 kB"},         // 1.0098 rounds up to the second decimal
      {4294967295u, "4096 MB"},  // the largest size the model holds
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

TEST(FormatMode, EightUpperCaseHexDigits) {
  EXPECT_EQ(FormatMode(0x8497), "0x00008497");
  EXPECT_EQ(FormatMode(0x842F), "0x0000842F");
  EXPECT_EQ(FormatMode(0xDEADBEEF), "0xDEADBEEF");
}

TEST(ResultMessages, OpenAndSaveTables) {
  const struct {
    int result;
    const char* text;
  } load[] = {
      {0, "Error opening file"},
      {-1, "Unexpected error"},
      {-2, "Unexpected error"},
      {-3, "Cannot load file. First entry is not a directory"},
      {-4, "Unexpected error"},
      {-5, "Unexpected error"},
      {-6, "Format of the file you are trying to open is not valid"},
      {-7, "Not enough memory to create buffers"},
      {-8, "Unexpected error"},
      {2, "Unexpected error"},
  };
  for (const auto& c : load) EXPECT_EQ(messages::LoadResultMessage(c.result), c.text) << c.result;
  EXPECT_EQ(messages::SaveResultMessage(0), "Error opening file");
  EXPECT_EQ(messages::SaveResultMessage(-4),
            "There was a problem when deleting/reneming file. You can still access copy of "
            "your file.");
  EXPECT_EQ(messages::SaveResultMessage(1), "");
  EXPECT_EQ(messages::SaveResultMessage(-5), "");
  EXPECT_EQ(messages::SaveResultMessage(-7), "Not enough memory to create buffers");
  EXPECT_EQ(messages::SaveResultMessage(-6), "Unexpected error");
  EXPECT_EQ(messages::SaveResultMessage(2), "Unexpected error");
  EXPECT_EQ(messages::FileExistsQuestion("a.bin"),
            "File \"a.bin\" already exists. Do you want to replace it?");
}

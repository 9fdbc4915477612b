#include <gtest/gtest.h>

#include "model/save_game.h"
#include "support/test_util.h"

TEST(GenericSave, FirstAddCreatesUnnamedRoot) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("a.bin"), testutil::MakeBytes(100, 1));
  CGeneric save;
  save.AddEntryFromDisk(dir.File("a.bin"), "a.bin");
  ASSERT_TRUE(save.entries);
  EXPECT_EQ((*save.entries)[0].size, 3u);
}

// The sample save that ships in samples/ is made by the project's own builder; this
// keeps it valid and reproducible. Set MORAVELT_WRITE_SAMPLE=1 to write it anew.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "formats/psu/psu.h"
#include "support/psu_builder.h"

namespace {

testutil::Bytes BuildSample() {
  testutil::PsuImage img;
  img.folder = "BESLES-00000DEMO";
  img.created = testutil::MakeTime(2026, 12, 8, 14, 0, 0);
  img.modified = img.created;
  // "DEMO SAVE" in full-width Shift-JIS, as a console title would be.
  const std::string title = "\x82\x63\x82\x64\x82\x6C\x82\x6E\x81\x40\x82\x72\x82\x60\x82\x75\x82\x64";
  img.files = {{"icon.sys", testutil::MakeIconSys(title)},
               {"view.ico", testutil::MakeBytes(1500, 7)},
               {"DEMO.DAT", testutil::MakeBytes(3000, 8)}};
  for (auto& f : img.files) {
    f.created = img.created;
    f.modified = img.created;
  }
  return img.Build();
}

}  // namespace

TEST(SampleSave, MatchesItsRecipeAndLoads) {
  std::filesystem::path path = std::filesystem::path(MORAVELT_SOURCE_DIR) / "samples" / "demo.psu";
  testutil::Bytes expected = BuildSample();
  if (std::getenv("MORAVELT_WRITE_SAMPLE")) testutil::WriteFile(path.string(), expected);
  ASSERT_TRUE(std::filesystem::exists(path)) << "samples/demo.psu is missing";
  EXPECT_EQ(testutil::ReadFile(path.string()), expected);
  CPsu save;
  ASSERT_EQ(save.Load(path.string()), LoadResult::kOk);
  EXPECT_EQ((*save.entries)[0].Title(), "DEMO SAVE");
}

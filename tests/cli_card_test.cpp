// The card commands: the corpus cards, saves going on and off each kind of card, full and
// damaged cards, formats, layout conversions, refusals, and the CARD:FOLDER names.
#include <gtest/gtest.h>

#include "cli/common.h"

TEST(CliCard, CardSaveNames) {
  const struct { const char* text; const char* card; const char* folder; } rows[] = {  // card nullptr: none
      {"Mcd001.ps2:BESCES-50501REZ", "Mcd001.ps2", "BESCES-50501REZ"}, {"a:b:SAVE", "a:b", "SAVE"},
      {"D:\\cards\\Mcd001.ps2:BESCES-50501REZ", "D:\\cards\\Mcd001.ps2", "BESCES-50501REZ"},
      {"D:\\saves\\game.psu", nullptr, nullptr}, {"D:game.psu", nullptr, nullptr}, {"card.ps2:", nullptr, nullptr},
      {":SAVE", nullptr, nullptr}, {"card.ps2:dir/file", nullptr, nullptr}, {"card.ps2:dir\\file", nullptr, nullptr},
      {"card.ps2:123456789012345678901234567890123", nullptr, nullptr},
  };
  for (const auto& r : rows) {
    std::optional<cli::CardSaveName> name = cli::SplitCardSaveName(r.text);
    ASSERT_EQ(name.has_value(), r.card != nullptr) << r.text;
    if (name) {
      EXPECT_EQ(name->card + "|" + name->folder, std::string(r.card) + "|" + r.folder);
    }
  }
}

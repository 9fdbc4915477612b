// What ls, find and check show of an SD card: each card found, opened, with its size, its
// saves, its free space, its damage and whether its device takes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "sd/find_cards.h"

namespace sd {

struct CardSurvey {
  FoundCard place;
  bool opened = false;
  std::string failure;        // why it can't be read (the first fatal issue)
  std::uint64_t fileBytes = 0;  // the image file's size; 0 for a folder card
  unsigned megabytes = 0;
  bool ecc = false;
  bool ps1 = false;           // a PS1 card: 128 KB, its space counted in blocks
  int saves = 0;              // live saves (a PS1 card's deleted ones are not counted)
  std::uint32_t freeKB = 0;
  int freeBlocks = 0;         // PS1
  bool damaged = false;       // issues worse than a notice
  std::string refusal;        // why its device would refuse it; empty when it takes it
};

struct Survey {
  std::vector<CardSurvey> cards;
  bool truncated = false;  // the SD card holds more than the walk looks at
};

Survey SurveyCards(const std::string& root);

// A save whose folder name or title holds the text searched for.
struct FoundSave {
  std::string card;    // from the SD card's root
  std::string folder;
  std::string title;   // the full title as UTF-8
};
struct SearchResult {
  std::vector<FoundSave> saves;
  std::vector<std::string> unreadable;  // cards that could not be searched, and why
};
SearchResult FindSaves(const std::string& root, std::string_view text);

// Everything card check finds on each card, and what the device would refuse.
struct CardFindings {
  FoundCard place;
  std::vector<card::Issue> issues;
  std::string refusal;
  bool Clean() const;  // nothing worse than a notice, and no refusal
};

std::vector<CardFindings> CheckCards(const std::string& root);

// What sd check finds: every card's findings, and the VMCDIR.TXT files of POPStarter's
// folders that are not followed (their paths from the root).
struct TreeFindings {
  std::vector<CardFindings> cards;
  std::vector<PopsFinding> redirects;
  bool Clean() const;
};
TreeFindings CheckTree(const std::string& root);

}  // namespace sd

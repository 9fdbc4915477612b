// A card's size as its user knows it: megabytes and whether its pages carry ECC, a folder
// card, or a PS1 card.
#pragma once

#include <string>

#include "card/card.h"

namespace card {

// The card's size in MB and whether its pages carry ECC; 8 MB for a folder card.
struct CardSize {
  unsigned megabytes = 0;
  bool ecc = false;
  bool folder = false;
  bool ps1 = false;
  // A PS3 card's kind, which its windows name: "PS3 card (.VM2)", "PS2 Classics card (.VME),
  // retail key"; empty for the other kinds.
  std::string kind = {};
};
CardSize SizeOf(const Card& c);
// "8 MB with ECC", "8 MB without ECC", "8 MB folder card", "128 KB PS1 card", "8 MB PS3 card
// (.VM2)".
std::string SizeText(const CardSize& size);

}  // namespace card

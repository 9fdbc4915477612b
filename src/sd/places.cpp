#include "sd/places.h"

#include <array>

#include "card/layout.h"
#include "sd/pops.h"

namespace sd {

namespace {

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kPs1CardBytes = 131072;

// A whole number of MiB that is a power of two from `from` to 64; 0 for other sizes.
std::uint64_t PowerOfTwoMiB(std::uint64_t bytes, std::uint64_t unit, unsigned from) {
  for (std::uint64_t mb = from; mb <= 64; mb *= 2)
    if (bytes == mb * unit) return mb;
  return 0;
}

bool HasEccSize(std::uint64_t bytes) {
  const std::uint64_t eccMiB = card::Geometry{1024, true}.ImageSize();
  return PowerOfTwoMiB(bytes, eccMiB, 1) != 0;
}

std::string Bytes(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
  return digits + " bytes";
}

}  // namespace

std::string_view LayoutName(Layout layout) {
  switch (layout) {
    case Layout::kSd2psx: return "sd2psx";
    case Layout::kMemcardPro2: return "MemCard PRO 2";
    case Layout::kMemcardPro: return "MemCard PRO";
    case Layout::kOpl: return "Open PS2 Loader";
    case Layout::kPcsx2: return "PCSX2";
    case Layout::kPops: return "POPStarter";
  }
  return "";
}

std::string_view ConsoleName(Console console) { return console == Console::kPs1 ? "PS1" : "PS2"; }

Layout LayoutFor(Layout device, Console console) {
  if (console == Console::kPs1 && device == Layout::kMemcardPro2) return Layout::kMemcardPro;
  return device;
}

int ChannelCount(Layout layout) { return layout == Layout::kOpl || layout == Layout::kPops ? 2 : 8; }

std::string OplCardName(std::string_view startup, int slot) { return std::string(startup) + "_" + std::to_string(slot); }

std::string OplCfgPath(std::string_view startup) { return "CFG/" + std::string(startup) + ".cfg"; }

std::string ChannelCardPath(Layout layout, Console console, std::string_view folder, int channel) {
  const std::string name(folder);
  const std::string ch = std::to_string(channel);
  switch (layout) {
    case Layout::kSd2psx:
      return "MemoryCards/" + std::string(ConsoleName(console)) + "/" + name + "/" + name + "-" + ch + ".mcd";
    case Layout::kMemcardPro2:
      return name + "/" + name + "-" + ch + ".mc2";
    case Layout::kMemcardPro:
      return name + "/" + name + "-" + ch + ".mcd";
    case Layout::kOpl:
      return "VMC/" + OplCardName(folder, channel - 1) + ".bin";
    case Layout::kPops:
      return name + "/" + PopsSlotName(channel - 1);
    case Layout::kPcsx2:
      break;
  }
  return name + "-" + ch + ".ps2";
}

std::string Refusal(Layout layout, Console console, std::uint64_t size) {
  const std::string device(LayoutName(layout));
  if (layout == Layout::kPcsx2) return {};
  if (console == Console::kPs1 || layout == Layout::kMemcardPro)
    return size == kPs1CardBytes ? std::string() : "a file of " + Bytes(size) + ", not the 131,072 of a PS1 card";
  if (HasEccSize(size)) return "it has ECC, which " + device + " refuses";
  switch (layout) {
    case Layout::kSd2psx:
      if (size == kMiB / 2 || PowerOfTwoMiB(size, kMiB, 1)) return {};
      return "a file of " + Bytes(size) + ": sd2psx takes only cards of 512 KB or 1, 2, 4, 8, 16, 32 or 64 MB";
    case Layout::kOpl:
      if (PowerOfTwoMiB(size, kMiB, 8)) return {};
      return "a file of " + Bytes(size) + ": Open PS2 Loader takes only cards of 8, 16, 32 or 64 MB";
    default:
      return {};
  }
}

}  // namespace sd

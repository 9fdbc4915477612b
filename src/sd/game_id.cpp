#include "sd/game_id.h"

namespace sd {

namespace {

constexpr std::size_t kCodeLength = 10;
constexpr std::size_t kRegionLength = 2;

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsRegion(std::string_view two) {
  return two.size() == kRegionLength && two[0] == 'B' &&
         std::string_view("AEICK").find(two[1]) != std::string_view::npos;
}

}  // namespace

std::string DeviceId(std::string_view text) {
  const std::size_t cut = text.find_last_of("\\/:");
  if (cut != std::string_view::npos) text.remove_prefix(cut + 1);
  text = text.substr(0, text.find(';'));
  std::string id;
  for (char c : text) {
    if (c == '.') continue;
    id.push_back(c == '_' ? '-' : c);
  }
  return id;
}

bool IsProductCode(std::string_view code) {
  if (code.size() != kCodeLength || code[4] != '-') return false;
  for (std::size_t i = 0; i < 4; ++i)
    if (!IsUpper(code[i])) return false;
  for (std::size_t i = 5; i < kCodeLength; ++i)
    if (!IsDigit(code[i])) return false;
  return true;
}

std::string StartupFile(std::string_view code) {
  if (!IsProductCode(code)) return {};
  return std::string(code.substr(0, 4)) + "_" + std::string(code.substr(5, 3)) + "." +
         std::string(code.substr(8, 2));
}

std::string ProductCodeOf(std::string_view folder) {
  if (folder.size() < kRegionLength + kCodeLength || !IsRegion(folder.substr(0, kRegionLength))) return {};
  std::string code(folder.substr(kRegionLength, kCodeLength));
  // PS1 cards hold names with "P" where the code has "-".
  if (code[4] == 'P') code[4] = '-';
  return IsProductCode(code) ? code : std::string();
}

bool IsSystemFolder(std::string_view folder) {
  if (folder == "BWNETCNF") return true;
  // "B?DATA-SYSTEM" for every region letter.
  return folder.size() == 13 && folder[0] == 'B' && IsUpper(folder[1]) &&
         folder.substr(kRegionLength) == "DATA-SYSTEM";
}

}  // namespace sd

#include "formats/ascii_title.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "model/bytes.h"
#include "model/icon_sys.h"
#include "model/save_game.h"

namespace {

constexpr std::size_t kLineBreakOffset = 6;

std::string LineToAscii(std::string_view raw) {
  std::array<char, kIconSysTitleField + 1> ascii{};
  TitleToAscii(std::span<const char>(raw.data(), raw.size()), ascii);
  return ascii.data();
}

}  // namespace

std::string AsciiTitle(const CSaveGame& save, std::size_t maxChars) {
  std::optional<std::vector<std::uint8_t>> bytes = ReadIconSys(save);
  if (!bytes) return {};
  const char* field = reinterpret_cast<const char*>(bytes->data() + kIconSysTitleOffset);
  std::size_t length = 0;
  while (length < kIconSysTitleField && field[length] != '\0') ++length;
  const std::string_view raw(field, length);
  const std::size_t split = bytes::GetU16LE(bytes->data() + kLineBreakOffset);

  std::string title;
  if (split > 0 && split < raw.size()) {
    title = LineToAscii(raw.substr(0, split));
    if (!title.empty() && title.back() != ' ') title += ' ';
    title += LineToAscii(raw.substr(split));
  } else {
    title = LineToAscii(raw);
  }
  if (title.size() > maxChars) title.resize(maxChars);
  return title;
}

std::string HeaderTitle(const CSaveGame& save, std::size_t maxChars) {
  std::string title = AsciiTitle(save, maxChars);
  if (title.empty() && save.entries && !save.entries->empty())
    title = std::string((*save.entries)[0].Name().substr(0, maxChars));
  return title;
}

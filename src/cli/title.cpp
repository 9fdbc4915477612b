#include "cli/title.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "cli/platform.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "model/icon_sys.h"
#include "model/save_game.h"

namespace cli {

namespace {
constexpr std::size_t kLineBreakOffset = 6;
}

std::string FullTitle::Joined() const { return line2.empty() ? line1 : line1 + "\n" + line2; }

FullTitle ReadFullTitle(const CSaveGame& save) {
  FullTitle title;
  std::optional<std::vector<std::uint8_t>> bytes = ReadIconSys(save);
  if (!bytes) return title;
  const char* field = reinterpret_cast<const char*>(bytes->data() + kIconSysTitleOffset);
  std::size_t length = 0;
  while (length < kIconSysTitleField && field[length] != '\0') ++length;
  std::string_view raw(field, length);
  std::size_t split = bytes::GetU16LE(bytes->data() + kLineBreakOffset);
  title.found = true;
  if (split > 0 && split < raw.size()) {
    title.line1 = platform::ShiftJisToUtf8(raw.substr(0, split));
    title.line2 = platform::ShiftJisToUtf8(raw.substr(split));
  } else {
    title.line1 = platform::ShiftJisToUtf8(raw);
  }
  return title;
}

}  // namespace cli

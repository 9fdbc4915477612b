#include "sd/search.h"

#include <array>
#include <cstdint>

namespace sd {

namespace {

constexpr char32_t kNone = 0xFFFFFFFF;
constexpr char32_t kVoiced = 0xFF9E, kSemiVoiced = 0xFF9F;

// U+FF61..U+FF9F, the half-width katakana block, as full-width characters.
constexpr std::array<char16_t, 0x3F> kHalfWidthKana = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9,
    0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB,
    0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1,
    0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5,
    0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C};

// The code point at text[i], advancing i; kNone (and one byte) for what is not UTF-8.
char32_t Decode(std::string_view text, std::size_t& i) {
  const auto b = static_cast<unsigned char>(text[i]);
  int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
    ++i;
    return kNone;
  }
  char32_t c = extra == 0 ? b : b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto n = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((n & 0xC0) != 0x80) {
      ++i;
      return kNone;
    }
    c = (c << 6) | (n & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  return c;
}

void Encode(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The katakana with a voiced (dakuten) or semi-voiced (handakuten) mark; kNone when it has none.
char32_t WithMark(char32_t kana, char32_t mark) {
  const bool kaToChi = kana >= 0x30AB && kana <= 0x30C1 && (kana - 0x30AB) % 2 == 0;
  const bool tsuToTo = kana == 0x30C4 || kana == 0x30C6 || kana == 0x30C8;
  const bool haRow = kana >= 0x30CF && kana <= 0x30DB && (kana - 0x30CF) % 3 == 0;
  if (mark == kVoiced) {
    if (kana == 0x30A6) return 0x30F4;  // ウ to ヴ
    if (kaToChi || tsuToTo || haRow) return kana + 1;
  }
  if (mark == kSemiVoiced && haRow) return kana + 2;
  return kNone;
}

}  // namespace

std::string SearchKey(std::string_view text) {
  std::string key;
  key.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t at = i;
    char32_t c = Decode(text, i);
    if (c == kNone) {
      key.push_back(text[at]);
      continue;
    }
    if (c >= 0xFF01 && c <= 0xFF5E) {
      c -= 0xFF01 - 0x21;
    } else if (c == 0x3000) {
      c = ' ';
    } else if (c >= 0xFF61 && c <= 0xFF9F) {
      c = kHalfWidthKana[c - 0xFF61];
      std::size_t next = i;
      if (next < text.size()) {
        const char32_t mark = Decode(text, next);
        const char32_t marked = WithMark(c, mark);
        if (marked != kNone) {
          c = marked;
          i = next;
        }
      }
    }
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    Encode(c, key);
  }
  return key;
}

bool SearchMatches(std::string_view text, std::string_view needle) {
  return SearchKey(text).find(SearchKey(needle)) != std::string::npos;
}

}  // namespace sd

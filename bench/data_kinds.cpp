#include "data_kinds.h"

#include <zlib.h>

#include <cstdio>
#include <string_view>

namespace bench {

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kKiB = 1024;

// A number as text, as printf's %d would give it.
void AppendNumber(Bytes& out, long v) {
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%ld", v);
  out.insert(out.end(), digits, digits + n);
}
void AppendString(Bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }

// A configuration file: sections of key = value lines, the keys from a game's vocabulary
// with numbered variants, the values numbers of every size, flags, names and lists.
void AppendConfig(Bytes& out, std::size_t n, Rng& rng) {
  static const std::string_view kSections[] = {"Video", "Audio", "Controls", "Player", "Progress",
                                               "Network", "Camera", "Inventory", "Options"};
  static const std::string_view kKeys[] = {
      "width", "height", "brightness", "volume_music", "volume_sfx", "language", "subtitles",
      "invert_y", "sensitivity", "vibration", "button_", "last_stage", "checkpoint", "difficulty",
      "play_time", "gold", "lives", "continues", "best_lap_", "unlocked_", "weapon_", "ammo_",
      "camera_distance", "hud_scale", "name", "slot", "autosave", "region"};
  static const std::string_view kNames[] = {"Sora", "KAIN", "Player1", "Lightning", "Tidus",
                                            "Crash", "RACER-X", "Guest"};
  const std::size_t end = out.size() + n;
  while (out.size() < end) {
    out.push_back('[');
    AppendString(out, kSections[rng.Below(9)]);
    AppendString(out, "]\n");
    for (std::uint32_t lines = 3 + rng.Below(14); lines > 0 && out.size() < end; --lines) {
      const std::string_view key = kKeys[rng.Below(28)];
      AppendString(out, key);
      if (key.back() == '_') AppendNumber(out, rng.Below(40));
      AppendString(out, " = ");
      switch (rng.Below(6)) {
        case 0: AppendString(out, rng.Below(2) ? "true" : "false"); break;
        case 1: AppendNumber(out, rng.Below(10)); break;
        case 2: AppendNumber(out, rng.Below(1000)); break;
        case 3: AppendNumber(out, static_cast<long>(rng.Below(2000000)) - 1000000); break;
        case 4:
          out.push_back('"');
          AppendString(out, kNames[rng.Below(8)]);
          out.push_back('"');
          break;
        default:
          for (std::uint32_t k = 0, items = 2 + rng.Below(6); k < items; ++k) {
            if (k) AppendString(out, ", ");
            AppendNumber(out, rng.Below(256));
          }
      }
      out.push_back('\n');
    }
    out.push_back('\n');
  }
  out.resize(end);
}

// A game's log: a time stamp that moves on, a level, and one of a few dozen messages
// with numbers in them.
void AppendLog(Bytes& out, std::size_t n, Rng& rng) {
  static const std::string_view kLevels[] = {"INFO ", "DEBUG", "WARN ", "ERROR"};
  static const std::string_view kMessages[] = {
      "stage %d loaded in %d ms", "player %d picked up item %d at (%d, %d)", "autosave to slot %d",
      "memory card %d: %d bytes free", "texture cache miss %d", "enemy %d spawned, hp %d",
      "checkpoint %d reached, time %d", "sound bank %d streamed, %d voices", "frame %d took %d us",
      "controller %d disconnected", "score %d, combo %d", "quest %d state %d"};
  const std::size_t end = out.size() + n;
  long ms = rng.Below(1000000);
  while (out.size() < end) {
    ms += rng.Below(5000);
    char stamp[40];
    const int len = std::snprintf(stamp, sizeof stamp, "%02ld:%02ld:%02ld.%03ld [", ms / 3600000 % 24,
                                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    out.insert(out.end(), stamp, stamp + len);
    AppendString(out, kLevels[rng.Below(10) < 7 ? 0 : 1 + rng.Below(3)]);
    AppendString(out, "] ");
    const std::string_view m = kMessages[rng.Below(12)];
    for (std::size_t i = 0; i < m.size(); ++i) {
      if (m[i] == '%' && i + 1 < m.size() && m[i + 1] == 'd') {
        const std::uint32_t scale = rng.Below(3);
        AppendNumber(out, rng.Below(scale == 0 ? 10 : scale == 1 ? 1000 : 100000));
        ++i;
      } else {
        out.push_back(static_cast<std::uint8_t>(m[i]));
      }
    }
    out.push_back('\n');
  }
  out.resize(end);
}

// A table of one layout of record: fields of 1, 2 and 4 bytes holding counters that
// move by small steps, flags of a few bits, small numbers, larger ones and some that
// stay the same for a while, as a game's characters, items or progress tables do.
void AppendRecords(Bytes& out, std::size_t n, Rng& rng) {
  enum Field : std::uint8_t { kCounter, kFlags, kSmall, kByte, kHalf, kWord, kSticky, kSigned };
  struct Layout {
    std::uint8_t kind[24];
    std::uint8_t width[24];
    std::uint32_t fields;
  } layout{};
  layout.fields = 6 + rng.Below(14);
  for (std::uint32_t f = 0; f < layout.fields; ++f) {
    layout.kind[f] = static_cast<std::uint8_t>(rng.Below(8));
    layout.width[f] = static_cast<std::uint8_t>(1u << rng.Below(3));
  }
  std::uint32_t value[24] = {};
  for (std::uint32_t f = 0; f < layout.fields; ++f) value[f] = rng.Below(100);
  const std::size_t end = out.size() + n;
  while (out.size() < end) {
    for (std::uint32_t f = 0; f < layout.fields; ++f) {
      std::uint32_t& v = value[f];
      switch (layout.kind[f]) {
        case kCounter: v += 1 + rng.Below(3); break;
        case kFlags: v = (rng.Below(4) == 0 ? rng.Below(256) : v) & 0x8F; break;
        case kSmall: v = rng.Below(10); break;
        case kByte: v = rng.Below(256); break;
        case kHalf: v = rng.Below(1000); break;
        case kWord: v = rng.Below(100000); break;
        case kSticky: v = rng.Below(8) == 0 ? rng.Below(64) : v; break;
        default: v = static_cast<std::uint32_t>(static_cast<int>(rng.Below(513)) - 256); break;
      }
      for (std::uint32_t k = 0; k < layout.width[f]; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
  }
  out.resize(end);
}

}  // namespace

Bytes TextLinesData(std::size_t n, std::uint64_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(n + 16 * kKiB);
  // Files of 2 to 32 KiB, a configuration or a log each.
  while (out.size() < n) {
    const std::size_t file = kKiB * (2 + rng.Below(31));
    if (rng.Below(2)) AppendConfig(out, file, rng);
    else AppendLog(out, file, rng);
  }
  out.resize(n);
  return out;
}

Bytes RecordsData(std::size_t n, std::uint64_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(n + 32 * kKiB);
  // Tables of 1 to 32 KiB, each with a layout of its own.
  while (out.size() < n) AppendRecords(out, kKiB * (1 + rng.Below(32)), rng);
  out.resize(n);
  return out;
}

// Zeros of 4 to 64 KiB (unused space), a byte repeated 1 to 16 KiB (0xFF as erased
// memory, or any other), and a header of 16 to 256 bytes of data between them.
Bytes RunsData(std::size_t n, std::uint64_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(n + 128 * kKiB);
  while (out.size() < n) {
    AppendRecords(out, 16 + rng.Below(241), rng);
    out.insert(out.end(), kKiB * (4 + rng.Below(61)), 0);
    AppendRecords(out, 16 + rng.Below(241), rng);
    out.insert(out.end(), kKiB * (1 + rng.Below(16)), rng.Below(2) ? 0xFF : static_cast<std::uint8_t>(rng.Below(256)));
  }
  out.resize(n);
  return out;
}

// Text and records deflated in pieces of 16 to 256 KiB, one after the other, as files
// that were compressed before being saved (zlib's default level).
Bytes CompressedData(std::size_t n, std::uint64_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(n + 256 * kKiB);
  while (out.size() < n) {
    const std::size_t piece = kKiB * (16 + rng.Below(241));
    const Bytes plain = rng.Below(2) ? TextLinesData(piece, rng.Next()) : RecordsData(piece, rng.Next());
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    Bytes packed(size);
    if (compress2(packed.data(), &size, plain.data(), static_cast<uLong>(plain.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
      break;
    out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(size));
  }
  out.resize(n);
  return out;
}

}  // namespace bench

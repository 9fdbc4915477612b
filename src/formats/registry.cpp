#include "formats/registry.h"

#include <array>
#include <span>

#include "formats/max/max.h"
#include "formats/psu/psu.h"
#include "formats/xps/xps.h"

namespace {

struct Entry {
  FormatInfo info;
  std::unique_ptr<CSaveGame> (*create)();
};

template <class T>
std::unique_ptr<CSaveGame> Make() {
  return std::make_unique<T>();
}

// One line per readable extension.
const std::array kReadable = {
    Entry{{"psu", kKindPsu, "Memory Linker"}, &Make<CPsu>},
    Entry{{"xps", kKindXps, "Xport-2"}, &Make<CXps>},
    Entry{{"sps", kKindXps, "Shark Port 2"}, &Make<CXps>},
    Entry{{"max", kKindMax, "ARMAX V3"}, &Make<CMax>},
    Entry{{"pws", kKindMax, "ARMAX PowerSave"}, &Make<CMax>},
};

// One line per writable kind, with the extension that selects it.
const std::array kWritable = {
    Entry{{"psu", kKindPsu, "Memory Linker"}, &Make<CPsu>},
    Entry{{"xps", kKindXps, "X-Port"}, &Make<CXps>},
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::array<FormatInfo, kReadable.size()> MakeReadableInfo() {
  std::array<FormatInfo, kReadable.size()> out{};
  for (std::size_t i = 0; i < kReadable.size(); ++i) out[i] = kReadable[i].info;
  return out;
}

}  // namespace

std::string_view ExtensionOf(std::string_view path) {
  std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
}

std::unique_ptr<CSaveGame> CreateForExtension(std::string_view extension) {
  for (const Entry& e : kReadable)
    if (EqualsNoCase(e.info.extension, extension)) return e.create();
  return nullptr;
}

int TargetKindForExtension(std::string_view extension) {
  for (const Entry& e : kWritable)
    if (EqualsNoCase(e.info.extension, extension)) return e.info.kind;
  return 0;
}

std::unique_ptr<CSaveGame> CreateForKind(int kind) {
  for (const Entry& e : kWritable)
    if (e.info.kind == kind) return e.create();
  return nullptr;
}

std::span<const FormatInfo> ReadableFormats() {
  static const auto infos = MakeReadableInfo();
  return infos;
}

std::string_view KindName(int kind) {
  switch (kind) {
    case kKindPsu: return "psu";
    case kKindXps: return "xps";
    case kKindGeneric: return "generic";
    case kKindMax: return "max";
    default: return "unknown";
  }
}

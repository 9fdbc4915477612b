// info: what the main window shows for a save, as text or as one JSON object, with the
// fields of its icon.sys.
#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

#include "model/float_text.h"
#include "cli/command.h"
#include "model/icon_sys.h"
#include "formats/messages.h"
#include "formats/ps1/ps1_save.h"
#include "formats/psv/psv.h"
#include "formats/registry.h"
#include "icon/icon_sys_fields.h"
#include "model/icon_sys.h"

namespace cli {

namespace {

struct InfoOptions {
  std::string file;
  bool json = false;
  OpenOptions open;
};

// The title as the title field shows it: read into an empty buffer and converted, or
// "No valid icon.sys" when that gives nothing.
std::string ShownTitle(const CSaveGame& save) {
  std::array<char, kTitleField> raw{};
  std::array<char, kTitleField> ascii{};
  ReadIconSysTitle(save, raw);
  TitleToAscii(raw, ascii);
  std::string text = ascii.data();
  return text.empty() ? std::string(messages::kNoValidIconSys) : text;
}

// "card" for a save opened on a memory card, else the family's name.
std::string FormatName(const CSaveGame& save) {
  const bool onCard = save.kind == kKindCard || save.kind == kKindPs1;
  return onCard ? std::string("card") : std::string(KindName(save.kind));
}

std::optional<icon::IconSysFields> IconSysOf(const CSaveGame& save) {
  std::optional<std::vector<std::uint8_t>> bytes = ReadIconSys(save);
  if (!bytes) return std::nullopt;
  icon::Result<icon::IconSysFields> fields = icon::ParseIconSys(*bytes);
  if (!fields) return std::nullopt;
  return fields.value();
}

// A stored f32 as the shortest decimal that reads back as it (0.3, not 0.300000011920929);
// NaN and infinities, which JSON has no numbers for, as null.
nlohmann::ordered_json Number(float value) {
  if (!std::isfinite(value)) return nullptr;
  return model::ShortestValue(value);
}

nlohmann::ordered_json IconSysJson(const icon::IconSysFields& f) {
  nlohmann::ordered_json j;
  nlohmann::ordered_json icons;
  icons["normal"] = BytesToUtf8(f.IconName(icon::IconSlot::kNormal));
  icons["copy"] = BytesToUtf8(f.IconName(icon::IconSlot::kCopy));
  icons["delete"] = BytesToUtf8(f.IconName(icon::IconSlot::kDelete));
  j["icons"] = std::move(icons);
  j["background_alpha"] = f.backgroundAlpha;
  nlohmann::ordered_json corners;
  const char* cornerNames[] = {"top_left", "top_right", "bottom_left", "bottom_right"};
  for (std::size_t i = 0; i < f.corners.size(); ++i)
    corners[cornerNames[i]] = {f.corners[i].r, f.corners[i].g, f.corners[i].b};
  j["background_colours"] = std::move(corners);
  nlohmann::ordered_json directions = nlohmann::ordered_json::array();
  for (const icon::Vector3& d : f.lightDirections)
    directions.push_back({Number(d.x), Number(d.y), Number(d.z)});
  j["light_directions"] = std::move(directions);
  nlohmann::ordered_json colours = nlohmann::ordered_json::array();
  for (const icon::ColourF& c : f.lightColours) colours.push_back({Number(c.r), Number(c.g), Number(c.b)});
  j["light_colours"] = std::move(colours);
  j["ambient"] = {Number(f.ambient.r), Number(f.ambient.g), Number(f.ambient.b)};
  return j;
}

// Whether a PS3 export's signature matched its contents; none for the other families (and
// when the crypto library could not compute it).
std::optional<bool> SignatureValid(const CSaveGame& save) {
  const auto* psv = dynamic_cast<const CPsv*>(&save);
  return psv ? psv->signatureValid : std::nullopt;
}

void PrintJson(const CSaveGame& save, Console& console) {
  const SaveEntry& root = (*save.entries)[0];
  FullTitle full = ReadFullTitle(save);
  nlohmann::ordered_json j;
  j["format"] = FormatName(save);
  const std::optional<bool> signature = SignatureValid(save);
  j["signature_valid"] = signature ? nlohmann::ordered_json(*signature) : nlohmann::ordered_json();
  j["folder"] = BytesToUtf8(root.Name());
  j["title"] = BytesToUtf8(ShownTitle(save));
  j["title_utf8"] = full.found ? nlohmann::ordered_json(full.Joined()) : nlohmann::ordered_json();
  nlohmann::ordered_json lines = nlohmann::ordered_json::array();
  if (full.found) {
    lines.push_back(full.line1);
    if (!full.line2.empty()) lines.push_back(full.line2);
  }
  j["title_lines"] = lines;
  j["mode"] = root.mode;
  j["created"] = TimeText(root.created);
  j["modified"] = TimeText(root.modified);
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  for (int i = 0; i < save.FileCount(); ++i) {
    const SaveEntry& e = *save.EntryAt(i);
    nlohmann::ordered_json f;
    f["name"] = BytesToUtf8(e.FullName());
    f["size"] = e.size;
    f["mode"] = e.mode;
    f["created"] = TimeText(e.created);
    f["modified"] = TimeText(e.modified);
    files.push_back(std::move(f));
  }
  j["files"] = std::move(files);
  std::optional<icon::IconSysFields> iconSys = IconSysOf(save);
  j["icon_sys"] = iconSys ? IconSysJson(*iconSys) : nlohmann::ordered_json();
  // ensure_ascii: every byte of 0x80 and above leaves as a \u escape.
  console.out << j.dump(2, ' ', true) << '\n';
}

void PrintText(const CSaveGame& save, Console& console) {
  const SaveEntry& root = (*save.entries)[0];
  FullTitle full = ReadFullTitle(save);
  std::ostream& out = console.out;
  out << "Format:     " << FormatName(save) << '\n';
  if (const std::optional<bool> signature = SignatureValid(save))
    out << "Signature:  " << (*signature ? "valid" : "not valid: a PS3 refuses this file") << '\n';
  out << "Folder:     " << DisplayText(root.Name()) << '\n';
  out << "Title:      " << Printable(BytesToUtf8(ShownTitle(save))) << '\n';
  if (full.found) {
    out << "Full title: " << Printable(full.line1) << '\n';
    if (!full.line2.empty()) out << "            " << Printable(full.line2) << '\n';
  }
  if (std::optional<icon::IconSysFields> iconSys = IconSysOf(save)) {
    const std::string& normal = iconSys->IconName(icon::IconSlot::kNormal);
    const std::string& copy = iconSys->IconName(icon::IconSlot::kCopy);
    const std::string& remove = iconSys->IconName(icon::IconSlot::kDelete);
    if (normal == copy && normal == remove) {
      if (!normal.empty()) out << "Icon:       " << DisplayText(normal) << '\n';
    } else {
      out << "Icons:      " << DisplayText(normal) << " (normal), " << DisplayText(copy) << " (copy), "
          << DisplayText(remove) << " (delete)\n";
    }
  }
  out << "Mode:       " << FormatMode(root.mode) << '\n';
  out << "Created:    " << TimeText(root.created) << '\n';
  out << "Modified:   " << TimeText(root.modified) << '\n';
  out << "Files:      " << save.FileCount() << '\n';
  std::size_t width = 9;
  for (int i = 0; i < save.FileCount(); ++i)
    width = std::max(width, DisplayText(save.EntryAt(i)->FullName()).size());
  auto pad = [](std::string s, std::size_t n) {
    if (s.size() < n) s.append(n - s.size(), ' ');
    return s;
  };
  out << "  " << pad("File name", width) << "  " << pad("Size", 10) << "  " << pad("Attrib", 10)
      << "  " << pad("Created", 19) << "  Modified\n";
  for (int i = 0; i < save.FileCount(); ++i) {
    const SaveEntry& e = *save.EntryAt(i);
    out << "  " << pad(DisplayText(e.FullName()), width) << "  " << pad(FormatSize(e.size), 10)
        << "  " << FormatMode(e.mode) << "  " << TimeText(e.created) << "  "
        << TimeText(e.modified) << '\n';
  }
}

// What a PS1 save shows: its card file name, title, region, blocks and icon.
struct Ps1Facts {
  std::optional<ps1::SaveHeader> header;
  std::uint32_t blocks = 0;  // whole blocks the save holds
};

Ps1Facts Ps1FactsOf(const CSaveGame& save) {
  const SaveEntry* data = save.EntryAt(0);
  return {ps1::HeaderOf(save), data ? data->size / static_cast<std::uint32_t>(ps1::kBlockSize) : 0};
}

void PrintPs1Json(const CSaveGame& save, Console& console) {
  const Ps1Facts facts = Ps1FactsOf(save);
  nlohmann::ordered_json j;
  j["format"] = FormatName(save);
  const std::optional<bool> signature = SignatureValid(save);
  j["signature_valid"] = signature ? nlohmann::ordered_json(*signature) : nlohmann::ordered_json();
  j["folder"] = BytesToUtf8(ps1::NameOf(save));
  j["title_utf8"] = facts.header ? nlohmann::ordered_json(facts.header->title) : nlohmann::ordered_json();
  j["region"] = ps1::RegionName(ps1::RegionOf(ps1::NameOf(save)));
  j["blocks"] = facts.blocks;
  j["icon_frames"] = facts.header ? facts.header->iconFrames : 0;
  console.out << j.dump(2, ' ', true) << '\n';
}

void PrintPs1Text(const CSaveGame& save, Console& console) {
  const Ps1Facts facts = Ps1FactsOf(save);
  std::ostream& out = console.out;
  out << "Format:     " << FormatName(save) << " (PlayStation 1 save)\n";
  if (const std::optional<bool> signature = SignatureValid(save))
    out << "Signature:  " << (*signature ? "valid" : "not valid: a PS3 refuses this file") << '\n';
  out << "Name:       " << DisplayText(ps1::NameOf(save)) << '\n';
  out << "Title:      " << (facts.header ? DisplayText(facts.header->title) : std::string("(none)")) << '\n';
  out << "Region:     " << ps1::RegionName(ps1::RegionOf(ps1::NameOf(save))) << '\n';
  out << "Blocks:     " << facts.blocks << '\n';
  if (facts.header)
    out << "Icon:       " << facts.header->iconFrames
        << (facts.header->iconFrames == 1 ? " frame\n" : " frames (animated)\n");
}

int RunInfo(const InfoOptions& o, Console& console) {
  std::unique_ptr<CSaveGame> opened = OpenSaveOrReport(o.file, console, o.open);
  if (!opened) return kExitFailed;
  if (ps1::IsPs1(*opened) && o.json)
    PrintPs1Json(*opened, console);
  else if (ps1::IsPs1(*opened))
    PrintPs1Text(*opened, console);
  else if (o.json)
    PrintJson(*opened, console);
  else
    PrintText(*opened, console);
  return kExitOk;
}

}  // namespace

void AddInfoCommand(CLI::App& app, Commands& commands) {
  auto o = std::make_shared<InfoOptions>();
  CLI::App* cmd = app.add_subcommand("info", "Show a save's folder, title, mode and files");
  cmd->add_option("FILE", o->file, "The save file, or a save on a card as CARD:FOLDER")->required();
  cmd->add_flag("--json", o->json, "Print one JSON object");
  AddOpenOptions(cmd, o->open);
  cmd->footer(
      "Examples:\n"
      "  moravelt-cli info game.psu\n"
      "  moravelt-cli info --json game.max\n"
      "  moravelt-cli info Mcd001.ps2:BESCES-50501REZ     (a save on a memory card)\n"
      "  moravelt-cli info --as max download.bin\n"
      "  moravelt-cli info BASLUS-00958GS2-7                (a raw PS1 save)");
  commands.push_back({cmd, [o](Console& console) { return RunInfo(*o, console); }});
}

}  // namespace cli

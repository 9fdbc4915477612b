// The browser's bridge to the core, run in a Web Worker: the page puts its files into the
// worker's in-memory file system (FS) and runs the command line over them, so that every
// result and message is the command line's own, to the byte. Beside that only what a
// command line can't hand over: what a file is, the question a load would stop at, the
// tables the page builds its menus from, the labels of the desktop windows, and an icon's
// pixels turned to an angle for a canvas. Nothing here decides anything.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "card/identify.h"
#include "card/layout.h"
#include "card/kinds.h"
#include "cli/cli.h"
#include "cli/common.h"
#include "formats/messages.h"
#include "formats/ps1/ps1_save.h"
#include "formats/registry.h"
#include "icon/ps1_icon.h"
#include "icon/render.h"
#include "icon/save_icon.h"
#include "io/file.h"
#include "io/path.h"
#include "ui/labels.h"
#include "ui/texts.h"

namespace {

using nlohmann::ordered_json;

// Runs one command line: {"code", "out", "err"}.
std::string Run(const std::string& argsJson) {
  const std::vector<std::string> args = nlohmann::json::parse(argsJson).get<std::vector<std::string>>();
  std::ostringstream out, err;
  const int code = cli::Run(args, out, err);
  ordered_json j;
  j["code"] = code;
  j["out"] = out.str();
  j["err"] = err.str();
  return j.dump();
}

// What the file at path is, and for a save the question its load stops at, if any.
std::string Identify(const std::string& path) {
  const card::Identified what = card::Identify(path);
  ordered_json j;
  j["path"] = path;
  if (what.family) {
    j["what"] = "save";
    j["family"] = std::string(what.family->name);
    std::unique_ptr<CSaveGame> save = what.family->create();
    const LoadResult loaded = what.source ? save->Load(what.source) : LoadResult::kOpenFailed;
    if (loaded == LoadResult::kNeedsAnswer && save->question)
      j["question"] = {{"text", save->question->text}, {"caption", save->question->caption}};
    else if (loaded != LoadResult::kOk)
      j["error"] = messages::LoadFailureMessage(*save, loaded);
    j["ps1"] = loaded == LoadResult::kOk && ps1::IsPs1(*save);
  } else if (what.card) {
    j["what"] = "card";
    j["kind"] = std::string(what.card->name);
    j["ps1"] = what.card->ps1;
    j["folder"] = what.card->folder;
  } else {
    j["what"] = "none";
    j["error"] = std::string(messages::kUnknownFileType) + cli::ContentHint(what, nullptr);
  }
  return j.dump();
}

// The save families and card kinds, and the desktop windows' names for their controls.
std::string Tables() {
  ordered_json families = ordered_json::array();
  for (const FormatFamily& f : Families()) {
    ordered_json one;
    one["name"] = std::string(f.name);
    one["noun"] = std::string(f.noun);
    one["opens"] = f.Can(kOpens);
    one["writes"] = f.Can(kWritesConversions);
    one["ps1"] = f.HoldsPs1();
    one["ps2"] = f.HoldsPs2();
    ordered_json extensions = ordered_json::array();
    for (const FamilyExtension& e : f.extensions)
      extensions.push_back({{"extension", std::string(e.extension)}, {"filter", std::string(e.filterName)}, {"target", e.target}});
    one["extensions"] = extensions;
    families.push_back(one);
  }
  ordered_json kinds = ordered_json::array();
  for (const card::CardKind& k : card::CardKinds()) {
    ordered_json one;
    one["name"] = std::string(k.name);
    one["noun"] = std::string(k.noun);
    one["key"] = std::string(k.key);
    one["ps1"] = k.ps1;
    one["folder"] = k.folder;
    if (k.ecc) one["ecc"] = *k.ecc;
    ordered_json extensions = ordered_json::array();
    for (const card::CardExtension& e : k.extensions)
      extensions.push_back({{"extension", std::string(e.extension)}, {"description", std::string(e.description)}});
    one["extensions"] = extensions;
    one["writtenBack"] = std::string(k.writtenBack);
    kinds.push_back(one);
  }
  ordered_json labels;
  labels["open"] = LABEL_OPEN;
  labels["save"] = LABEL_SAVE;
  labels["properties"] = LABEL_PROPERTIES;
  std::string newCard = LABEL_MENU_NEW_CARD;
  newCard.erase(std::remove(newCard.begin(), newCard.end(), '&'), newCard.end());  // the menu's access key
  labels["newCard"] = newCard;
  labels["import"] = LABEL_CARD_IMPORT;
  labels["export"] = LABEL_CARD_EXPORT;
  labels["delete"] = LABEL_CARD_DELETE;
  labels["restore"] = LABEL_CARD_RESTORE;
  labels["close"] = LABEL_CARD_CLOSE;
  labels["split"] = LABEL_CARD_SPLIT;
  labels["merge"] = LABEL_CARD_MERGE;
  labels["ok"] = LABEL_OK;
  labels["cancel"] = LABEL_CANCEL;
  // The desktop card window's question before Delete, and its column headings.
  ordered_json texts;
  texts["deleteCaption"] = std::string(ui::kDeleteCaption);
  texts["deleteQuestion"] = std::string(ui::kDeleteQuestion);
  texts["restoreCaption"] = std::string(ui::kRestoreCaption);
  texts["folderColumn"] = std::string(ui::kFolderColumn);
  texts["titleColumn"] = std::string(ui::kTitleColumn);
  texts["modifiedColumn"] = std::string(ui::kModifiedColumn);
  texts["nameColumn"] = std::string(ui::kPs1NameColumn);
  texts["blocksColumn"] = std::string(ui::kBlocksColumn);
  texts["slotsColumn"] = std::string(ui::kSlotsColumn);
  texts["fileNameColumn"] = std::string(ui::kFileNameColumn);
  texts["sizeColumn"] = std::string(ui::kSizeColumn);
  texts["attribColumn"] = std::string(ui::kAttribColumn);
  texts["newPs1Card"] = std::string(ui::kNewPs1Card);
  texts["newPocketStationCard"] = std::string(ui::kNewPocketStationCard);
  texts["eccLabel"] = LABEL_NEW_CARD_ECC;
  texts["splitCaption"] = std::string(ui::kSplitCaption);
  texts["mergeCaption"] = std::string(ui::kMergeCaption);
  texts["deviceLabel"] = std::string(ui::kSplitDeviceLabel);
  texts["formatLabel"] = LABEL_EXPORT_FORMAT;
  texts["plainFolder"] = std::string(ui::kPlainFolder);
  ordered_json j;
  j["families"] = families;
  j["kinds"] = kinds;
  j["labels"] = labels;
  j["texts"] = texts;
  j["formatSizes"] = ordered_json(std::vector<unsigned>(card::kFormatSizes.begin(), card::kFormatSizes.end()));
  return j.dump();
}

// The icon of the save at path (a file, or CARD:FOLDER), `size` pixels a side, turned by
// `degrees`: RGBA pixels, or nothing when the save has no icon that can be drawn.
emscripten::val Icon(const std::string& path, int size, double degrees) {
  std::ostringstream out, err;
  cli::Console console{.out = out, .err = err};
  const cli::Opened opened = cli::OpenSave(path, console, cli::OpenOptions{.yes = true});
  icon::Picture picture;
  if (opened.save && ps1::IsPs1(*opened.save)) {
    if (const std::optional<ps1::SaveHeader> header = ps1::HeaderOf(*opened.save))
      picture = icon::Ps1Icon(*header, size, false);
  } else if (opened.save) {
    const icon::Result<icon::SaveIcon> loaded = icon::LoadSaveIcon(*opened.save, icon::IconSlot::kNormal);
    if (loaded.ok()) {
      const float yaw = static_cast<float>(degrees * std::numbers::pi / 180);
      icon::Result<icon::Picture> drawn = icon::RenderTurnedIcon(loaded.value().icon, loaded.value().iconSys, size, yaw);
      if (drawn.ok()) picture = std::move(drawn.value());
    }
  }
  emscripten::val pixels = emscripten::val::global("Uint8Array").new_(picture.rgba.size());
  pixels.call<void>("set", emscripten::val(emscripten::typed_memory_view(picture.rgba.size(), picture.rgba.data())));
  return pixels;
}

// The name the save at path (a file, or CARD:FOLDER) is written under as `family`: the name
// its device needs (a PS3 export's) or the file's own stem with the family's extension.
// Empty when the save does not open or no family has that name.
std::string TargetName(const std::string& path, const std::string& family) {
  std::ostringstream out, err;
  cli::Console console{.out = out, .err = err};
  const cli::Opened opened = cli::OpenSave(path, console, cli::OpenOptions{.yes = true});
  const FormatFamily* target = FamilyNamed(family);
  if (!opened.save || !target) return {};
  const std::optional<cli::CardSaveName> onCard = io::Exists(path) ? std::nullopt : cli::SplitCardSaveName(path);
  const std::string stem = onCard ? onCard->folder : std::string(io::StemOf(path));
  return ::OutputName(*target, *opened.save, stem);
}

}  // namespace

EMSCRIPTEN_BINDINGS(moravelt) {
  emscripten::function("run", &Run);
  emscripten::function("identify", &Identify);
  emscripten::function("tables", &Tables);
  emscripten::function("icon", &Icon);
  emscripten::function("outputName", &TargetName);
}

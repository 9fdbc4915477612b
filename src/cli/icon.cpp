// icon: a save's 3D icon as a picture, its texture, or a model for other programs.
#include <array>

#include "cli/command.h"
#include "io/output_file.h"
#include "formats/ps1/ps1_save.h"
#include "icon/obj_export.h"
#include "icon/png.h"
#include "icon/ps1_icon.h"
#include "icon/render.h"
#include "icon/save_icon.h"
#include "io/file.h"
#include "io/path.h"

namespace cli {

namespace {

struct IconOptions {
  std::string save;
  std::string which = "normal";
  std::string picture;  // -o
  int size = 0;         // 0: the default, 256 for a PS2 icon and 16 for a PS1 icon
  bool frames = false;  // a PS1 icon's frames side by side
  std::string texture;
  std::string obj;
  OpenOptions open;
};

constexpr int kDefaultSize = 256;

constexpr std::array<std::pair<const char*, icon::IconSlot>, 3> kSlots = {{
    {"normal", icon::IconSlot::kNormal},
    {"copy", icon::IconSlot::kCopy},
    {"delete", icon::IconSlot::kDelete},
}};

// Text through a temporary file and a rename, like every other write.
bool WriteText(const std::string& path, const std::string& text) {
  io::OutputFile out(path, /*inPlace=*/false);
  out.Write(text.data(), text.size());
  return out.Commit() == io::Committed::kWritten;
}

// The model's companions, named after it: MODEL.mtl and MODEL.png beside MODEL.obj.
std::string Beside(const std::string& objPath, std::string_view extension) {
  const std::size_t nameAt = io::FileNameOffset(objPath);
  const std::size_t dot = objPath.rfind('.');
  const std::size_t stemEnd = dot == std::string::npos || dot < nameAt ? objPath.size() : dot;
  return objPath.substr(0, stemEnd) + "." + std::string(extension);
}

const char* TextureKindName(icon::TextureKind kind) {
  switch (kind) {
    case icon::TextureKind::kNone: return "none (drawn with its vertex colours)";
    case icon::TextureKind::kRaw: return "128 x 128, stored raw";
    case icon::TextureKind::kRle: return "128 x 128, stored RLE-coded";
  }
  return "none";
}

void Describe(const icon::SaveIcon& found, Console& console) {
  const icon::Icon& model = found.icon;
  std::ostream& out = console.out;
  out << "Icon file:  " << DisplayText(found.iconName) << '\n';
  out << "Shapes:     " << model.shapes.size() << '\n';
  out << "Vertices:   " << model.VertexCount() << " (" << model.VertexCount() / 3 << " triangles)\n";
  out << "Frames:     " << model.animation.frames.size() << '\n';
  out << "Texture:    " << TextureKindName(model.textureKind) << '\n';
}

// A PS1 save's icon: described, or drawn at --size (16 by default) through -o.
int RunPs1Icon(const CSaveGame& save, const IconOptions& o, Console& console) {
  if (!o.texture.empty() || !o.obj.empty() || o.which != "normal") {
    console.Error("A PlayStation 1 save's icon is one 16 x 16 picture: only -o, --size and --frames draw it");
    return kExitUsage;
  }
  const std::optional<ps1::SaveHeader> header = ps1::HeaderOf(save);
  if (!header) {
    console.Error("The save's first block holds no icon");
    return kExitFailed;
  }
  if (o.picture.empty()) {
    console.out << "Icon:       16 x 16, " << header->iconFrames
                << (header->iconFrames == 1 ? " frame\n" : " frames (animated)\n");
    return kExitOk;
  }
  const int size = o.size ? o.size : icon::kMinPs1PictureSize;
  icon::Result<icon::Done> written = icon::WritePng(o.picture, icon::Ps1Icon(*header, size, o.frames));
  if (!written) {
    console.Error(written.error().message);
    return kExitFailed;
  }
  console.out << o.picture << '\n';
  return kExitOk;
}

int RunIcon(const IconOptions& o, Console& console) {
  icon::IconSlot slot = icon::IconSlot::kNormal;
  for (const auto& [name, value] : kSlots)
    if (o.which == name) slot = value;
  if (!o.obj.empty() && !o.picture.empty() && Beside(o.obj, "png") == o.picture) {
    console.Error("-o names the file the model's texture goes to: " + Quoted(o.picture));
    return kExitUsage;
  }
  std::unique_ptr<CSaveGame> opened = OpenSaveOrReport(o.save, console, o.open);
  if (!opened) return kExitFailed;
  if (ps1::IsPs1(*opened)) return RunPs1Icon(*opened, o, console);
  if (o.size != 0 && o.size < icon::kMinPictureSize) {
    console.Error("--size: a PS2 icon is drawn 32 to 512 pixels wide");
    return kExitUsage;
  }
  if (o.frames) {
    console.Error("--frames draws a PS1 save's icon frames; a PS2 icon has one picture");
    return kExitUsage;
  }
  icon::Result<icon::SaveIcon> loaded = icon::LoadSaveIcon(*opened, slot);
  if (!loaded) {
    console.Error(DisplayText(loaded.error().message));
    return kExitFailed;
  }
  const icon::SaveIcon& found = loaded.value();
  if (o.picture.empty() && o.texture.empty() && o.obj.empty()) {
    Describe(found, console);
    return kExitOk;
  }

  // Everything is drawn before anything is written, so a fault leaves no file behind.
  std::optional<icon::Picture> picture, texture;
  if (!o.picture.empty()) {
    icon::Result<icon::Picture> drawn =
        icon::RenderIcon(found.icon, found.iconSys, o.size ? o.size : kDefaultSize);
    if (!drawn) {
      console.Error(DisplayText(drawn.error().message));
      return kExitFailed;
    }
    picture = std::move(drawn.value());
  }
  if (!o.texture.empty() || (!o.obj.empty() && found.icon.HasTexture())) {
    icon::Result<icon::Picture> stored = icon::TexturePicture(found.icon);
    if (!stored) {
      console.Error(DisplayText(stored.error().message));
      return kExitFailed;
    }
    texture = std::move(stored.value());
  }

  struct Output {
    std::string path;
    std::string error;  // empty on success
  };
  std::vector<Output> written;
  auto png = [&](const std::string& path, const icon::Picture& p) {
    icon::Result<icon::Done> r = icon::WritePng(path, p);
    written.push_back({path, r ? std::string() : r.error().message});
  };
  if (picture) png(o.picture, *picture);
  if (!o.texture.empty()) png(o.texture, *texture);
  if (!o.obj.empty()) {
    const std::string mtl = Beside(o.obj, "mtl");
    const std::string texturePng = Beside(o.obj, "png");
    const bool textured = found.icon.HasTexture();
    if (textured) png(texturePng, *texture);
    const std::string mtlText =
        icon::IconToMtl(found.icon, textured ? std::string(io::FileNameOf(texturePng)) : std::string());
    written.push_back({mtl, WriteText(mtl, mtlText) ? "" : "cannot write " + mtl});
    const std::string objText = icon::IconToObj(found.icon, io::FileNameOf(mtl));
    written.push_back({o.obj, WriteText(o.obj, objText) ? "" : "cannot write " + o.obj});
  }
  int code = kExitOk;
  for (const Output& w : written) {
    if (w.error.empty()) {
      console.out << w.path << '\n';
    } else {
      console.Error(w.error);
      code = kExitFailed;
    }
  }
  return code;
}

}  // namespace

void AddIconCommand(CLI::App& app, Commands& commands) {
  auto o = std::make_shared<IconOptions>();
  CLI::App* cmd = app.add_subcommand("icon", "Draw a save's 3D icon, or write its texture or model");
  cmd->add_option("SAVE", o->save, "The save file, or a save on a card as CARD:FOLDER")->required();
  cmd->add_option("--which", o->which, "The icon icon.sys names for the browser (normal), copying or deleting")
      ->check(CLI::IsMember({"normal", "copy", "delete"}));
  cmd->add_option("-o,--output", o->picture, "Write the icon drawn as icon.sys lights it (PNG)");
  cmd->add_option("--size", o->size,
                  "The picture's side in pixels: 32 to 512 for a PS2 icon (default 256), 16 to 512 for a "
                  "PS1 icon (default 16, its own size)")
      ->check(CLI::Range(icon::kMinPs1PictureSize, icon::kMaxPictureSize));
  cmd->add_flag("--frames", o->frames, "A PS1 icon: draw every frame, side by side");
  cmd->add_option("--texture", o->texture, "Write the 128 x 128 texture as stored (PNG)");
  cmd->add_option("--obj", o->obj,
                  "Write the still shape as a Wavefront OBJ, with MODEL.mtl and the texture MODEL.png beside it");
  AddOpenOptions(cmd, o->open);
  cmd->footer(
      "Without -o, --texture or --obj it says what the icon holds. The picture shows the\n"
      "first shape, lit by icon.sys's lights over its background colours; the OBJ holds\n"
      "that shape with positions divided by 4096 (x right, y down, z away).\n"
      "Examples:\n"
      "  moravelt-cli icon game.psu -o icon.png\n"
      "  moravelt-cli icon game.max --which delete --size 128 -o delete.png\n"
      "  moravelt-cli icon Mcd001.ps2:BESCES-50501REZ --texture rez.png --obj rez.obj\n"
      "  moravelt-cli icon game.mcs --size 64 --frames -o frames.png   (a PS1 save)");
  commands.push_back({cmd, [o](Console& console) { return RunIcon(*o, console); }});
}

}  // namespace cli

#include "card/save_fill.h"

#include "model/icon_sys.h"

namespace card {

void FillEntry(SaveEntry& e, const DirEntry& d, bool file) {
  e.mode = d.mode & 0xFFFF;
  e.size = d.length;
  e.created = d.created;
  e.modified = d.modified;
  SetField(e.name, d.Name(), kNameChars);
  if (!file) return;
  SetField(e.title, d.Name(), kNameChars);
  SetField(e.rawTitle, d.Name(), kNameChars);
}

void StartCardSave(CCardSave& save, const DirEntry& directory, std::size_t files) {
  EntryTable table(files + 1);
  FillEntry(table[0], directory, false);
  table[0].size = static_cast<std::uint32_t>(files + 2);
  save.entries = std::move(table);
  save.attributes.assign(files + 1, 0);
  save.attributes[0] = directory.attr;
}

void FinishCardSave(CCardSave& save, io::SourcePtr container) {
  save.container = std::move(container);
  save.sourcePath = save.container ? save.container->path() : std::string();
  save.TakeTitle();
}

SaveInfo InfoFor(const DirEntry& directory, int files, std::uint32_t sizeClusters, bool readable,
                 const CCardSave* parts) {
  SaveInfo info;
  info.folder = std::string(directory.Name());
  info.sizeKB = sizeClusters;
  info.created = directory.created;
  info.modified = directory.modified;
  info.mode = directory.mode & 0xFFFF;
  info.attr = directory.attr;
  info.files = files;
  info.readable = readable;
  if (parts && parts->entries) {
    const SaveEntry& root = (*parts->entries)[0];
    info.title = std::string(root.Title());
    info.rawTitle = std::string(root.RawTitle());
    info.fullTitle = ReadFullTitle(*parts);
  }
  return info;
}

}  // namespace card

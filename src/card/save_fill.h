// What image and folder cards share when they show a save: its listing line and the table
// entries of the save object made from its directory entries.
#pragma once

#include <cstdint>
#include <string>

#include "card/card.h"
#include "model/dir_entry.h"

namespace card {

// A table entry from a card's directory entry: mode, size, times and name (a file's title
// is its name, as for every other save).
void FillEntry(SaveEntry& e, const DirEntry& d, bool file);

// The directory's own entry as table position 0, and its attr word.
void StartCardSave(CCardSave& save, const DirEntry& directory, std::size_t files);

// Done once every file is in the table: the bytes its files lie in (the card's; none for a
// folder card, whose files are host files) and its title from icon.sys.
void FinishCardSave(CCardSave& save, io::SourcePtr container);

// The listing line of a save. `parts` holds the files that can be read (all of them for a
// readable save, none when there are none): the title comes from its icon.sys, so a save
// with one broken file still shows its title.
SaveInfo InfoFor(const DirEntry& directory, int files, std::uint32_t sizeClusters, bool readable,
                 const CCardSave* parts);

}  // namespace card

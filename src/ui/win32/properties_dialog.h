// The Properties dialog (dialog 111) as a Win32 modal dialog.
#pragma once

class CSaveGame;

// Shows the Properties of file row `index` of the save (0 the first file), or of the save
// folder for -1, owned by the main window. True when the user confirmed with OK and the
// changes were applied to the save; false for Cancel, the close box, or when the save has
// no such entry.
bool RunEntryProperties(CSaveGame& save, int index);

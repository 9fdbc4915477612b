// The Properties dialog (dialog 111) as a Win32 modal dialog.
#pragma once

// Shows the Properties of file row `index` of the main list (0 the first file), or of the
// save folder for -1, owned by the main window. True when the user confirmed with OK and
// the changes were applied to the current save; false for Cancel, the close box, or when
// there is no loaded save with such an entry.
bool RunEntryProperties(int index);

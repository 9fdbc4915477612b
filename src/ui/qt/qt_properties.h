// The Properties dialog as a Qt dialog: it forwards clicks to PropertiesDialog and the time
// fields' typing to the masked field functions, and carries out what they decide.
#pragma once

class CSaveGame;
class QWidget;

namespace qtui {

// The Properties of file row `index` of the save (0 the first file), or of its folder for -1,
// modal over `owner`. True when the user confirmed with OK and the changes were applied.
bool RunEntryProperties(QWidget* owner, CSaveGame& save, int index);

}  // namespace qtui

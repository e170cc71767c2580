#pragma once

// Typing in a station or group list jumps to the entry whose name begins with what was typed
// (the list's own keyboard search, which keeps adding letters while they come quickly). The
// window's single-key shortcuts (Space plays or stops, plus and minus set the volume) would take
// a blank or a hyphen in the middle of a name; while a name is being typed they go to the search.

class QAbstractItemView;

namespace vornel::ui {

void EnableTypeToFind(QAbstractItemView& list);

}  // namespace vornel::ui

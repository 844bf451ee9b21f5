#pragma once

namespace pendrel {

// Completes the tree of accessible objects Qt gives screen readers:
// - the application lists its parentless popups (the panel opened from the
//   tray) among its windows. Qt lists no popup there, taking every popup
//   for a menu of some window it does list, so a screen reader walking the
//   tree found the program without the panel;
// - the panel's window is a window ("frame"), whatever its form, and the
//   cards inside it are not;
// - widgets marked with accessibleGroupProperty (ui/PanelPieces.h) are
//   groups, which screen readers announce by name as focus enters them;
// - disclosures ("Recent jobs", "Logs") are buttons with an expanded or
//   collapsed state, the announcer a notification, and help labels given
//   to a control as its description are left out of the reading.
// Call once, before any window is shown.
void installAccessibleTree();

} // namespace pendrel

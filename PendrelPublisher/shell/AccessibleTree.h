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

// Call before the application object is made, and releaseGtkAccessibility()
// after it when this returns true. On GNOME, Qt's GTK platform theme (which
// Qt's packages recommend) starts GTK in this process, and GTK's own AT-SPI
// bridge then listed the process a second time, as an empty GTK application
// named like the program that screen readers and voice control found first.
// Only this process goes without it: children (the browser) get it back.
bool holdGtkAccessibilityOut();
void releaseGtkAccessibility();

} // namespace pendrel

#pragma once

namespace tallyvo {

// What every window of the program shares, set once for the whole application after the
// QApplication exists (the program's start and every widget test):
// - password boxes mask with "*", whatever the widget style would draw;
// - a screen reader names a drop-down list by its caption (its label or accessible name) and
//   reads the chosen entry as its value; Qt names them by the chosen entry on Linux;
// - a tab that is switched off is reported disabled (Qt gives every tab the state of its bar).
void installWidgetDefaults();

} // namespace tallyvo

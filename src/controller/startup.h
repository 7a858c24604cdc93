#pragma once
// What the window thread does on its own once the main window exists. Window thread only.

namespace varn {

// Loads both endpoint lists and shows the saved choices in the drop-down lists, takes the
// autostart preference from the registry (writing the default on a first start), judges
// whether the bridge is there and shows the first status text and notices. The tray icon must
// exist already: the notices are balloons on it.
void ApplyInitialState();

}  // namespace varn

#pragma once
// What the main window offers beside its fixed controls: the commands as a
// menu with shortcuts, tooltips that say what each control does, and the
// user's guide in the help menu.

#include <QString>

namespace ui {

class MainWindow;

// The menu 操作 with every command of the button column, each with its
// shortcut; an item does what its button does, and only when the button is
// enabled.
void addCommandMenu(MainWindow &window);
// Tooltips on the controls of the card number, the range and the commands.
void addTooltips(MainWindow &window);
// ヘルプ → 使い方: the guide that ships with the program, opened in the browser.
void addGuideMenuItem(MainWindow &window);

// The guide's file (passlog-guide.html) beside the program or where it is
// installed; empty when none is found.
QString guideFile();

} // namespace ui

// Where the Results windows open and how they are laid out: the last window's geometry and
// splitter positions kept in the user's settings from one window and session to the next, and
// each new window opened down and to the right of the last one.
#pragma once

class QWidget;

namespace veskor {

// Gives `window` the geometry and the splitter positions (of its splitters that have an object
// name) last saved for windows of its object name; false when none was saved.
bool RestoreWindowLayout(QWidget* window);
// Keeps them for the next window of its object name.
void SaveWindowLayout(const QWidget* window);
// Moves `window` a step down and to the right of `last`, back to the top left corner of the
// screen where it would leave it.
void PlaceCascaded(QWidget* window, const QWidget* last);

}  // namespace veskor

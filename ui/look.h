// The window's look: the Qt style, the light palette and the one font every control uses, plus
// the application's name and icon.
#pragma once

#include <QStyleOption>

class QApplication;

namespace veskor {

// The one font of all controls; its pixel size matches the 11-pixel design font at 96 dpi.
inline constexpr const char* kLookFontFamily = "DejaVu Sans";
inline constexpr int kLookFontPixelSize = 11;
// The size of each page of the tab control (Tasks, Options, Presets), which the pages' children
// are laid out against.
inline constexpr int kPageWidth = 444;
inline constexpr int kPageHeight = 263;

// The application icon's resource; it is set only when the resource is compiled in.
inline constexpr const char* kApplicationIconResource = ":/icons/app.svg";

// The arrow a column header draws for the sort the list view asks for: the view asks SortUp for a
// descending sort, whose values go down the list, and Fusion would draw that arrow pointing up.
QStyleOptionHeader::SortIndicator SortArrowFor(QStyleOptionHeader::SortIndicator indicator);

// Switches `app` to the Fusion style (its header sort arrows drawn by SortArrowFor) with a light
// palette (button-face window background, white edits, a blue highlight), sets the font, the
// application and display name "Veskor" and the window icon. Call once, before the first window is
// created.
void ApplyLook(QApplication& app);

}  // namespace veskor

// The window's look: Fusion, a classic light palette, DejaVu Sans at 11 pixels, name and icon.
#include "ui/look.h"

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include "ui/error_box.h"

// The icons live in the static library; without a reference from outside their object file the
// linker would leave the registration out. Only when the resource file is part of the build. The
// registration function has global linkage, so this stays outside the namespace.
static void RegisterIcons() {
#if __has_include("ui/icons/icons.qrc")
  Q_INIT_RESOURCE(icons);
#endif
}

namespace veskor {
namespace {

QPalette LightPalette() {
  const QColor button_face(240, 240, 240);
  const QColor window_text(0, 0, 0);
  const QColor disabled_text(109, 109, 109);
  const QColor highlight(51, 153, 255);

  QPalette palette;
  palette.setColor(QPalette::Window, button_face);
  palette.setColor(QPalette::Button, button_face);
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor(245, 245, 245));
  palette.setColor(QPalette::WindowText, window_text);
  palette.setColor(QPalette::Text, window_text);
  palette.setColor(QPalette::ButtonText, window_text);
  palette.setColor(QPalette::PlaceholderText, disabled_text);
  palette.setColor(QPalette::Highlight, highlight);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::Light, Qt::white);
  palette.setColor(QPalette::Midlight, QColor(227, 227, 227));
  palette.setColor(QPalette::Mid, QColor(160, 160, 160));
  palette.setColor(QPalette::Dark, QColor(105, 105, 105));
  palette.setColor(QPalette::Shadow, QColor(64, 64, 64));
  palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
  palette.setColor(QPalette::ToolTipText, window_text);
  palette.setColor(QPalette::Link, QColor(0, 102, 204));
  palette.setColor(QPalette::LinkVisited, QColor(128, 0, 128));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(QPalette::Disabled, role, disabled_text);
  }
  palette.setColor(QPalette::Disabled, QPalette::Base, button_face);
  palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(191, 205, 219));
  return palette;
}

// Fusion with the header's sort arrow pointing the way the column's values go down the list: a
// descending sort (the list view's SortUp) draws the arrow Fusion draws for SortDown, pointing
// down, and an ascending one points up, as the desktop's file managers and tables draw them.
class LookStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
    if (element == PE_IndicatorHeaderArrow && header != nullptr) {
      QStyleOptionHeader flipped = *header;
      flipped.sortIndicator = SortArrowFor(header->sortIndicator);
      return QProxyStyle::drawPrimitive(element, &flipped, painter, widget);
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }
};

}  // namespace

QStyleOptionHeader::SortIndicator SortArrowFor(QStyleOptionHeader::SortIndicator indicator) {
  switch (indicator) {
    case QStyleOptionHeader::SortUp:
      return QStyleOptionHeader::SortDown;
    case QStyleOptionHeader::SortDown:
      return QStyleOptionHeader::SortUp;
    default:
      return indicator;
  }
}

void ApplyLook(QApplication& app) {
  app.setApplicationName(kApplicationTitle);
  app.setApplicationDisplayName(kApplicationTitle);

  if (QStyle* fusion = QStyleFactory::create("Fusion")) app.setStyle(new LookStyle(fusion));
  app.setPalette(LightPalette());

  QFont font(kLookFontFamily);
  font.setPixelSize(kLookFontPixelSize);
  font.setStyleHint(QFont::SansSerif);
  app.setFont(font);

  RegisterIcons();
  if (QFile::exists(kApplicationIconResource)) app.setWindowIcon(QIcon(kApplicationIconResource));
}

}  // namespace veskor

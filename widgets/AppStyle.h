#pragma once

#include <QFont>
#include <QString>
#include <string_view>

class QWidget;

namespace zandorui {

// The application's font pair: Arial (Liberation Sans where Arial is not installed), 14 pixels
// high, antialiased; the bold one for headings.
QFont AppFont(bool bold);

// A control's object name: its number, "c1034".
QString ControlName(int id);

// Gives a control its number as object name and, when tool tips are on, its tool tip.
void NameControl(QWidget* control, int id, bool toolTips);
// Sets or clears the tool tip of every numbered control of a window, as the switch says.
void SetToolTips(QWidget& window, bool on);

template <typename Control>
Control* Numbered(Control* control, int id, bool toolTips) {
  NameControl(control, id, toolTips);
  return control;
}

inline QString Qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace zandorui

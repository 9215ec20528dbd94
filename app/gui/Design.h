// How the windows' controls get their names, captions and hints.
#pragma once

#include <QAction>
#include <QString>
#include <QWidget>

namespace parcelix {

// A hint "short|long": the control's tool tip is the short part, the status
// bar shows the long part (the whole hint when it has no '|').
inline QString ShortHint(const QString& hint) { return hint.section(QLatin1Char('|'), 0, 0); }
inline QString LongHint(const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  return bar < 0 ? hint : hint.mid(bar + 1);
}

inline void SetHint(QWidget& widget, const QString& hint) {
  widget.setToolTip(ShortHint(hint));
  widget.setStatusTip(LongHint(hint));
}

inline void SetHint(QAction& action, const QString& hint) {
  action.setToolTip(ShortHint(hint));
  action.setStatusTip(LongHint(hint));
}

// Gives a control its name, caption and hint as designed.
template <class W>
void Design(W& widget, const char* name, const char* caption = nullptr, const char* hint = nullptr) {
  widget.setObjectName(QLatin1String(name));
  if constexpr (requires { widget.setTitle(QString()); }) {
    if (caption) widget.setTitle(QString::fromUtf8(caption));
  } else if constexpr (requires { widget.setText(QString()); }) {
    if (caption) widget.setText(QString::fromUtf8(caption));
  }
  if (hint) SetHint(widget, QString::fromUtf8(hint));
}

}  // namespace parcelix

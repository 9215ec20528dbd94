// How the windows show audit findings: their colours by severity, and each
// finding as one line of a tooltip.
#pragma once

#include <QColor>
#include <QString>

#include "midlet/AuditFinding.h"

namespace parcelix {

// Errors in a deep red, warnings in a dark amber; info keeps the text's own
// colour (an invalid colour: the caller leaves the palette alone).
inline QColor SeverityColour(AuditSeverity severity) {
  switch (severity) {
    case AuditSeverity::error: return {0xb0, 0x00, 0x20};
    case AuditSeverity::warning: return {0x9a, 0x6a, 0x00};
    case AuditSeverity::info: return {};
  }
  return {};
}

// "severity: code: sentence", as `parcelix check` prints a finding.
inline QString FindingLine(const AuditFinding& f) {
  return QStringLiteral("%1: %2: %3")
      .arg(QLatin1String(AuditSeverityName(f.severity)), QString::fromStdString(f.code),
           QString::fromStdString(f.text));
}

}  // namespace parcelix

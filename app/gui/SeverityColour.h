// The colours the windows show audit findings in, by severity.
#pragma once

#include <QColor>

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

}  // namespace parcelix

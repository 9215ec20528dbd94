// One thing the collection audit found about a JAR or its JAD: a short stable
// code for scripts, a severity and a sentence for people.
#pragma once

#include <cstdint>
#include <string>

namespace parcelix {

// error: a phone or Java will refuse the suite; warning: it works but is odd;
// info: worth knowing (a signature that holds, a duplicate).
enum class AuditSeverity : uint8_t { info, warning, error };

inline const char* AuditSeverityName(AuditSeverity s) {
  switch (s) {
    case AuditSeverity::info: return "info";
    case AuditSeverity::warning: return "warning";
    case AuditSeverity::error: return "error";
  }
  return "error";
}

struct AuditFinding {
  std::string code;
  AuditSeverity severity = AuditSeverity::error;
  std::string text;
};

}  // namespace parcelix

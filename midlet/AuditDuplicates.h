// The duplicate search of the collection audit: identical JARs and the same
// suite in other bytes, and the Trash for all but one of each identical group.
#pragma once

#include <vector>

#include "midlet/Audit.h"
#include "midlet/Settings.h"

namespace parcelix {

// Identical JARs (equal SHA-256) and the same suite (equal name, vendor and
// version) in different bytes; each member of a group gets a finding that
// names the others ("duplicate", "same-suite"). Results without a SHA-256
// are passed over. Returns the groups of identical JARs; the pointers are
// into results.
std::vector<std::vector<AuditResult*>> MarkDuplicates(std::vector<AuditResult>& results);

// Of each group of identical JARs one stays: the one that already has the
// name rename would give it under options, else the first in path order; the
// others go to the Trash, from where a file manager can restore them. Each
// one moved gets a "trashed" finding, each one that could not be moved a
// "trash-failed" error.
void TrashDuplicates(const std::vector<std::vector<AuditResult*>>& groups, const TOptions& options);

}  // namespace parcelix

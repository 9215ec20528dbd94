// The duplicate search of the collection audit, and the Trash for the extra copies.
#include "midlet/AuditDuplicates.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "engine/common/FileSystem.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

std::string Others(const std::vector<AuditResult*>& group, const AuditResult* self) {
  std::string text;
  for (const AuditResult* r : group)
    if (r != self) text += (text.empty() ? "" : ", ") + r->path;
  return text;
}

}  // namespace

std::vector<std::vector<AuditResult*>> MarkDuplicates(std::vector<AuditResult>& results) {
  std::map<std::string, std::vector<AuditResult*>> byDigest;
  std::map<std::tuple<std::string, std::string, std::string>, std::vector<AuditResult*>> bySuite;
  for (AuditResult& r : results) {
    if (!r.sha256) continue;
    byDigest[*r.sha256].push_back(&r);
    if (!r.name.empty()) bySuite[{r.name, r.vendor, r.version}].push_back(&r);
  }
  std::vector<std::vector<AuditResult*>> identical;
  for (auto& [digest, group] : byDigest) {
    if (group.size() < 2) continue;
    for (AuditResult* r : group)
      r->findings.push_back({"duplicate", AuditSeverity::info, "the same bytes as " + Others(group, r)});
    identical.push_back(group);
  }
  for (auto& [suite, group] : bySuite) {
    std::vector<AuditResult*> differing;
    for (AuditResult* r : group)
      if (std::any_of(group.begin(), group.end(), [r](const AuditResult* o) { return *o->sha256 != *r->sha256; }))
        differing.push_back(r);
    for (AuditResult* r : differing) {
      std::vector<AuditResult*> others;
      for (AuditResult* o : group)
        if (*o->sha256 != *r->sha256) others.push_back(o);
      r->findings.push_back({"same-suite", AuditSeverity::info,
                             "the same suite (name, vendor and version) in other bytes: " + Others(others, r)});
    }
  }
  return identical;
}

void TrashDuplicates(const std::vector<std::vector<AuditResult*>>& groups, const TOptions& options) {
  TMidletSuite suite;
  suite.Options = options;
  for (std::vector<AuditResult*> group : groups) {
    std::sort(group.begin(), group.end(), [](const AuditResult* a, const AuditResult* b) { return a->path < b->path; });
    AuditResult* keep = group.front();
    for (AuditResult* r : group) {
      try {
        if (suite.ComputeMIDletName(r->path).newPath == r->path) {
          keep = r;
          break;
        }
      } catch (const std::exception&) {
      }
    }
    for (AuditResult* r : group) {
      if (r == keep) continue;
      std::string trashedAs;
      if (MoveToTrash(r->path, &trashedAs))
        r->findings.push_back({"trashed", AuditSeverity::info, "moved to the Trash; " + keep->path + " stays"});
      else
        r->findings.push_back({"trash-failed", AuditSeverity::error,
                               std::string("could not be moved to the Trash: ") + std::strerror(errno)});
    }
  }
}

}  // namespace parcelix

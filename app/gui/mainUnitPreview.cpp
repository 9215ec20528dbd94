// The main window's lists as a collection: what each JAR is (read on worker threads) and what a run will do
// with it, worked out again as the options and the check marks change.
#include <unordered_set>

#include "app/gui/mainUnit.h"
#include "midlet/FileUtil.h"
#include "midlet/ManifestModel.h"
#include "midlet/NameTemplate.h"

namespace parcelix {

// What is known of one JAR of the lists.
struct TfrmMain::SuiteEntry {
  std::string nativePath;
  std::shared_ptr<const TSuiteSummary> summary;
  QImage icon;
  RenameResult rename;
  bool nameExists = false;
  int generation = 0;
};

const TfrmMain::SuiteEntry* TfrmMain::EntryOf(const QString& path) const {
  const auto it = suites_.constFind(path);
  return it == suites_.constEnd() ? nullptr : it->get();
}

bool TfrmMain::PreviewsReady() const {
  if (!reader_.Idle() || !reading_.isEmpty()) return false;
  for (const TCheckListBox* list : {&RenameList, &MakeJadList}) {
    const TCheckListModel& items = list->Items();
    for (int i = 0; i < items.Count(); ++i) {
      const SuiteEntry* e = EntryOf(items.Path(i));
      if (!e || e->generation != reader_.Generation()) return false;
    }
  }
  return !refreshTimer_.isActive() && !optionsTimer_.isActive();
}

void TfrmMain::ReadSuites(const QStringList& paths) {
  QStringList todo;
  for (const QString& p : paths) {
    if (suites_.contains(p) || reading_.contains(p)) continue;
    reading_.insert(p);
    todo << p;
  }
  if (todo.isEmpty()) return;
  readTotal_ += static_cast<int>(todo.size());
  reader_.Read(todo);
  // Told every 100 ms while the round lasts: a short read (the JADs just
  // made) leaves the panel alone.
  if (!progressTimer_.isActive()) progressTimer_.start();
}

// Panel 0 counts the JARs read in this round; a batch's own progress takes
// the panel while it runs. When the round ends, the panel says again what it
// said before (unless something else has written to it since).
void TfrmMain::ShowReadingProgress() {
  const bool ours = !readingText_.isEmpty() && StatusText(0) == readingText_;
  if (reading_.isEmpty()) {
    progressTimer_.stop();
    readTotal_ = 0;
    if (ours) SetStatus(0, beforeReading_);
    readingText_.clear();
    return;
  }
  if (busy_) return;
  if (!ours) beforeReading_ = StatusText(0);
  const int done = readTotal_ - static_cast<int>(reading_.size());
  readingText_ = QStringLiteral("Reading %1 of %2 JARs").arg(done).arg(readTotal_);
  SetStatus(0, readingText_);
}

void TfrmMain::SuitesRead(std::vector<TSuiteRead>& batch) {
  std::vector<std::pair<QString, std::shared_ptr<const TSuiteSummary>>> again;
  for (TSuiteRead& r : batch) {
    const bool fullRead = reading_.remove(r.path);
    auto it = suites_.find(r.path);
    if (it == suites_.end()) {
      // A preview of a JAR no longer listed, or a read of one listed again.
      if (!fullRead) continue;
      it = suites_.insert(r.path, std::make_shared<SuiteEntry>());
      (*it)->nativePath = ToNativePath(r.path);
      (*it)->icon = r.icon;
      (*it)->summary = r.summary;
    }
    SuiteEntry& e = **it;
    if (r.generation < e.generation) continue;
    e.rename = std::move(r.rename);
    e.nameExists = r.nameExists;
    e.generation = r.generation;
    // Read under options that have changed since: work the name out again.
    if (e.generation != reader_.Generation()) again.emplace_back(r.path, e.summary);
  }
  if (!again.empty()) reader_.Rename(again);
  if (reading_.isEmpty()) ShowReadingProgress();  // the round is over: the panel is given back
  ScheduleRefresh();
}

TOptions TfrmMain::PreviewOptions() const {
  TOptions o = suite_.Options;
  // The template as typed, once it is valid (it is saved when the field is left).
  const std::string typed = TemplateEdit.text().toStdString();
  try {
    if (!typed.empty()) TNameTemplate check(typed);
    if (TemplateEdit.isModified() || !typed.empty()) o.Template = typed;
  } catch (const std::invalid_argument&) {
  }
  return o;
}

void TfrmMain::PreviewOptionsChanged() {
  optionsTimer_.stop();
  const TOptions o = PreviewOptions();
  const TOptions& now = reader_.Options();
  if (o.AddVersion == now.AddVersion && o.Template == now.Template && o.CodePage == now.CodePage) return;
  RenameAgain();
}

// Every listed JAR's new name worked out again: the options changed, or a
// run took or freed names.
void TfrmMain::RenameAgain() {
  reader_.SetOptions(PreviewOptions());
  std::vector<std::pair<QString, std::shared_ptr<const TSuiteSummary>>> jars;
  for (auto it = suites_.cbegin(); it != suites_.cend(); ++it) jars.emplace_back(it.key(), (*it)->summary);
  reader_.Rename(jars);
  ScheduleRefresh();
}

void TfrmMain::ForgetSuites(const QStringList& paths) {
  for (const QString& p : paths) suites_.remove(p);
}

void TfrmMain::ForgetUnlisted() {
  QSet<QString> listed;
  for (const TCheckListBox* list : {&RenameList, &MakeJadList})
    for (int i = 0; i < list->Items().Count(); ++i) listed.insert(list->Items().Path(i));
  for (auto it = suites_.begin(); it != suites_.end();) it = listed.contains(it.key()) ? std::next(it) : suites_.erase(it);
}

void TfrmMain::ScheduleRefresh() {
  if (!refreshTimer_.isActive()) refreshTimer_.start();
}

void TfrmMain::RefreshLists() {
  UpdateRenameConflicts();
  RenameList.Items().ViewsChanged();
  MakeJadList.Items().ViewsChanged();
}

// The rename batch runs the checked rows in list order: a row cannot take a
// name another file has (unless an earlier checked row moves that file away)
// or one an earlier checked row takes.
void TfrmMain::UpdateRenameConflicts() {
  const TCheckListModel& items = RenameList.Items();
  renameTaken_.assign(static_cast<size_t>(items.Count()), false);
  // The entries of the checked rows that would move. Views of the entries'
  // own strings: the pass over a list of thousands copies none of them.
  std::vector<std::pair<int, const SuiteEntry*>> moving;
  std::unordered_set<std::string_view> existing;  // targets another file has now
  for (int i = 0; i < items.Count(); ++i) {
    if (!items.Checked(i)) continue;
    const SuiteEntry* e = EntryOf(items.Path(i));
    if (!e || !e->rename.reason.empty() || e->rename.newPath == e->nativePath) continue;
    moving.emplace_back(i, e);
    if (e->nameExists) existing.insert(e->rename.newPath);
  }
  std::unordered_set<std::string_view> claimed, freed;
  claimed.reserve(moving.size());
  for (const auto& [row, e] : moving) {
    const std::string_view target = e->rename.newPath;
    const bool taken = (e->nameExists && !freed.count(target)) || !claimed.insert(target).second;
    renameTaken_[static_cast<size_t>(row)] = taken;
    if (!taken && !existing.empty() && existing.count(e->nativePath)) freed.insert(e->nativePath);
  }
}

namespace {

QString SuiteTooltip(const QString& path, const TSuiteSummary* s) {
  QString tip = path;
  if (!s || !s->error.empty()) return tip;
  const auto line = [&tip](const char* label, const std::string& value) {
    if (!value.empty()) tip += QLatin1Char('\n') + QLatin1String(label) + QString::fromStdString(value);
  };
  line("Name: ", s->name);
  line("Vendor: ", s->vendor);
  line("Version: ", s->version);
  return tip;
}

TRowView BaseRow(const QImage& icon, const QString& path, const TSuiteSummary* s) {
  TRowView v;
  v.icon = icon;
  v.tooltip = SuiteTooltip(path, s);
  if (s && !s->error.empty()) {
    v.result = QString::fromStdString(s->error);
    v.problem = true;
  }
  return v;
}

}  // namespace

std::optional<TRowView> TfrmMain::DescribeRow(const TCheckListBox& list, int row) const {
  const QString& path = list.Items().Path(row);
  const SuiteEntry* e = EntryOf(path);
  if (!e) return std::nullopt;
  TRowView v = BaseRow(e->icon, path, e->summary.get());
  if (v.problem) return v;
  if (&list == &RenameList)
    DescribeRename(*e, row, v);
  else
    DescribeJad(*e, v);
  return v;
}

void TfrmMain::DescribeRename(const SuiteEntry& e, int row, TRowView& v) const {
  const RenameResult& r = e.rename;
  const std::string relative = r.newPath.substr(std::min(r.newPath.size(), ExtractFilePath(e.nativePath).size()));
  // Worked out for the rows as they were: rows added or removed since wait for the next pass.
  const bool current = renameTaken_.size() == static_cast<size_t>(RenameList.Items().Count());
  const bool taken = current && renameTaken_[static_cast<size_t>(row)];
  if (!r.reason.empty()) {
    v.result = QString::fromStdString(r.reason);
    v.problem = true;
  } else if (r.newPath == e.nativePath) {
    v.result = QStringLiteral("already named");
  } else if (taken || (e.nameExists && !RenameList.Items().Checked(row))) {
    v.result = QStringLiteral("name taken: ") + FromNativePath(relative);
    v.problem = true;
  } else {
    v.result = FromNativePath(relative);
  }
}

void TfrmMain::DescribeJad(const SuiteEntry& e, TRowView& v) const {
  v.result = FromNativePath(ExtractFileName(JadPathOf(e.nativePath)));
  if (e.summary && e.summary->signedJad) {
    // The JAD there holds the suite's MIDP signature; a new one has none.
    v.result += QStringLiteral(" (replaces the signed JAD)");
    v.problem = true;
  }
}

}  // namespace parcelix

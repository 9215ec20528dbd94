// The Check tab of the main window.
#include "app/gui/CheckTab.h"

#include <algorithm>
#include <iterator>
#include <chrono>
#include <string_view>
#include <unordered_map>

#include <QAction>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>

#include "app/gui/CheckListBox.h"
#include "app/gui/Design.h"
#include "midlet/AuditDuplicates.h"

namespace parcelix {

namespace {

// How often a batch or the reader tells the status bar how far it got.
constexpr auto kStatusEvery = std::chrono::milliseconds(100);
// How often the audits read meanwhile land in the table.
constexpr auto kLandEvery = std::chrono::milliseconds(50);

}  // namespace

TCheckTab::TCheckTab(const TGuiServices& services, const TOptions& options, QWidget* parent)
    : QWidget(parent), services_(services), options_(options) {
  setObjectName(QStringLiteral("TabCheck"));
  Design(btnCheckAdd, "btnCheckAdd", "Add", "Add files to list");
  Design(btnCheckAddFolder, "btnCheckAddFolder", "Add Folder", "Add the JARs of a folder and its subfolders to list");
  Design(btnCheckDelete, "btnCheckDelete", "Delete", "Delete the selected files from list");
  Design(btnCheckFixJad, "btnCheckFixJad", "Fix JAD", "Bring the JADs of the selected files up to date");
  Design(btnCheckFixJar, "btnCheckFixJar", "Fix JAR", "Repair the selected JARs for strict readers");
  Design(btnCheckHelp, "btnCheckHelp", "Help", "Help");
  FilterEdit.setObjectName(QStringLiteral("CheckFilterEdit"));
  FilterEdit.setPlaceholderText(QStringLiteral("Filter: file, name or finding"));
  FilterEdit.setClearButtonEnabled(true);
  Design(ProblemsOnlyCheckBox, "ProblemsOnlyCheckBox", "Problems only", "Show only JARs with errors or warnings");
  CheckTable.setObjectName(QStringLiteral("CheckTable"));

  const int side = std::max(16, fontMetrics().height());
  reader_.IconSide = side;
  model_.SetDefaultIcon(TCheckListBox::NeutralJarIcon(side));
  filter_.setSourceModel(&model_);
  filter_.setSortRole(TCheckTableModel::SortRole);
  CheckTable.setModel(&filter_);
  CheckTable.setSortingEnabled(true);
  CheckTable.sortByColumn(TCheckTableModel::File, Qt::AscendingOrder);
  CheckTable.setSelectionBehavior(QAbstractItemView::SelectRows);
  CheckTable.setSelectionMode(QAbstractItemView::ExtendedSelection);
  CheckTable.setIconSize(QSize(side, side));
  CheckTable.setWordWrap(false);
  CheckTable.verticalHeader()->hide();
  CheckTable.verticalHeader()->setDefaultSectionSize(side + 4);
  CheckTable.horizontalHeader()->setStretchLastSection(true);
  // At the window's design width the findings ("missing-attribute +3") keep
  // the rest of the row; the full names are in the tooltips.
  CheckTable.horizontalHeader()->resizeSection(TCheckTableModel::File, 112);
  CheckTable.horizontalHeader()->resizeSection(TCheckTableModel::Name, 64);
  CheckTable.horizontalHeader()->resizeSection(TCheckTableModel::Vendor, 50);
  CheckTable.horizontalHeader()->resizeSection(TCheckTableModel::Version, 50);

  layout_.addWidget(&FilterEdit, 0, 0);
  layout_.addWidget(&ProblemsOnlyCheckBox, 0, 1);
  layout_.addWidget(&CheckTable, 1, 0, 7, 1);
  QPushButton* const column[] = {&btnCheckAdd, &btnCheckAddFolder, &btnCheckDelete, &btnCheckFixJad, &btnCheckFixJar};
  for (int i = 0; i < 5; ++i) layout_.addWidget(column[i], i + 1, 1);
  layout_.setRowStretch(6, 1);
  layout_.addWidget(&btnCheckHelp, 7, 1);
  layout_.setColumnStretch(0, 1);
  setLayout(&layout_);
  batchControls_ = {&btnCheckFixJad, &btnCheckFixJar};
  BuildActions();

  connect(&FilterEdit, &QLineEdit::textChanged, this, [this](const QString& text) { filter_.SetText(text); });
  connect(&ProblemsOnlyCheckBox, &QCheckBox::toggled, this, [this](bool on) { filter_.SetProblemsOnly(on); });
  connect(&btnCheckDelete, &QPushButton::clicked, this, &TCheckTab::DeleteClick);
  connect(&btnCheckFixJad, &QPushButton::clicked, this, &TCheckTab::FixJadClick);
  connect(&btnCheckFixJar, &QPushButton::clicked, this, &TCheckTab::FixJarClick);
  // Results land in the table together, at most every kLandEvery: a sorted
  // table then places thousands of rows in a few goes, not job by job.
  landTimer_.setSingleShot(true);
  landTimer_.setInterval(kLandEvery);
  connect(&landTimer_, &QTimer::timeout, this, &TCheckTab::LandReads);
  reader_.OnRead = [this](std::vector<TAuditRead>& batch) {
    std::move(batch.begin(), batch.end(), std::back_inserter(landing_));
    if (!landTimer_.isActive()) landTimer_.start();
  };
}

void TCheckTab::LandReads() {
  model_.SetAudits(landing_);
  landing_.clear();
  if (Ready()) MarkDuplicateRows();
  ShowReadProgress();
}

TCheckTab::~TCheckTab() {
  stopRequested_ = true;
  if (worker_.joinable()) worker_.join();
}

// "Checking i of n JARs" while rows wait for their audit, at most every
// kStatusEvery; a batch's own progress comes first.
void TCheckTab::ShowReadProgress() {
  if (Busy() || !OnStatus) return;
  if (model_.AllRead()) {
    if (readStatusShown_) OnStatus(QString());
    readStatusShown_ = false;
    return;
  }
  if (readStatusShown_ && readStatusClock_.isValid() &&
      readStatusClock_.elapsed() < std::chrono::milliseconds(kStatusEvery).count())
    return;
  readStatusClock_.start();
  readStatusShown_ = true;
  const int count = model_.Count();
  OnStatus(QStringLiteral("Checking %1 of %2 JARs...").arg(count - model_.UnreadCount()).arg(count));
}

// While a batch runs, the actions that change files wait.
void TCheckTab::SetBusy(bool busy) {
  for (QWidget* w : batchControls_) w->setEnabled(!busy);
  for (QAction* a : batchActions_) a->setEnabled(!busy);
  if (OnBusy) OnBusy(busy);
  if (!busy && OnStatus) OnStatus(QString());
}

void TCheckTab::StartBatch(std::shared_ptr<TBatch> batch) {
  stopRequested_ = false;
  readStatusShown_ = false;
  batch_ = batch;  // busy from here on, through every step of the action
  SetBusy(true);
  RunBatch(std::move(batch));
}

void TCheckTab::RunBatch(std::shared_ptr<TBatch> batch) {
  batch_ = batch;
  if (worker_.joinable()) worker_.join();
  worker_ = std::thread([this, batch = std::move(batch)] { WorkBatch(batch); });
}

// On the worker: the steps in turn until the last or a Stop. The finished
// steps and the progress reach the window's thread through its event queue,
// at most every kStatusEvery, so a batch of thousands of quick steps does not
// flood it.
void TCheckTab::WorkBatch(const std::shared_ptr<TBatch>& batch) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point shown{};
  int reported = 0, i = 0;
  for (; i < batch->count && !stopRequested_; ++i) {
    if (Clock::now() - shown >= kStatusEvery) {
      shown = Clock::now();
      const QString status = batch->status.arg(i + 1).arg(batch->count);
      QMetaObject::invokeMethod(
          this,
          [this, batch, from = reported, to = i, status] {
            if (from < to) batch->done(from, to);
            if (OnStatus && batch_ == batch) OnStatus(status);
          },
          Qt::QueuedConnection);
      reported = i;
    }
    batch->step(i);
  }
  QMetaObject::invokeMethod(
      this,
      [this, batch, from = reported, to = i] {
        worker_.join();  // it has nothing left to do but return
        if (from < to) batch->done(from, to);
        batch->finish(to);
      },
      Qt::QueuedConnection);
}

void TCheckTab::EndBatch(const QString& title, const QStringList& lines, bool problem) {
  batch_.reset();
  SetBusy(false);
  if (Ready()) MarkDuplicateRows();
  ShowReadProgress();
  Report(title, lines, problem);
}

// The pop-up menu of the table: every action on the selected rows.
void TCheckTab::BuildActions() {
  struct Entry {
    const char* name;
    const char* caption;
    void (TCheckTab::*handler)();
  };
  const Entry entries[] = {
      {"CheckFixJad", "Fix JAD", &TCheckTab::FixJadClick},
      {"CheckFixJar", "Fix JAR", &TCheckTab::FixJarClick},
      {"CheckOpenInEditor", "Open in Manifest Editor", &TCheckTab::OpenInEditorClick},
      {"CheckShowInFileManager", "Show in File Manager", &TCheckTab::ShowInFileManagerClick},
      {"CheckTrashDuplicates", "Move Duplicates to Trash", &TCheckTab::TrashDuplicatesClick},
      {"CheckDelete", "Delete", &TCheckTab::DeleteClick},
  };
  CheckTable.setContextMenuPolicy(Qt::ActionsContextMenu);
  for (const Entry& entry : entries) {
    QAction* action = CheckTable.addAction(QLatin1String(entry.caption));
    action->setObjectName(QLatin1String(entry.name));
    SetHint(*action, QLatin1String(entry.caption));
    connect(action, &QAction::triggered, this, entry.handler);
    // Those that change files wait while a batch runs.
    if (entry.handler != &TCheckTab::ShowInFileManagerClick && entry.handler != &TCheckTab::DeleteClick)
      batchActions_.push_back(action);
  }
}

// Once every row is read, identical JARs and the same suite in other bytes
// say so, as the command line's duplicate search does; the findings of an
// earlier search give way to those of this one. Only the rows that share
// their bytes or their suite with another, or had such a finding, take part:
// a big collection of distinct JARs costs one pass of counting.
void TCheckTab::MarkDuplicateRows() {
  const auto earlier = [](const AuditFinding& f) { return f.code == "duplicate" || f.code == "same-suite"; };
  const auto suiteOf = [](const AuditResult& a) { return a.name + '\n' + a.vendor + '\n' + a.version; };
  std::unordered_map<std::string_view, int> digests;
  std::unordered_map<std::string, int> suites;
  for (int i = 0; i < model_.Count(); ++i)
    if (const AuditResult* a = model_.Audit(i); a && a->sha256) {
      ++digests[*a->sha256];
      if (!a->name.empty()) ++suites[suiteOf(*a)];
    }
  std::vector<AuditResult> audits;
  std::vector<int> rows;
  for (int i = 0; i < model_.Count(); ++i) {
    const AuditResult* a = model_.Audit(i);
    if (!a) continue;
    const bool shared = a->sha256 && (digests[*a->sha256] > 1 || (!a->name.empty() && suites[suiteOf(*a)] > 1));
    if (!shared && std::none_of(a->findings.begin(), a->findings.end(), earlier)) continue;
    audits.push_back(*a);
    std::erase_if(audits.back().findings, earlier);
    rows.push_back(i);
  }
  MarkDuplicates(audits);
  const auto same = [](const AuditFinding& a, const AuditFinding& b) { return a.code == b.code && a.text == b.text; };
  for (size_t k = 0; k < audits.size(); ++k) {
    const AuditResult* now = model_.Audit(rows[k]);
    auto& found = audits[k].findings;
    if (!std::equal(now->findings.begin(), now->findings.end(), found.begin(), found.end(), same))
      model_.SetFindings(rows[k], std::move(found));
  }
}

void TCheckTab::AddPaths(const QStringList& paths) {
  const QStringList added = model_.Add(paths);
  if (!added.isEmpty()) reader_.Read(added);
}

QStringList TCheckTab::SelectedPaths() const {
  QModelIndexList rows = CheckTable.selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList paths;
  for (const QModelIndex& index : rows) paths << model_.Path(filter_.mapToSource(index).row());
  return paths;
}

void TCheckTab::SelectPaths(const QStringList& paths) {
  QItemSelectionModel& selection = *CheckTable.selectionModel();
  selection.clearSelection();
  for (const QString& path : paths) {
    const int row = model_.RowOf(path);
    if (row < 0) continue;
    const QModelIndex at = filter_.mapFromSource(model_.index(row, 0));
    if (at.isValid()) selection.select(at, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
}

void TCheckTab::Reexamine(const QStringList& paths) {
  QStringList listed;
  for (const QString& p : paths) {
    if (model_.RowOf(p) < 0) continue;
    // A file that went away (to the Trash) leaves the table.
    if (!QFileInfo::exists(p))
      model_.Remove(p);
    else if (model_.Forget(p))
      listed << p;
  }
  if (!listed.isEmpty()) reader_.Read(listed);
}

void TCheckTab::Report(const QString& title, const QStringList& lines, bool problem) {
  if (lines.isEmpty()) return;
  services_.Message(this, UserMessage{title.toStdString(), lines.join(QLatin1Char('\n')).toStdString(),
                                      problem ? MsgIcon::Warning : MsgIcon::Information});
}

void TCheckTab::DeleteClick() {
  for (const QString& p : SelectedPaths()) model_.Remove(p);
}

void TCheckTab::OpenInEditorClick() {
  const QStringList paths = SelectedPaths();
  if (paths.isEmpty() || !OpenInEditor || Busy()) return;
  OpenInEditor(paths.first());
  Reexamine({paths.first()});
}

void TCheckTab::ShowInFileManagerClick() { services_.ShowInFileManager(SelectedPaths()); }

}  // namespace parcelix

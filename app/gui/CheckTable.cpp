// The table of the Check tab.
#include "app/gui/CheckTable.h"

#include <algorithm>

#include <QBrush>
#include <QColor>
#include <QFileInfo>
#include <QSet>

#include "app/gui/SeverityColour.h"

namespace parcelix {

namespace {

QString Sentences(const AuditResult& audit) {
  QStringList lines;
  for (const AuditFinding& f : audit.findings) lines << FindingLine(f);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

std::optional<AuditSeverity> TCheckTableModel::Worst(const AuditResult& audit) {
  std::optional<AuditSeverity> worst;
  for (const AuditFinding& f : audit.findings)
    if (!worst || f.severity > *worst) worst = f.severity;
  return worst;
}

QString TCheckTableModel::Compact(const AuditResult& audit) {
  const auto& f = audit.findings;
  if (f.empty()) return QString();
  const auto worst = std::max_element(f.begin(), f.end(), [](const AuditFinding& a, const AuditFinding& b) {
    return a.severity < b.severity;  // the first of equals stays the maximum
  });
  const QString code = QString::fromStdString(worst->code);
  return f.size() == 1 ? code : QStringLiteral("%1 +%2").arg(code).arg(f.size() - 1);
}

const AuditResult* TCheckTableModel::Audit(int row) const {
  if (row < 0 || row >= Count()) return nullptr;
  const auto& audit = rows_.at(static_cast<size_t>(row)).audit;
  return audit ? &*audit : nullptr;
}

int TCheckTableModel::RowOf(const QString& path) const { return index_.value(path, -1); }

QStringList TCheckTableModel::Add(const QStringList& paths) {
  QStringList added;
  QSet<QString> seen;  // a folder added twice in one drop
  for (const QString& p : paths) {
    if (index_.contains(p) || seen.contains(p)) continue;
    seen.insert(p);
    added << p;
  }
  if (added.isEmpty()) return added;
  const int first = Count();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
  for (const QString& p : added) {
    index_.insert(p, Count());
    rows_.push_back(Row{p, std::nullopt, {}});
  }
  unread_ += static_cast<int>(added.size());
  endInsertRows();
  return added;
}

void TCheckTableModel::Remove(const QString& path) {
  const int row = RowOf(path);
  if (row < 0) return;
  beginRemoveRows(QModelIndex(), row, row);
  if (!rows_[static_cast<size_t>(row)].audit) --unread_;
  rows_.erase(rows_.begin() + row);
  index_.remove(path);
  Reindex(static_cast<size_t>(row));
  endRemoveRows();
}

void TCheckTableModel::Reindex(size_t from) {
  for (size_t i = from; i < rows_.size(); ++i) index_[rows_[i].path] = static_cast<int>(i);
}

bool TCheckTableModel::Store(int row, AuditResult audit, const QImage& icon) {
  if (row < 0) return false;
  Row& r = rows_[static_cast<size_t>(row)];
  if (!r.audit) --unread_;
  r.audit = std::move(audit);
  r.icon = icon;
  return true;
}

void TCheckTableModel::SetAudits(std::vector<TAuditRead>& batch) {
  int first = Count(), last = -1;
  for (TAuditRead& r : batch) {
    const int row = RowOf(r.path);
    if (!Store(row, std::move(r.audit), r.icon)) continue;
    first = std::min(first, row);
    last = std::max(last, row);
  }
  if (last >= 0) emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void TCheckTableModel::SetFindings(int row, std::vector<AuditFinding> findings) {
  if (row < 0 || row >= Count() || !rows_[static_cast<size_t>(row)].audit) return;
  rows_[static_cast<size_t>(row)].audit->findings = std::move(findings);
  emit dataChanged(index(row, Findings), index(row, Findings));
}

bool TCheckTableModel::Forget(const QString& path) {
  const int row = RowOf(path);
  if (row < 0) return false;
  Row& r = rows_[static_cast<size_t>(row)];
  if (r.audit) ++unread_;
  r.audit.reset();
  emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
  return true;
}

int TCheckTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }
int TCheckTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TCheckTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[] = {"File", "Name", "Vendor", "Version", "Findings"};
  return section >= 0 && section < ColumnCount ? QString::fromLatin1(kTitles[section]) : QVariant();
}

QVariant TCheckTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count()) return {};
  const Row& row = rows_[static_cast<size_t>(index.row())];
  switch (index.column()) {
    case File: return FileData(row, role);
    case Findings: return FindingsData(row, role);
    default: break;
  }
  if (role != Qt::DisplayRole && role != SortRole) return {};
  if (!row.audit) return QString();
  const AuditResult& a = *row.audit;
  const std::string& value = index.column() == Name ? a.name : index.column() == Vendor ? a.vendor : a.version;
  const QString text = QString::fromStdString(value);
  return role == SortRole ? QVariant(text.toCaseFolded()) : QVariant(text);
}

QVariant TCheckTableModel::FileData(const Row& row, int role) const {
  switch (role) {
    case Qt::DisplayRole: return QFileInfo(row.path).fileName();
    case SortRole: return QFileInfo(row.path).fileName().toCaseFolded();
    case Qt::ToolTipRole: return row.path;
    case Qt::DecorationRole: return row.icon.isNull() ? defaultIcon_ : row.icon;
    default: return {};
  }
}

QVariant TCheckTableModel::FindingsData(const Row& row, int role) const {
  if (!row.audit) return role == Qt::DisplayRole ? QVariant(QStringLiteral("reading...")) : QVariant();
  const std::optional<AuditSeverity> worst = Worst(*row.audit);
  switch (role) {
    case Qt::DisplayRole: return Compact(*row.audit);
    case SortRole: return worst ? static_cast<int>(*worst) : -1;
    case Qt::ToolTipRole: return row.audit->findings.empty() ? QVariant() : QVariant(Sentences(*row.audit));
    case Qt::ForegroundRole:
      if (worst && SeverityColour(*worst).isValid()) return QBrush(SeverityColour(*worst));
      return {};
    default: return {};
  }
}

void TCheckFilter::SetText(const QString& text) {
  text_ = text.trimmed();
  invalidateFilter();
}

void TCheckFilter::SetProblemsOnly(bool on) {
  problemsOnly_ = on;
  invalidateFilter();
}

bool TCheckFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  const auto& model = static_cast<const TCheckTableModel&>(*sourceModel());
  if (sourceParent.isValid() || sourceRow >= model.Count()) return false;
  const AuditResult* audit = model.Audit(sourceRow);
  if (problemsOnly_) {
    const auto worst = audit ? TCheckTableModel::Worst(*audit) : std::nullopt;
    if (!worst || *worst == AuditSeverity::info) return false;
  }
  if (text_.isEmpty()) return true;
  const auto has = [this](const QString& s) { return s.contains(text_, Qt::CaseInsensitive); };
  if (has(QFileInfo(model.Path(sourceRow)).fileName())) return true;
  if (!audit) return false;
  if (has(QString::fromStdString(audit->name))) return true;
  for (const AuditFinding& f : audit->findings)
    if (has(QString::fromStdString(f.code))) return true;
  return false;
}

}  // namespace parcelix

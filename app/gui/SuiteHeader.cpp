// The strip with a suite's icon, name and audit findings.
#include "app/gui/SuiteHeader.h"

#include <algorithm>

#include <QFileInfo>
#include <QPixmap>
#include <QResizeEvent>

#include "app/gui/CheckListBox.h"
#include "app/gui/SeverityColour.h"
#include "app/gui/SuiteReader.h"

namespace parcelix {

namespace {

// A clean suite is said so in green, as calm as the other colours.
const QColor kCleanColour(0x2e, 0x7d, 0x32);

// Tool tips take text that looks like markup as markup: a manifest's values
// and the sentences quoting them are escaped, and long lines wrap.
QString PlainTip(const QStringList& lines) {
  return QStringLiteral("<qt>") +
         lines.join(QLatin1Char('\n')).toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")) +
         QStringLiteral("</qt>");
}

void SetColour(QLabel& label, const QColor& colour) {
  QPalette palette = label.parentWidget() ? label.parentWidget()->palette() : QPalette();
  if (colour.isValid()) palette.setColor(QPalette::WindowText, colour);
  label.setPalette(palette);
}

// "Name 1.0 - Vendor", with the file's name for a suite without a name.
QString TitleOf(const QString& jarFile, const TSuiteSummary& summary) {
  QString title = summary.name.empty() ? QFileInfo(jarFile).fileName() : QString::fromStdString(summary.name);
  if (!summary.version.empty()) title += QLatin1Char(' ') + QString::fromStdString(summary.version);
  if (!summary.vendor.empty()) title += QStringLiteral(" \u2014 ") + QString::fromStdString(summary.vendor);
  return title;
}

}  // namespace

TSuiteHeader::TSuiteHeader(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("SuiteHeader"));
  icon_.setObjectName(QStringLiteral("SuiteIcon"));
  icon_.setFixedSize(kIconSide, kIconSide);
  title_.setObjectName(QStringLiteral("SuiteTitle"));
  QFont bold = title_.font();
  bold.setBold(true);
  title_.setFont(bold);
  // The labels are sized by the strip, not by their text: long texts are
  // shortened to fit, never widen the window.
  title_.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  findings_.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  for (size_t i = 0; i < chips_.size(); ++i) {
    chips_[i].setObjectName(QStringLiteral("Finding%1").arg(i));
    findingsLayout_.addWidget(&chips_[i]);
  }
  more_.setObjectName(QStringLiteral("MoreFindings"));
  clean_.setObjectName(QStringLiteral("NoFindings"));
  clean_.setText(QStringLiteral("No problems found"));
  for (QLabel* label : {&title_, &more_, &clean_}) label->setTextFormat(Qt::PlainText);
  for (QLabel& chip : chips_) chip.setTextFormat(Qt::PlainText);
  findingsLayout_.addWidget(&more_);
  findingsLayout_.addWidget(&clean_);
  findingsLayout_.addStretch(1);
  findingsLayout_.setContentsMargins(0, 0, 0, 0);
  findingsLayout_.setSpacing(10);
  findings_.setLayout(&findingsLayout_);
  SetColour(clean_, kCleanColour);

  layout_.setContentsMargins(6, 4, 6, 4);
  layout_.setHorizontalSpacing(8);
  layout_.setVerticalSpacing(0);
  layout_.addWidget(&icon_, 0, 0, 2, 1, Qt::AlignVCenter);
  layout_.addWidget(&title_, 0, 1);
  layout_.addWidget(&findings_, 1, 1);
  layout_.setColumnStretch(1, 1);
  setLayout(&layout_);
  setFrameShape(QFrame::StyledPanel);
  Clear();
}

void TSuiteHeader::Clear() {
  shown_ = false;
  hasSuiteIcon_ = false;
  groups_.clear();
  titleText_.clear();
  icon_.clear();
  title_.clear();
  title_.setToolTip({});
  Fit();
}

void TSuiteHeader::Show(const QString& jarFile, const TSuiteSummary& summary, const AuditResult& audit) {
  // Drawn at the screen's pixel density, so a phone's small icon is scaled once.
  const qreal ratio = devicePixelRatioF();
  const int side = qRound(kIconSide * ratio);
  QImage icon = TSuiteReader::DecodeIcon(summary.iconBytes, side);
  hasSuiteIcon_ = !icon.isNull();
  if (!hasSuiteIcon_) icon = TCheckListBox::NeutralJarIcon(side);
  icon.setDevicePixelRatio(ratio);
  icon_.setPixmap(QPixmap::fromImage(icon));
  titleText_ = TitleOf(jarFile, summary);
  title_.setToolTip(PlainTip({titleText_, jarFile}));
  groups_ = GroupFindings(audit);
  shown_ = true;
  Fit();
}

std::vector<TSuiteHeader::Group> TSuiteHeader::GroupFindings(const AuditResult& audit) {
  std::vector<Group> groups;
  for (const AuditFinding& f : audit.findings) {
    const QString code = QString::fromStdString(f.code);
    auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.code == code; });
    if (it == groups.end()) it = groups.insert(groups.end(), Group{code, f.severity, {}});
    it->severity = std::max(it->severity, f.severity);
    it->sentences << FindingLine(f);
  }
  // The worst first; codes of one severity in the order found.
  std::stable_sort(groups.begin(), groups.end(),
                   [](const Group& a, const Group& b) { return a.severity > b.severity; });
  return groups;
}

void TSuiteHeader::ShowChip(QLabel& chip, const Group& group) {
  QString text = QStringLiteral("\u25CF ") + group.code;
  if (group.sentences.size() > 1) text += QStringLiteral(" \u00D7%1").arg(group.sentences.size());
  chip.setText(text);
  chip.setToolTip(PlainTip(group.sentences));
  SetColour(chip, SeverityColour(group.severity));
}

void TSuiteHeader::Fit() {
  title_.setText(title_.fontMetrics().elidedText(titleText_, Qt::ElideRight, std::max(0, title_.width())));
  qsizetype total = 0;
  for (const Group& g : groups_) total += g.sentences.size();
  const int spacing = findingsLayout_.spacing();
  const int room = findings_.width();
  int used = 0;
  qsizetype covered = 0;
  size_t shown = 0;
  for (; shown < groups_.size() && shown < chips_.size(); ++shown) {
    const Group& g = groups_[shown];
    ShowChip(chips_[shown], g);
    const qsizetype rest = total - covered - g.sentences.size();
    const int reserve =
        rest > 0 ? more_.fontMetrics().horizontalAdvance(QStringLiteral("+%1 more").arg(rest)) + spacing : 0;
    // The worst code is shown even when nothing else fits.
    if (shown > 0 && used + chips_[shown].sizeHint().width() + reserve > room) break;
    used += chips_[shown].sizeHint().width() + spacing;
    covered += g.sentences.size();
  }
  for (size_t i = 0; i < chips_.size(); ++i) chips_[i].setVisible(i < shown);
  const qsizetype hidden = total - covered;
  more_.setVisible(hidden > 0);
  if (hidden > 0) {
    QStringList all;
    for (const Group& g : groups_) all << g.sentences;
    more_.setText(QStringLiteral("+%1 more").arg(hidden));
    more_.setToolTip(PlainTip(all));
  }
  clean_.setVisible(shown_ && groups_.empty());
}

void TSuiteHeader::resizeEvent(QResizeEvent* e) {
  QFrame::resizeEvent(e);
  Fit();
}

}  // namespace parcelix

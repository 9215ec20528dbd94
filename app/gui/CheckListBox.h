// A sorted list of JAR files with a check mark each, as the Rename and Make JAD tabs show them: the suite's
// icon and the file name, and beside it what a run will do with the file.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTreeView>

namespace parcelix {

// What a row shows of its file once the file has been read.
struct TRowView {
  QImage icon;       // the suite's icon at the row's height; null: the neutral JAR icon
  QString result;    // the second column: the new name, the JAD, or why not
  QString tooltip;   // full path, suite name, vendor, version
  bool problem = false;  // result says why the run will not do it
};

// The items, kept sorted without regard to case; duplicates are allowed and
// a new item goes after the equal ones already there. Column 0 is the file
// name with its check mark, column 1 what a run will do.
class TCheckListModel : public QAbstractTableModel {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const QString& Path(int index) const { return items_.at(static_cast<size_t>(index)).path; }
  bool Checked(int index) const { return items_.at(static_cast<size_t>(index)).checked; }
  void SetChecked(int index, bool checked);
  // Adds an unchecked item at its sorted place; returns its index.
  int Add(const QString& path);
  // Adds many unchecked items at once (one sort, one update of the view).
  void AddMany(const QStringList& paths);
  void Remove(int index);
  void CheckAll(bool checked);
  void InvertAll();
  int CheckedCount() const;

  // What a row shows beside its path; nothing while its file is being read
  // (the row then says "reading..."). Asked for the rows on the screen only.
  std::function<std::optional<TRowView>(int row)> Describe;
  // Tells the view that what Describe gives has changed.
  void ViewsChanged();
  void SetResultTitle(const QString& title) { resultTitle_ = title; }
  void SetDefaultIcon(const QImage& icon) { defaultIcon_ = icon; }
  // Called when check marks change (a click, Select All...).
  std::function<void()> OnChecksChanged;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct Item {
    QString path;
    bool checked = false;
  };
  void ChangedAll();
  QVariant FileData(const Item& item, const TRowView* view, int role) const;
  QVariant ResultData(const TRowView* view, int role) const;
  std::vector<Item> items_;
  QString resultTitle_;
  QImage defaultIcon_;
};

class TCheckListBox : public QTreeView {
 public:
  explicit TCheckListBox(QWidget* parent = nullptr);
  TCheckListModel& Items() { return model_; }
  const TCheckListModel& Items() const { return model_; }
  // The side of a row's icon in pixels: the row's text height.
  int IconSide() const;
  // The icon of a JAR that has none (or none that decodes): a plain archive.
  static QImage NeutralJarIcon(int side);

 private:
  TCheckListModel model_;
};

}  // namespace parcelix

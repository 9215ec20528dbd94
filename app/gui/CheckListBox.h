// A sorted list of file paths with a check mark each, as the Rename and Make JAD tabs show them.
#pragma once

#include <vector>

#include <QAbstractListModel>
#include <QListView>
#include <QString>

namespace parcelix {

// The items, kept sorted without regard to case; duplicates are allowed and
// a new item goes after the equal ones already there.
class TCheckListModel : public QAbstractListModel {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const QString& Path(int index) const { return items_.at(static_cast<size_t>(index)).path; }
  bool Checked(int index) const { return items_.at(static_cast<size_t>(index)).checked; }
  void SetChecked(int index, bool checked);
  // Adds an unchecked item at its sorted place; returns its index.
  int Add(const QString& path);
  void Remove(int index);
  void CheckAll(bool checked);
  void InvertAll();
  int CheckedCount() const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct Item {
    QString path;
    bool checked = false;
  };
  void ChangedAll();
  std::vector<Item> items_;
};

class TCheckListBox : public QListView {
 public:
  explicit TCheckListBox(QWidget* parent = nullptr);
  TCheckListModel& Items() { return model_; }
  const TCheckListModel& Items() const { return model_; }

 private:
  TCheckListModel model_;
};

}  // namespace parcelix

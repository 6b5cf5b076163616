#pragma once
// The address list: the crawl frontier, shown by the window's list view.
// Rows are appended only; column 0 holds the ordinal text, column 1 the link,
// column 2 the state (empty, "分析中.." or "分析完成").
#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <vector>

namespace qm {

class AddressList : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit AddressList(QObject* parent = nullptr);

  // The operations the crawler uses.
  void AddColumn(const QString& header, int unused, int widthPx);
  void Clear();
  // false: rows appended from now on are held back from views; true: they are
  // published to views in one batch.
  void SetRedraw(bool redraw);
  void AddItem(const QString& text);
  int ItemCount() const;
  QString ItemText(int row, int column) const;
  void SetItemText(int row, int column, const QString& text);

  int ColumnCount() const;
  int ColumnWidth(int column) const;
  bool Redraw() const;
  // Approximate bytes held per row beyond the link text (for measurements).
  std::size_t MemoryBytes() const;

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  struct Row;
  // Private representation is the implementer's; kept compact (see MemoryBytes).
  struct Impl;
  Impl* d;

 public:
  ~AddressList() override;
};

}  // namespace qm

#pragma once
// The address list's view: a table over the crawl's AddressList, with the
// list's configured look (white, black text, peach selection with orange
// text, header shown, no grid lines, 17-pixel rows, several rows selectable)
// and the mouse notification ItemMouse by which the window copies links.
#include <QColor>
#include <QTableView>

namespace qm {

class AddressList;

class ListView : public QTableView {
  Q_OBJECT
 public:
  static constexpr int kItemHeight = 17;
  static constexpr int kScrollSize = 17;
  static QColor BorderColor() { return QColor(128, 128, 128); }

  explicit ListView(QWidget* parent = nullptr);

  void SetAddressList(AddressList* list);
  AddressList* List() const { return list_; }
  // Whether the user has selected the row.
  bool ItemSelected(int row) const;
  // The selected rows, ascending.
  QList<int> SelectedRows() const;
  QWidget* Border() const { return border_; }

 signals:
  // A mouse button went down over the list: the row under the mouse (-1 for
  // none), the button (1 left, 2 right, 4 middle), the shift state and the
  // position in pixels.
  void ItemMouse(int item, int button, int shift, int x, int y);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void ApplyColumnWidths();

  AddressList* list_ = nullptr;
  QWidget* border_ = nullptr;
};

}  // namespace qm

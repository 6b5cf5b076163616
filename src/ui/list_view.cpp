#include "ui/list_view.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPointer>
#include <QProxyStyle>
#include <QScrollBar>
#include <algorithm>

#include "crawl/address_list.h"
#include "ui/qmmenu.h"
#include "ui/shape_outline.h"

namespace qm {

namespace {

const char kHeaderLook[] = R"(
QHeaderView::section {
  background-color: rgb(255, 255, 255); color: rgb(0, 0, 0);
  border: none; border-right: 1px solid rgb(224, 224, 224);
  border-bottom: 1px solid rgb(224, 224, 224); padding-left: 3px;
}
)";

// The platform's scroll bars, 17 pixels thick.
class ScrollBarStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_ScrollBarExtent) return ListView::kScrollSize;
    if (metric == PM_ScrollBarSliderMin) return ListView::kScrollSize;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

QStyle* SharedScrollBarStyle() {
  // One style for every list, living as long as the application.
  static QPointer<ScrollBarStyle> style;
  if (!style) {
    style = new ScrollBarStyle;
    style->setParent(QCoreApplication::instance());
  }
  return style;
}

void ApplyScrollBarLook(QScrollBar* bar) {
  bar->setStyle(SharedScrollBarStyle());
  QPalette palette = bar->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Window, QColor(224, 224, 224));
    palette.setColor(group, QPalette::Base, QColor(224, 224, 224));
    palette.setColor(group, QPalette::Button, QColor(212, 208, 200));
    palette.setColor(group, QPalette::ButtonText, Qt::black);
    palette.setColor(group, QPalette::WindowText, Qt::black);
    palette.setColor(group, QPalette::Dark, QColor(64, 64, 64));
    palette.setColor(group, QPalette::Shadow, QColor(64, 64, 64));
    palette.setColor(group, QPalette::Mid, QColor(128, 128, 128));
  }
  bar->setPalette(palette);
}

}  // namespace

ListView::ListView(QWidget* parent) : QTableView(parent) {
  QPalette palette = this->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Base, Qt::white);
    palette.setColor(group, QPalette::Window, Qt::white);
    palette.setColor(group, QPalette::Text, Qt::black);
    palette.setColor(group, QPalette::Highlight, qMmenu::Peach());
    palette.setColor(group, QPalette::HighlightedText, qMmenu::Orange());
  }
  setPalette(palette);
  ApplyScrollBarLook(verticalScrollBar());
  ApplyScrollBarLook(horizontalScrollBar());

  // The border is drawn over the list's outermost pixels rather than taking
  // room from it: the three columns and the scroll bar fill the width.
  setFrameStyle(QFrame::NoFrame);
  border_ = new ShapeOutline(BorderColor(), this);
  border_->raise();

  setShowGrid(false);
  setAlternatingRowColors(false);
  setWordWrap(false);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setCornerButtonEnabled(false);

  // Every row has the same fixed height, so a list of a million rows costs
  // nothing to lay out.
  QHeaderView* rows = verticalHeader();
  rows->hide();
  rows->setMinimumSectionSize(1);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(kItemHeight);

  QHeaderView* columns = horizontalHeader();
  columns->setVisible(true);
  columns->setStyleSheet(QString::fromLatin1(kHeaderLook));
  columns->setHighlightSections(false);
  columns->setStretchLastSection(false);
  columns->setSectionResizeMode(QHeaderView::Interactive);
  columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void ListView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  border_->setGeometry(rect());
  border_->raise();
}

void ListView::SetAddressList(AddressList* list) {
  list_ = list;
  setModel(list);
  if (!list) return;
  connect(list, &QAbstractItemModel::columnsInserted, this, &ListView::ApplyColumnWidths);
  connect(list, &QAbstractItemModel::modelReset, this, &ListView::ApplyColumnWidths);
  connect(list, &QAbstractItemModel::headerDataChanged, this, &ListView::ApplyColumnWidths);
  ApplyColumnWidths();
}

void ListView::ApplyColumnWidths() {
  if (!list_) return;
  for (int c = 0; c < list_->ColumnCount() && c < horizontalHeader()->count(); ++c)
    setColumnWidth(c, list_->ColumnWidth(c));
}

bool ListView::ItemSelected(int row) const {
  if (!list_ || !selectionModel()) return false;
  return selectionModel()->isRowSelected(row, QModelIndex());
}

QList<int> ListView::SelectedRows() const {
  QList<int> rows;
  if (!list_ || !selectionModel()) return rows;
  const QItemSelection selection = selectionModel()->selection();
  for (const QItemSelectionRange& range : selection) {
    if (!range.isValid()) continue;
    for (int row = range.top(); row <= range.bottom(); ++row) rows << row;
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void ListView::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const int item = indexAt(pos).row();
  const int button = EventButton(event->button());
  const int shift = EventShift(event->modifiers());
  // The right button belongs to the copy command: it leaves the selection
  // as the user made it.
  if (event->button() != Qt::RightButton)
    QTableView::mousePressEvent(event);
  else
    event->accept();
  emit ItemMouse(item, button, shift, pos.x(), pos.y());
}

}  // namespace qm

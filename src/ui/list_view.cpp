#include "ui/list_view.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleOptionSlider>
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

// The list's scroll bars, 17 pixels thick, drawn in the list's own colours: a
// grey track, flat buttons and thumb framed in dark grey, black arrows, a
// darker grey where the button or thumb is held down.
class ScrollBarStyle : public QProxyStyle {
 public:
  static constexpr QRgb kTrack = qRgb(224, 224, 224);
  static constexpr QRgb kBlock = qRgb(212, 208, 200);
  static constexpr QRgb kBorder = qRgb(64, 64, 64);
  static constexpr QRgb kPressed = qRgb(128, 128, 128);

  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_ScrollBarExtent) return ListView::kScrollSize;
    if (metric == PM_ScrollBarSliderMin) return ListView::kScrollSize;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || !bar) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    painter->save();
    painter->fillRect(bar->rect, QColor(kTrack));
    const bool vertical = bar->orientation == Qt::Vertical;
    for (const SubControl part : {SC_ScrollBarSubLine, SC_ScrollBarAddLine, SC_ScrollBarSlider}) {
      const QRect box = subControlRect(control, bar, part, widget);
      if (box.isEmpty()) continue;
      const bool held = (bar->activeSubControls & part) && (bar->state & State_Sunken);
      painter->fillRect(box, QColor(held ? kPressed : kBlock));
      painter->setPen(QColor(kBorder));
      painter->setBrush(Qt::NoBrush);
      painter->drawRect(box.adjusted(0, 0, -1, -1));
      if (part == SC_ScrollBarSlider) continue;
      // A small black triangle pointing the way the button scrolls.
      const QPointF c = QRectF(box).center();
      const qreal h = 3.5;
      const qreal dir = part == SC_ScrollBarSubLine ? -1 : 1;
      QPolygonF arrow;
      if (vertical) {
        arrow << QPointF(c.x() - h, c.y() - dir * h / 2) << QPointF(c.x() + h, c.y() - dir * h / 2)
              << QPointF(c.x(), c.y() + dir * h / 2);
      } else {
        arrow << QPointF(c.x() - dir * h / 2, c.y() - h) << QPointF(c.x() - dir * h / 2, c.y() + h)
              << QPointF(c.x() + dir * h / 2, c.y());
      }
      painter->setPen(Qt::NoPen);
      painter->setBrush(Qt::black);
      painter->drawPolygon(arrow);
    }
    painter->restore();
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

void ApplyScrollBarLook(QScrollBar* bar) { bar->setStyle(SharedScrollBarStyle()); }

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

#include "crawl/address_list.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

using qm::AddressList;

void AddRow(AddressList& lv, const QString& link) {
  const int n = lv.ItemCount();
  lv.AddItem(QString::number(n + 1));
  lv.SetItemText(n, 1, link);
}

TEST(AddressList, RowsColumnsAndCellsReadBackAsWritten) {
  AddressList lv;
  lv.AddColumn(QStringLiteral("序号"), 0, 60);
  lv.AddColumn(QStringLiteral("连接"), 0, 430);
  lv.AddColumn(QStringLiteral("状态"), 0, 90);
  ASSERT_EQ(lv.ColumnCount(), 3);
  EXPECT_EQ(lv.ColumnWidth(1), 430);
  EXPECT_EQ(lv.headerData(2, Qt::Horizontal).toString(), QStringLiteral("状态"));

  AddRow(lv, QStringLiteral("http://a.com/1"));
  AddRow(lv, QStringLiteral("http://a.com/22"));
  lv.AddItem(QStringLiteral("seven"));  // an ordinal that is not index + 1
  EXPECT_EQ(lv.ItemCount(), 3);
  EXPECT_EQ(lv.ItemText(0, 0), QStringLiteral("1"));
  EXPECT_EQ(lv.ItemText(1, 0), QStringLiteral("2"));
  EXPECT_EQ(lv.ItemText(2, 0), QStringLiteral("seven"));
  EXPECT_EQ(lv.ItemText(0, 1), QStringLiteral("http://a.com/1"));
  EXPECT_EQ(lv.ItemText(1, 1), QStringLiteral("http://a.com/22"));
  // Cells never written read as the empty text, out-of-range ones too.
  EXPECT_EQ(lv.ItemText(2, 1), QString());
  EXPECT_EQ(lv.ItemText(0, 2), QString());
  EXPECT_EQ(lv.ItemText(0, 5), QString());
  EXPECT_EQ(lv.ItemText(3, 1), QString());
  EXPECT_EQ(lv.ItemText(-1, 0), QString());

  lv.SetItemText(0, 2, QStringLiteral("分析中.."));
  lv.SetItemText(1, 2, QStringLiteral("分析完成"));
  lv.SetItemText(2, 2, QStringLiteral("其他"));
  EXPECT_EQ(lv.ItemText(0, 2), QStringLiteral("分析中.."));
  EXPECT_EQ(lv.ItemText(1, 2), QStringLiteral("分析完成"));
  EXPECT_EQ(lv.ItemText(2, 2), QStringLiteral("其他"));
  lv.SetItemText(2, 2, QString());
  EXPECT_EQ(lv.ItemText(2, 2), QString());

  // Rewriting an older row's link keeps its neighbours intact.
  lv.SetItemText(0, 1, QStringLiteral("http://b.com/longer-than-before"));
  EXPECT_EQ(lv.ItemText(0, 1), QStringLiteral("http://b.com/longer-than-before"));
  EXPECT_EQ(lv.ItemText(1, 1), QStringLiteral("http://a.com/22"));

  lv.SetItemText(9, 1, QStringLiteral("ignored"));  // no such row
  EXPECT_EQ(lv.ItemCount(), 3);

  lv.Clear();
  EXPECT_EQ(lv.ItemCount(), 0);
  EXPECT_EQ(lv.rowCount(), 0);
  EXPECT_EQ(lv.ColumnCount(), 3);  // columns stay
  AddRow(lv, QStringLiteral("http://c.com/"));
  EXPECT_EQ(lv.ItemText(0, 1), QStringLiteral("http://c.com/"));
  EXPECT_EQ(lv.ItemText(0, 2), QString());
}

TEST(AddressList, RowsAddedWithRedrawOffArePublishedInOneBatch) {
  AddressList lv;
  lv.AddColumn(QStringLiteral("序号"), 0, 60);
  lv.AddColumn(QStringLiteral("连接"), 0, 430);
  lv.AddColumn(QStringLiteral("状态"), 0, 90);
  QSignalSpy inserted(&lv, &QAbstractItemModel::rowsInserted);

  AddRow(lv, QStringLiteral("http://a.com/0"));
  EXPECT_EQ(inserted.count(), 1);  // redraw on: shown at once
  EXPECT_EQ(lv.rowCount(), 1);
  QSignalSpy changed(&lv, &QAbstractItemModel::dataChanged);

  lv.SetRedraw(false);
  for (int i = 1; i <= 50; ++i) AddRow(lv, QStringLiteral("http://a.com/%1").arg(i));
  lv.SetItemText(0, 2, QStringLiteral("分析中.."));
  // Counted and readable at once, but not yet shown.
  EXPECT_EQ(lv.ItemCount(), 51);
  EXPECT_EQ(lv.ItemText(50, 1), QStringLiteral("http://a.com/50"));
  EXPECT_EQ(lv.rowCount(), 1);
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(changed.count(), 0);

  lv.SetRedraw(true);
  ASSERT_EQ(inserted.count(), 2);
  EXPECT_EQ(inserted.at(1).at(1).toInt(), 1);
  EXPECT_EQ(inserted.at(1).at(2).toInt(), 50);
  EXPECT_EQ(lv.rowCount(), 51);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(lv.data(lv.index(0, 2)).toString(), QStringLiteral("分析中.."));

  lv.SetRedraw(true);  // nothing new: no second batch
  EXPECT_EQ(inserted.count(), 2);
  lv.SetItemText(3, 2, QStringLiteral("分析完成"));  // shown row, redraw on
  EXPECT_EQ(changed.count(), 2);
}

TEST(AddressList, AMillionRowsCostFewBytesBeyondTheirLinks) {
  AddressList lv;
  lv.AddColumn(QStringLiteral("序号"), 0, 60);
  lv.AddColumn(QStringLiteral("连接"), 0, 430);
  lv.AddColumn(QStringLiteral("状态"), 0, 90);
  constexpr int kRows = 1000000;
  lv.SetRedraw(false);
  for (int i = 0; i < kRows; ++i) {
    lv.AddItem(QString::number(i + 1));
    lv.SetItemText(i, 1, QStringLiteral("http://site.com/p%1.html").arg(i));
    if (i % 3 == 0) lv.SetItemText(i, 2, QStringLiteral("分析完成"));
  }
  lv.SetRedraw(true);
  ASSERT_EQ(lv.ItemCount(), kRows);
  EXPECT_EQ(lv.rowCount(), kRows);
  EXPECT_LE(lv.MemoryBytes() / kRows, 64u);
  EXPECT_EQ(lv.ItemText(999999, 0), QStringLiteral("1000000"));
  EXPECT_EQ(lv.ItemText(999999, 1), QStringLiteral("http://site.com/p999999.html"));
  EXPECT_EQ(lv.ItemText(999999, 2), QStringLiteral("分析完成"));
  EXPECT_EQ(lv.ItemText(999998, 2), QString());
  EXPECT_EQ(lv.ItemText(123456, 1), QStringLiteral("http://site.com/p123456.html"));
}

}  // namespace

#include "crawl/address_list.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>

namespace qm {

// Rows are kept compact, since a long crawl lists millions of links:
// - every link lives in one UTF-16 arena; a row stores only where its link
//   starts (its end is where the next row's link starts);
// - a row's state is two bits of one flag byte (empty, "分析中..", "分析完成");
// - the ordinal of column 0 is not stored when it is the row's index + 1.
// Anything else (another ordinal, another state text, a link rewritten after
// the row was added, extra columns) goes to a map of exceptions.
struct AddressList::Row {
  enum : std::uint8_t {
    kStateMask = 0x03,  // 0 empty, 1 analysing, 2 done, 3 text in the exceptions
    kOwnOrdinal = 0x04,
    kOwnLink = 0x08,
  };
};

namespace {

const QString& StateText(int state) {
  static const QString kTexts[] = {QString(), QStringLiteral("分析中.."),
                                   QStringLiteral("分析完成")};
  return kTexts[state];
}

int StateCode(const QString& text) {
  if (text.isEmpty()) return 0;
  if (text == StateText(1)) return 1;
  if (text == StateText(2)) return 2;
  return 3;
}

std::uint64_t CellKey(int row, int column) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) |
         static_cast<std::uint32_t>(column);
}

}  // namespace

struct AddressList::Impl {
  struct Column {
    QString header;
    int width = 0;
  };
  std::vector<Column> columns;
  std::vector<char16_t> arena;                       // the links, back to back
  std::vector<std::uint64_t> starts;                 // where each row's link begins in the arena
  std::vector<std::uint8_t> flags;                   // state and exception bits per row
  std::unordered_map<std::uint64_t, QString> cells;  // exceptions, by row and column
  int published = 0;                                 // rows shown to views
  bool redraw = true;
  int dirtyFirst = -1;  // rows changed while redraw was off
  int dirtyLast = -1;

  int Count() const { return static_cast<int>(starts.size()); }

  QString Link(int row) const {
    const std::uint64_t begin = starts[static_cast<std::size_t>(row)];
    const std::uint64_t end = static_cast<std::size_t>(row) + 1 < starts.size()
                                  ? starts[static_cast<std::size_t>(row) + 1]
                                  : arena.size();
    return QString(reinterpret_cast<const QChar*>(arena.data() + begin),
                   static_cast<qsizetype>(end - begin));
  }

  QString Exception(int row, int column) const {
    auto it = cells.find(CellKey(row, column));
    return it == cells.end() ? QString() : it->second;
  }
};

AddressList::AddressList(QObject* parent) : QAbstractTableModel(parent), d(new Impl) {}

AddressList::~AddressList() { delete d; }

void AddressList::AddColumn(const QString& header, int /*unused*/, int widthPx) {
  const int n = static_cast<int>(d->columns.size());
  beginInsertColumns(QModelIndex(), n, n);
  d->columns.push_back({header, widthPx});
  endInsertColumns();
}

void AddressList::Clear() {
  beginResetModel();
  d->arena.clear();
  d->arena.shrink_to_fit();
  d->starts.clear();
  d->starts.shrink_to_fit();
  d->flags.clear();
  d->flags.shrink_to_fit();
  d->cells.clear();
  d->published = 0;
  d->dirtyFirst = d->dirtyLast = -1;
  endResetModel();
}

void AddressList::SetRedraw(bool redraw) {
  d->redraw = redraw;
  if (!redraw) return;
  const int count = d->Count();
  if (count > d->published) {
    beginInsertRows(QModelIndex(), d->published, count - 1);
    d->published = count;
    endInsertRows();
  }
  if (d->dirtyFirst >= 0) {
    const int last = std::min(d->dirtyLast, d->published - 1);
    if (d->dirtyFirst <= last && !d->columns.empty())
      emit dataChanged(index(d->dirtyFirst, 0),
                       index(last, static_cast<int>(d->columns.size()) - 1));
    d->dirtyFirst = d->dirtyLast = -1;
  }
}

void AddressList::AddItem(const QString& text) {
  const int row = d->Count();
  const bool show = d->redraw && d->published == row;
  if (show) beginInsertRows(QModelIndex(), row, row);
  d->starts.push_back(d->arena.size());
  std::uint8_t flags = 0;
  if (text != QString::number(static_cast<qint64>(row) + 1)) {
    flags |= Row::kOwnOrdinal;
    d->cells[CellKey(row, 0)] = text;
  }
  d->flags.push_back(flags);
  if (show) {
    d->published = row + 1;
    endInsertRows();
  }
}

int AddressList::ItemCount() const { return d->Count(); }

QString AddressList::ItemText(int row, int column) const {
  if (row < 0 || row >= d->Count() || column < 0) return QString();
  const std::uint8_t flags = d->flags[static_cast<std::size_t>(row)];
  switch (column) {
    case 0:
      return (flags & Row::kOwnOrdinal) ? d->Exception(row, 0)
                                        : QString::number(static_cast<qint64>(row) + 1);
    case 1:
      return (flags & Row::kOwnLink) ? d->Exception(row, 1) : d->Link(row);
    case 2: {
      const int state = flags & Row::kStateMask;
      return state == 3 ? d->Exception(row, 2) : StateText(state);
    }
    default:
      return d->Exception(row, column);
  }
}

void AddressList::SetItemText(int row, int column, const QString& text) {
  if (row < 0 || row >= d->Count() || column < 0) return;
  std::uint8_t& flags = d->flags[static_cast<std::size_t>(row)];
  const std::uint64_t key = CellKey(row, column);
  switch (column) {
    case 0:
      if (text == QString::number(static_cast<qint64>(row) + 1)) {
        flags &= static_cast<std::uint8_t>(~Row::kOwnOrdinal);
        d->cells.erase(key);
      } else {
        flags |= Row::kOwnOrdinal;
        d->cells[key] = text;
      }
      break;
    case 1:
      if (row == d->Count() - 1) {
        // The newest row's link is the arena's tail: rewrite it there.
        d->arena.resize(d->starts.back());
        const char16_t* p = reinterpret_cast<const char16_t*>(text.utf16());
        d->arena.insert(d->arena.end(), p, p + text.size());
        flags &= static_cast<std::uint8_t>(~Row::kOwnLink);
        d->cells.erase(key);
      } else {
        flags |= Row::kOwnLink;
        d->cells[key] = text;
      }
      break;
    case 2: {
      const int state = StateCode(text);
      flags = static_cast<std::uint8_t>((flags & ~Row::kStateMask) | state);
      if (state == 3)
        d->cells[key] = text;
      else
        d->cells.erase(key);
      break;
    }
    default:
      if (text.isEmpty())
        d->cells.erase(key);
      else
        d->cells[key] = text;
      break;
  }
  if (row >= d->published) return;  // not shown yet: published with its batch
  if (d->redraw) {
    if (column < static_cast<int>(d->columns.size())) {
      const QModelIndex cell = index(row, column);
      emit dataChanged(cell, cell);
    }
  } else {
    d->dirtyFirst = d->dirtyFirst < 0 ? row : std::min(d->dirtyFirst, row);
    d->dirtyLast = std::max(d->dirtyLast, row);
  }
}

int AddressList::ColumnCount() const { return static_cast<int>(d->columns.size()); }

int AddressList::ColumnWidth(int column) const {
  if (column < 0 || column >= ColumnCount()) return 0;
  return d->columns[static_cast<std::size_t>(column)].width;
}

bool AddressList::Redraw() const { return d->redraw; }

std::size_t AddressList::MemoryBytes() const {
  // Per-row bookkeeping; the arena is the link text itself. An exception
  // costs its map node (key, QString header, link pointer) plus its bucket.
  constexpr std::size_t kNodeBytes = sizeof(std::uint64_t) + sizeof(QString) + 2 * sizeof(void*);
  std::size_t bytes = d->starts.capacity() * sizeof(std::uint64_t) + d->flags.capacity();
  bytes += d->cells.size() * kNodeBytes + d->cells.bucket_count() * sizeof(void*);
  for (const auto& cell : d->cells) bytes += static_cast<std::size_t>(cell.second.capacity()) * 2;
  return bytes;
}

int AddressList::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : d->published;
}

int AddressList::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount();
}

QVariant AddressList::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole || index.row() >= d->published) return QVariant();
  return ItemText(index.row(), index.column());
}

QVariant AddressList::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= ColumnCount())
    return QVariant();
  return d->columns[static_cast<std::size_t>(section)].header;
}

}  // namespace qm

#pragma once
// The link list of one page under construction (see page_analyse.h).
#include <QString>
#include <QStringView>
#include <utility>

namespace qm {

// The link list of one page under construction, with the test "does this link
// occur anywhere inside the list text built so far". The answer is exactly
// that of a substring search of the list text, found through an index of the
// listed links' 8-character windows instead of a scan of the whole list.
class LinkList {
 public:
  LinkList();
  ~LinkList();
  LinkList(const LinkList&) = delete;
  LinkList& operator=(const LinkList&) = delete;

  // `lineBreaks` false promises that the link holds no CR or LF (which
  // spares looking for them).
  bool Occurs(QStringView link, bool lineBreaks = true) const;
  void Append(QStringView link, bool lineBreaks = true);  // appends the link and CR LF
  void Reserve(qsizetype characters);                     // room for a list text of this length
  const QString& Text() const { return text_; }
  QString Take() { return std::move(text_); }

 private:
  struct Index;
  QString text_;
  Index* index_;
};

}  // namespace qm

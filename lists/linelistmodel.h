#pragma once

#include "linelist.h"

#include <QAbstractListModel>
#include <QStringList>

#include <memory>

class QCollator;

namespace varnel {

// The one model behind both lists: plain strings, no per-item objects, so a million
// lines stay cheap. In sorted mode it keeps its items in correct (collated) order after
// every append; batches are sorted once and merged rather than inserted one by one.
class LineListModel : public QAbstractListModel, public LineList, public ColumnTable {
    Q_OBJECT
public:
    explicit LineListModel(QObject* parent = nullptr);
    ~LineListModel() override;

    // LineList
    qsizetype count() const override { return m_items.size(); }
    QString text(qsizetype position) const override;
    void append(const QString& text) override;

    void appendBatch(QStringList texts);
    void setText(qsizetype position, const QString& text);
    // Swaps two items' texts without copying either.
    void exchange(qsizetype first, qsizetype second);
    void removeAt(qsizetype position);
    void clear();

    void setSorted(bool sorted);
    bool isSorted() const { return m_sorted; }

    void addColumnHeader(const QString& caption);
    qsizetype columnHeaderCount() const { return m_headers.size(); }

    // ColumnTable: one column, the item text; the caption is the header's.
    qsizetype itemCount() const override { return count(); }
    qsizetype columnCount() const override { return 1; }
    QString columnCaption(qsizetype column) const override;
    QString cell(qsizetype item, qsizetype column) const override;

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void checkPosition(qsizetype position) const;
    const QCollator& collator() const;
    qsizetype sortedInsertPosition(const QString& text) const;
    void sortAll();

    QStringList m_items;
    QStringList m_headers;
    bool m_sorted = false;
    mutable std::unique_ptr<QCollator> m_collator;
};

} // namespace varnel

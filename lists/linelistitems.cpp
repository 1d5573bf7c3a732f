// What views and tables read of a list: its rows, their text as shown, their tooltips, and
// its one column with its header.

#include "linelistmodel.h"

#include "core/failure.h"
#include "resultlinks.h"

namespace varnel {

namespace {

// A view lays out the whole text of every row it paints: a line of a hundred million
// characters would hold the window for minutes on each paint. No screen shows more than
// this many characters of a row; the rest is marked with an ellipsis.
constexpr qsizetype DisplayLength = 2048;

} // namespace

void LineListModel::addColumnHeader(const QString& caption) {
    m_headers.append(caption);
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

QString LineListModel::columnCaption(qsizetype column) const {
    if (column != 1)
        throw failures::indexOutOfBounds();
    return m_headers.value(0);
}

QString LineListModel::cell(qsizetype item, qsizetype column) const {
    if (column != 1)
        throw failures::indexOutOfBounds();
    return text(item);
}

int LineListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(count());
}

QVariant LineListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const auto row = size_t(index.row());
    if (role == Qt::DisplayRole) {
        const LineText text = textOf(row);
        if (text.size() <= DisplayLength)
            return text.toString();
        // A character of two units (a surrogate pair) is cut before, not in half.
        const qsizetype shown =
            DisplayLength - (QChar::isHighSurrogate(text.at(DisplayLength - 1)) ? 1 : 0);
        return text.first(shown).toString() + QChar(0x2026);
    }
    const quint32 link = m_entries.link(row);
    if ((role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) && m_links && link != 0)
        return m_links->describe(link);
    if (role == LinkStateRole && m_links && link != 0)
        return int(m_links->state(link));
    return {};
}

QVariant LineListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole &&
        !m_headers.isEmpty())
        return m_headers.first();
    return {};
}

Qt::ItemFlags LineListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace varnel

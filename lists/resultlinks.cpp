#include "resultlinks.h"

#include "linelistmodel.h"
#include "order/linesortsafter.h"

#include <QLocale>

namespace varnel {

namespace {

// A result's link is the input position its line came from, 0 for none, or this once its
// line was removed.
constexpr quint32 NoLink = 0;
constexpr quint32 Removed = LineListModel::LostLink;

// A neighbour's text is quoted up to this many characters.
constexpr qsizetype QuotedLength = 60;

QString quoted(LineText text) {
    if (text.size() <= QuotedLength)
        return u'"' + text.toString() + u'"';
    // A character of two units (a surrogate pair) is cut before, not in half.
    const qsizetype kept =
        QuotedLength - (QChar::isHighSurrogate(text.at(QuotedLength - 1)) ? 1 : 0);
    return u'"' + text.first(kept).toString() + QChar(0x2026) + u'"';
}

} // namespace

ResultLinks::ResultLinks(LineListModel& input, LineListModel& results, QObject* parent)
    : QObject(parent)
    , m_input(input)
    , m_results(results) {
    connect(&input, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { rowsInserted(first, last); });
    connect(&input, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { rowsRemoved(first, last); });
    connect(&input, &LineListModel::itemsExchanged, this, &ResultLinks::exchanged);
    // A reset, or a reorder that names no rows, cannot be followed: every link ends rather
    // than lead to another line.
    connect(&input, &QAbstractItemModel::modelReset, this, &ResultLinks::removeAll);
    connect(&input, &QAbstractItemModel::layoutChanged, this, &ResultLinks::removeAll);
    results.setLinks(this);
}

ResultLinks::~ResultLinks() {
    m_results.setLinks(nullptr);
}

std::optional<qsizetype> ResultLinks::inputPosition(qsizetype resultPosition) const {
    const quint32 link = m_results.link(resultPosition);
    if (link == NoLink || link == Removed || qsizetype(link) > m_input.count())
        return std::nullopt;
    return qsizetype(link);
}

QString ResultLinks::describe(quint32 link) const {
    if (link == Removed || qsizetype(link) > m_input.count())
        return QStringLiteral("Its line was removed");
    const QLocale locale;
    const QString line = QStringLiteral("Line ") + locale.toString(qlonglong(link));
    // The sorted list copies every line; where each one stood is all there is to say.
    if (m_results.isSorted())
        return line;
    const auto at = qsizetype(link);
    if (at < m_input.count() && lineSortsAfter(m_input.textView(at), m_input.textView(at + 1)))
        return line + QStringLiteral(" sorts after line ") + locale.toString(qlonglong(at + 1)) +
               QStringLiteral(": ") + quoted(m_input.textView(at + 1));
    return line + QStringLiteral(" is now in order");
}

LinkState ResultLinks::state(quint32 link) const {
    if (link == NoLink)
        return LinkState::None;
    if (link == Removed || qsizetype(link) > m_input.count())
        return LinkState::Removed;
    if (m_results.isSorted())
        return LinkState::Copy;
    const auto at = qsizetype(link);
    return at < m_input.count() && lineSortsAfter(m_input.textView(at), m_input.textView(at + 1))
               ? LinkState::OutOfOrder
               : LinkState::InOrder;
}

void ResultLinks::rowsInserted(int first, int last) {
    // Lines added at the end move nothing, and that is how lines are added.
    if (qsizetype(last) + 1 >= m_input.count())
        return;
    const auto from = quint32(first) + 1;
    const auto count = quint32(last - first + 1);
    m_results.updateLinks([from, count](quint32 link) {
        return link != Removed && link >= from ? link + count : link;
    });
}

void ResultLinks::rowsRemoved(int first, int last) {
    const auto from = quint32(first) + 1;
    const auto to = quint32(last) + 1;
    const quint32 count = to - from + 1;
    m_results.updateLinks([from, to, count](quint32 link) {
        if (link == Removed || link < from)
            return link;
        return link <= to ? Removed : link - count;
    });
}

void ResultLinks::exchanged(qsizetype first, qsizetype second) {
    const auto a = quint32(first);
    const auto b = quint32(second);
    m_results.updateLinks([a, b](quint32 link) { return link == a ? b : link == b ? a : link; });
}

void ResultLinks::removeAll() {
    m_results.updateLinks([](quint32 link) { return link == NoLink ? NoLink : Removed; });
}

} // namespace varnel

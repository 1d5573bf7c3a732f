#include "resultdrawing.h"

#include "linelistview.h"
#include "scrollmarks.h"

#include "commands/windowstate.h"
#include "lists/linelistmodel.h"
#include "lists/ordermarks.h"

#include <QItemSelectionModel>
#include <QPainter>

namespace varnel {

QPalette::ColorRole ResultDelegate::textRole(LinkState state) {
    return state == LinkState::InOrder || state == LinkState::Removed ? QPalette::PlaceholderText
                                                                      : QPalette::Text;
}

LinkState ResultDelegate::stateOf(const QModelIndex& index) {
    const QVariant state = index.data(LineListModel::LinkStateRole);
    return state.isValid() ? LinkState(state.toInt()) : LinkState::None;
}

void ResultDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const LinkState state = stateOf(index);
    const QPalette::ColorRole role = textRole(state);
    if (role == QPalette::Text)
        return;
    option->palette.setColor(QPalette::Text, option->palette.color(role));
    // A check for a pair put in order, a cross for a line gone.
    option->text =
        (state == LinkState::InOrder ? QStringLiteral("\u2713 ") : QStringLiteral("\u2715 ")) +
        option->text;
}

PartnerDelegate::PartnerDelegate(std::function<std::optional<qsizetype>()> partner, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_partner(std::move(partner)) {}

bool PartnerDelegate::isPartner(const QModelIndex& index) const {
    const std::optional<qsizetype> partner = m_partner();
    return partner && index.row() + 1 == *partner;
}

void PartnerDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    if (!isPartner(index))
        return;
    painter->save();
    painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1, Qt::DashLine));
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

void wireResultDrawing(WindowState& state, LineListView* input, LineListView* results) {
    results->setItemDelegate(new ResultDelegate(results));
    input->setItemDelegate(new PartnerDelegate(
        [&state, results]() -> std::optional<qsizetype> {
            const std::optional<qsizetype> selected = results->selectedPosition();
            if (!selected || *selected > state.results().count())
                return std::nullopt;
            const std::optional<qsizetype> line = state.links().inputPosition(*selected);
            if (!line || *line >= state.input().count())
                return std::nullopt;
            return *line + 1;
        },
        input));
    // A result's state is read from the input as it is when it is drawn.
    const auto repaintResults = [results] { results->viewport()->update(); };
    LineListModel& lines = state.input();
    QObject::connect(&lines, &QAbstractItemModel::dataChanged, results, repaintResults);
    QObject::connect(&lines, &QAbstractItemModel::rowsInserted, results, repaintResults);
    QObject::connect(&lines, &QAbstractItemModel::rowsRemoved, results, repaintResults);
    QObject::connect(&lines, &QAbstractItemModel::modelReset, results, repaintResults);
    QObject::connect(results->selectionModel(), &QItemSelectionModel::selectionChanged, input,
                     [input] { input->viewport()->update(); });
}

ScrollMarks* addScrollMarks(WindowState& state, LineListView* input) {
    auto* marks = new OrderMarks(state.input(), input);
    return new ScrollMarks(input, *marks);
}

} // namespace varnel

#pragma once

#include "lists/resultlinks.h"

#include <QPalette>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>

namespace varnel {

class LineListView;
class WindowState;

// Draws a result by what its line is now: one whose pair is in order or whose line was
// removed in the palette's muted text colour behind a mark, so it reads as done in light and
// dark themes alike; live results as any line.
class ResultDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QPalette::ColorRole textRole(LinkState state);
    static LinkState stateOf(const QModelIndex& index);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// Draws a frame in the selection's colour around the input line below the selected
// result's line, the other line of its pair: marked, never selected, so Delete and a drag
// still act on the result's own line.
class PartnerDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    PartnerDelegate(std::function<std::optional<qsizetype>()> partner, QObject* parent);

    bool isPartner(const QModelIndex& index) const;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    std::function<std::optional<qsizetype>()> m_partner;
};

// Gives both lists their delegates and repaints each when what it shows of the other
// changes.
void wireResultDrawing(WindowState& state, LineListView* input, LineListView* results);

class ScrollMarks;
// Marks beside the input list's scroll bar where its out-of-order lines are.
ScrollMarks* addScrollMarks(WindowState& state, LineListView* input);

} // namespace varnel

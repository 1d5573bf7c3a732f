#pragma once

#include <QTreeView>

#include <optional>

namespace varnel {

// A one-column list that only shows a LineListModel: header on, no tree decoration,
// uniform rows so a million lines scroll without measuring each one.
class LineListView : public QTreeView {
    Q_OBJECT
public:
    explicit LineListView(QWidget* parent = nullptr);

    // The item the user last clicked, counting from 1; none before any click.
    std::optional<qsizetype> selectedPosition() const;

signals:
    // After the view's own handling, so the first click has already selected the line.
    void doubleClickedAnywhere();
    void deletePressed();
    void mouseMoved();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace varnel

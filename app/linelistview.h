#pragma once

#include <QHeaderView>
#include <QStringList>
#include <QTableView>

#include <functional>
#include <optional>

namespace varnel {

// A one-column list that only shows a LineListModel: a header whose divider the user
// drags, rows of one fixed height. A table view keeps nothing per row, where a tree view
// lays out forty bytes for each: a million lines cost the view next to nothing.
class LineListView : public QTableView {
    Q_OBJECT
public:
    explicit LineListView(QWidget* parent = nullptr);

    QHeaderView* header() const { return horizontalHeader(); }

    // The item the user last clicked, counting from 1; none before any click.
    std::optional<qsizetype> selectedPosition() const;
    // The item at a point of the viewport, counting from 1; none over empty space.
    std::optional<qsizetype> positionAt(const QPoint& point) const;
    void selectPosition(qsizetype position);
    void revealPosition(qsizetype position);

    // Takes files dropped from a file manager, and nothing else.
    void setAcceptsFileDrops(bool accepts);
    // While `held` says so, drops are turned away as well: the work the window waits for
    // has to end before another command starts.
    void setFileDropsHeld(std::function<bool()> held) { m_dropsHeld = std::move(held); }
    // Moves with a button down belong to the window (carrying an item), not to the
    // view's own drag selection and auto-scrolling.
    void setCarriesItems(bool carries) { m_carriesItems = carries; }
    // What an item's tooltip says, in place of the model's own; empty leaves the list's hint.
    void setTipMaker(std::function<QString(const QModelIndex&)> make) {
        m_makeTip = std::move(make);
    }
    QString tipFor(const QModelIndex& index) const;

signals:
    // After the view's own handling, so the first click has already selected the line.
    void doubleClickedAnywhere();
    void deletePressed();
    void mouseMoved(const QPoint& point);
    // Any button, before the view's own handling.
    void mousePressed();
    // The left button went down on an item, after the view has selected it.
    void itemPressed();
    void mouseReleased();
    void filesDropped(const QStringList& paths);

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    bool viewportEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class FrameOverlay;
    // The header's free area right of the column is painted in the window colour, which
    // the main window makes white; it takes the colour of the column's own header instead.
    void matchHeaderArea();
    bool takesFileDropsNow() const { return m_acceptsFileDrops && !(m_dropsHeld && m_dropsHeld()); }

    bool m_acceptsFileDrops = false;
    std::function<bool()> m_dropsHeld;
    bool m_carriesItems = false;
    QWidget* m_frameOverlay = nullptr;
    std::function<QString(const QModelIndex&)> m_makeTip;
};

} // namespace varnel

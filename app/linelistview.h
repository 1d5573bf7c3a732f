#pragma once

#include <QAbstractItemView>
#include <QHeaderView>
#include <QStringList>

#include <functional>
#include <optional>

namespace varnel {

// A one-column list that only shows a LineListModel: a header whose divider the user
// drags, rows of one fixed height. Every row's place follows from its number, so the view
// keeps nothing per row: a table's vertical header (even hidden) keeps eight bytes a row,
// a list view two ints, which at ten million lines outweighs the text itself.
class LineListView : public QAbstractItemView {
    Q_OBJECT
public:
    explicit LineListView(QWidget* parent = nullptr);
    ~LineListView() override;

    QHeaderView* header() const { return m_header; }
    int rowHeight() const { return m_rowHeight; }

    void setModel(QAbstractItemModel* model) override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    int sizeHintForColumn(int column) const override;
    void reset() override;

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
    // What a screen reader gives as an item's description, in place of the model's own.
    void setDescriptionMaker(std::function<QString(const QModelIndex&)> make) {
        m_makeDescription = std::move(make);
    }
    QString descriptionFor(const QModelIndex& index) const;

signals:
    // After the view's own handling, so the first click has already selected the line.
    void doubleClickedAnywhere();
    // Delete or Backspace.
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
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void initViewItemOption(QStyleOptionViewItem* option) const override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int first, int last) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles) override;
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
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class FrameOverlay;
    // The header's free area right of the column is painted in the window colour, which
    // the main window makes white; it takes the colour of the column's own header instead.
    void matchHeaderArea();
    int lineHeight() const;
    // What a model's change of row count leaves to do here: the scroll range and a repaint.
    void rowCountChanged();
    // The row at a height of the viewport, past the ends as well: below 0 above the first.
    qint64 rowAtY(int y) const;
    // Widens the column to what its visible rows and caption need (a divider's double-click).
    void fitColumn();
    bool takesFileDropsNow() const { return m_acceptsFileDrops && !(m_dropsHeld && m_dropsHeld()); }

    QHeaderView* m_header = nullptr;
    int m_rowHeight = 1;
    bool m_inGeometryUpdate = false;
    QList<QMetaObject::Connection> m_modelConnections;
    bool m_acceptsFileDrops = false;
    std::function<bool()> m_dropsHeld;
    bool m_carriesItems = false;
    QWidget* m_frameOverlay = nullptr;
    std::function<QString(const QModelIndex&)> m_makeTip;
    std::function<QString(const QModelIndex&)> m_makeDescription;
};

} // namespace varnel

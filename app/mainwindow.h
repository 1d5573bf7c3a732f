#pragma once

#include "commands/windowstate.h"
#include "qtuserinterface.h"
#include "skinframework.h"

#include "commands/dropping.h"
#include "commands/reordering.h"

#include <QCursor>
#include <QRect>
#include <QWidget>

#include <memory>
#include <optional>

class QPushButton;
class QScrollArea;

namespace varnel {

class LineListView;
class ProgressPanel;
class ListKeys;
class ScrollMarks;

// The one window: two lists and ten buttons at fixed places. It only wires events to the
// commands, which work on WindowState.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // `ui` replaces the real dialogs (tests script it); `applicationFolder` is where the
    // optional pointer and skin files are looked up (by default varnel::applicationFolder()).
    explicit MainWindow(UserInterface* ui = nullptr, QString applicationFolder = {},
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    WindowState& state() { return *m_state; }
    LineListView* inputView() const { return m_inputView; }
    LineListView* resultsView() const { return m_resultsView; }
    ProgressPanel* progressPanel() const { return m_progressPanel; }
    ListKeys* listKeys() const { return m_keys; }
    ScrollMarks* scrollMarks() const { return m_scrollMarks; }
    QPushButton* button(const char* name) const;
    const QString& applicationFolder() const { return m_applicationFolder; }
    bool hasCustomPointerImage() const { return m_customPointer.has_value(); }
    SkinFramework& skin() { return m_skin; }
    // Loads files named on the command line into the input list, as "Load Text From File"
    // loads picked ones.
    void loadFiles(const QStringList& paths);

    // Twips to pixels: 15 twips a pixel at 96 dots per inch; Qt scales for other screens.
    static constexpr int twips(int value) { return (value + 7) / 15; }

    // Where the window's frame goes on first showing: centred on the screen's free area,
    // except that a window taller than that area keeps its title bar at the area's top, where
    // it can still be grabbed (a window the area cannot hold is shrunk to it before).
    static QRect placeOnScreen(QRect frame, const QRect& available);

    // One command button: a row of the table the window is built from.
    struct ButtonEntry {
        const char* name;
        const char* caption;
        QRect twips;
        void (*command)(WindowState&);
    };

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend void startUp(MainWindow& window);
    friend void applySkin(MainWindow& window);

    LineListView* makeList(const QString& name, int left, int top, const QString& hint);
    void makeButton(const ButtonEntry& entry);
    // Delete key or double-click: the list's selected item goes.
    void connectRemoval(LineListView* view, void (LineListView::*request)(), LineListModel& list);
    template <typename Handler> void runHandler(Handler&& handler);
    void takeDrop(const QStringList& paths);
    void showPointer(Pointer pointer);
    void wireInputList();
    // Ctrl+Z takes the last change back; Ctrl+Shift+Z and Ctrl+Y do it again.
    void wireUndo();
    // Where the fixed size does not fit `available`, the window takes what fits and scrolls
    // its layout.
    void fitInto(const QRect& available);
    // Fits and places the window again once the window manager has told its frame's size.
    void fitWithFrame();
    // Selects the input line the result came from, with the line below it in view.
    void showLineOf(const QModelIndex& result);

    std::unique_ptr<QtUserInterface> m_ownUi;
    std::unique_ptr<WindowState> m_state;
    QString m_applicationFolder;
    SkinFramework m_skin;
    std::optional<QCursor> m_customPointer;
    LineListView* m_inputView = nullptr;
    LineListView* m_resultsView = nullptr;
    ProgressPanel* m_progressPanel = nullptr;
    int m_handlersRunning = 0;
    bool m_centred = false;
    bool m_fittedWithFrame = false;
    DragReorder m_reorder;
    DropQueue m_drops;
    bool m_dragStep = false;
    ListKeys* m_keys = nullptr;
    ScrollMarks* m_scrollMarks = nullptr;
    QScrollArea* m_scrollArea = nullptr;
};

void startUp(MainWindow& window);
void applySkin(MainWindow& window);

} // namespace varnel

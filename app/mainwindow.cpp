#include "mainwindow.h"

#include "focusring.h"
#include "itemtip.h"
#include "lists/ordermarks.h"
#include "scrollmarks.h"

#include "core/applicationfolder.h"
#include "core/failure.h"
#include "linelistview.h"
#include "listkeys.h"
#include "progresspanel.h"
#include "resultdrawing.h"

#include "commands/copying.h"
#include "commands/correctorder.h"
#include "commands/editing.h"
#include "commands/exporting.h"
#include "commands/extracting.h"
#include "commands/loading.h"
#include "commands/saving.h"
#include "commands/undoing.h"
#include "output/officeautomationprovider.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QImageReader>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QToolTip>

#include <algorithm>

namespace varnel {

namespace {

// Read anew on every press, as a replaced file should show at once. An icon's hot spot is
// its centre.
QCursor loadDragPointer(const QString& path) {
    QImageReader reader(path, "ico");
    const QImage image = reader.read();
    if (image.isNull())
        return QCursor(Qt::ClosedHandCursor);
    return QCursor(QPixmap::fromImage(image));
}

// The buttons in tab order: object name (a skin may select on it), caption, place in
// twips (left, top, width, height), command.
// clang-format off
const MainWindow::ButtonEntry Buttons[] = {
    {"PushButton1",  "Add One Item",               { 120, 2280, 3840, 405}, addOneItem},
    {"PushButton4",  "Load Text From File",        {4080, 2280, 3840, 405}, loadTextFiles},
    {"PushButton3",  "Clear List",                 { 120, 2790, 3840, 405}, clearInputList},
    {"PushButton7",  "Start Extracting Lines",     { 120, 3300, 7800, 405}, extractOutOfOrderLines},
    {"PushButton6",  "Save Results As Text File",  { 120, 6480, 3840, 405}, saveResultsAsText},
    {"PushButton2",  "Save Results As Excel File", {4080, 6480, 3840, 405}, exportResultsToSpreadsheet},
    {"PushButton9",  "Clear List",                 {4080, 6990, 3840, 405}, clearResultsList},
    {"PushButton8",  "Copy Results To Clipboard",  { 120, 6990, 3840, 405}, copyResultsToClipboard},
    {"PushButton11", "Load Sample/Example Data",   {4080, 2790, 3840, 405}, loadSampleData},
    {"PushButton5",  "Show Correct Order",         { 120, 3810, 7800, 405}, showCorrectOrder},
};
// clang-format on

// A window of its own to a screen reader, a frame, as a main window is: a plain widget reads
// as a filler.
QAccessibleInterface* makeWindowAccess(const QString& className, QObject* object) {
    auto* window = qobject_cast<MainWindow*>(object);
    if (!window || className != QLatin1String(MainWindow::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(window, QAccessible::Window);
}

// A tooltip's text as large as the screen the list is on can show whole: the window system
// would otherwise push a taller tip's start above the screen's top.
TipRoom tipRoom(const QWidget* list) {
    const QScreen* screen = list->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
    const QFontMetrics font(QToolTip::font());
    TipRoom room;
    room.columns =
        std::clamp<qsizetype>((area.width() - 32) / font.horizontalAdvance(u'M'), 20, 100);
    room.rows = std::max<qsizetype>(4, (area.height() - 32) / font.lineSpacing());
    return room;
}

QFont arial(qreal points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

} // namespace

MainWindow::MainWindow(UserInterface* ui, QString applicationFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
    , m_applicationFolder(applicationFolder.isEmpty() ? varnel::applicationFolder()
                                                      : std::move(applicationFolder)) {
    if (!ui) {
        m_ownUi = std::make_unique<QtUserInterface>(this);
        ui = m_ownUi.get();
    }
    m_state = std::make_unique<WindowState>(*ui);
    // The office takes a while to start; the window keeps answering meanwhile.
    m_state->setAutomationProvider(std::make_unique<OfficeAutomationProvider>(
        // Asked every few milliseconds: each ask is a turn, never one in many.
        [this] { m_state->pump().yieldNow(); },
        [this](const std::function<void()>& work) { m_state->pump().waitAside(work); }));
    if (m_ownUi)
        m_ownUi->setAfterModal([this] { m_state->pump().checkAlive(); });
    connect(m_state.get(), &WindowState::pointerChanged, this, &MainWindow::showPointer);
    // Clicks are not taken while a long sort runs aside; the hourglass says why. Over the
    // window's own pointer, which stays what the commands set.
    m_state->pump().setAsideIndicator([](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });

    static const bool accessInstalled = [] {
        QAccessible::installFactory(makeWindowAccess);
        return true;
    }();
    Q_UNUSED(accessInstalled);
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(twips(8040), twips(7515));
    setFont(arial(9));
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setMouseTracking(true);

    // Created in tab order.
    m_inputView = makeList(QStringLiteral("ListView1"), 120, 120,
                           QStringLiteral("Drag and drop files here. Double-click item to remove "
                                          "it. Move | line to right and out of window to reveal "
                                          "full names."));
    m_inputView->setModel(&m_state->input());
    m_resultsView = makeList(QStringLiteral("ListView2"), 120, 4320,
                             QStringLiteral("Double-click item to remove it. Move | line to right "
                                            "and out of window to reveal full names."));
    m_resultsView->setModel(&m_state->results());
    // On selection, not on the current row: the list's focus makes its first row current
    // without choosing it, and that must not move the input list.
    connect(m_resultsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) {
                if (!selected.isEmpty())
                    runHandler([&] { showLineOf(selected.indexes().first()); });
            });

    for (const ButtonEntry& entry : Buttons)
        makeButton(entry);
    // Both read "Clear List"; a screen reader tells them apart by what they empty.
    button("PushButton3")->setAccessibleDescription(QStringLiteral("Clears the input list"));
    button("PushButton9")->setAccessibleDescription(QStringLiteral("Clears the results list"));

    // Last, over the lists it covers while it shows.
    m_progressPanel =
        new ProgressPanel(m_state->progress(), m_state->pump(), m_inputView, m_resultsView, this);

    m_inputView->setTipMaker([this](const QModelIndex& index) {
        return itemTip(*m_state, m_state->input(), index, m_inputView->toolTip(),
                       tipRoom(m_inputView));
    });
    m_resultsView->setTipMaker([this](const QModelIndex& index) {
        return itemTip(*m_state, m_state->results(), index, m_resultsView->toolTip(),
                       tipRoom(m_resultsView));
    });

    m_resultsView->setDescriptionMaker(
        [this](const QModelIndex& index) { return itemNote(*m_state, m_state->results(), index); });

    connectRemoval(m_inputView, &LineListView::deletePressed, m_state->input());
    connectRemoval(m_inputView, &LineListView::doubleClickedAnywhere, m_state->input());
    connectRemoval(m_resultsView, &LineListView::deletePressed, m_state->results());
    connectRemoval(m_resultsView, &LineListView::doubleClickedAnywhere, m_state->results());
    connect(m_resultsView, &LineListView::mouseMoved, this,
            [this] { m_state->hoverOverBackgroundOrList(); });
    wireInputList();
    wireUndo();
    m_keys = new ListKeys(
        *m_state, m_inputView, m_resultsView, button("PushButton1"),
        [this](const std::function<void()>& handler) { runHandler(handler); }, this);
    wireResultDrawing(*m_state, m_inputView, m_resultsView);
    m_scrollMarks = addScrollMarks(*m_state, m_inputView);
    // Clicking the selected result again brings the input back to its line.
    connect(m_resultsView, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& result) { runHandler([&] { showLineOf(result); }); });

    startUp(*this);
}

MainWindow::~MainWindow() {
    // The views must let go of the models before the state that owns them goes.
    m_inputView->setModel(nullptr);
    m_resultsView->setModel(nullptr);
    // It lets go of the pump the state owns, so it goes before the state.
    delete m_progressPanel;
}

LineListView* MainWindow::makeList(const QString& name, int left, int top, const QString& hint) {
    auto* view = new LineListView(this);
    view->setObjectName(name);
    view->setGeometry(twips(left), twips(top), twips(7800), twips(2070));
    view->setToolTip(hint);
    return view;
}

void MainWindow::makeButton(const ButtonEntry& entry) {
    auto* button = new FocusRingButton(QString::fromLatin1(entry.caption), this);
    button->setObjectName(QString::fromLatin1(entry.name));
    const QRect& r = entry.twips;
    button->setGeometry(twips(r.x()), twips(r.y()), twips(r.width()), twips(r.height()));
    button->setFont(arial(11.25));
    button->setMouseTracking(true);
    button->installEventFilter(this);
    connect(button, &QPushButton::clicked, this,
            [this, command = entry.command] { runHandler([&] { command(*m_state); }); });
}

void MainWindow::connectRemoval(LineListView* view, void (LineListView::*request)(),
                                LineListModel& list) {
    connect(view, request, this, [this, view, &list] {
        runHandler([&] { removeSelectedItem(*m_state, list, view->selectedPosition()); });
    });
}

void MainWindow::wireInputList() {
    LineListView* view = m_inputView;
    view->setAcceptsFileDrops(true);
    // A drop is no user input to the event loop, so it would otherwise start its folder
    // walk while "Show Correct Order" still sorts.
    view->setFileDropsHeld([this] { return m_state->pump().isRunningAside(); });
    view->setCarriesItems(true);
    connect(view, &LineListView::mousePressed, this, [this] {
        // A drag, however many lines it trades, is taken back as one step.
        if (!std::exchange(m_dragStep, true))
            m_state->history().beginStep();
        runHandler([this] { m_reorder.press(); });
    });
    connect(view, &LineListView::itemPressed, this, [this] {
        runHandler([this] {
            m_inputView->viewport()->setCursor(
                loadDragPointer(m_applicationFolder + QStringLiteral("/drag.ico")));
            m_reorder.pickUp(m_state->input(), m_inputView->selectedPosition());
        });
    });
    connect(view, &LineListView::mouseMoved, this, [this](const QPoint& point) {
        runHandler([this, point] {
            const ReorderView shown =
                m_reorder.carryTo(*m_state, m_inputView->positionAt(point), point.y(),
                                  m_inputView->viewport()->height());
            if (shown.select)
                m_inputView->selectPosition(*shown.select);
            if (shown.reveal)
                m_inputView->revealPosition(*shown.reveal);
        });
    });
    connect(view, &LineListView::mouseReleased, this, [this] {
        runHandler([this] {
            m_reorder.release();
            // Back to no pointer of the list's own: the arrow, or the window's hourglass
            // while a command works.
            m_inputView->viewport()->unsetCursor();
        });
        if (std::exchange(m_dragStep, false))
            m_state->history().endStep();
    });
    // Queued: the file manager waits for the drop event to return, and a large tree
    // should not keep it waiting.
    connect(
        view, &LineListView::filesDropped, this,
        [this](const QStringList& paths) { takeDrop(paths); }, Qt::QueuedConnection);
}

void MainWindow::wireUndo() {
    const auto undo = [this] { runHandler([this] { undoEdit(*m_state, m_drops.running); }); };
    const auto redo = [this] { runHandler([this] { redoEdit(*m_state, m_drops.running); }); };
    connect(new QShortcut(QKeySequence::Undo, this), &QShortcut::activated, this, undo);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this),
            &QShortcut::activated, this, redo);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y), this), &QShortcut::activated, this,
            redo);
}

void MainWindow::takeDrop(const QStringList& paths) {
    // A drop taken just before "Show Correct Order" began arrives while it sorts: it waits.
    if (m_state->pump().isRunningAside()) {
        m_state->pump().afterAside(this, [this, paths] { takeDrop(paths); });
        return;
    }
    runHandler([this, &paths] { addDroppedPaths(*m_state, m_drops, paths); });
}

void MainWindow::showLineOf(const QModelIndex& result) {
    if (!result.isValid())
        return;
    const std::optional<qsizetype> line = m_state->links().inputPosition(result.row() + 1);
    if (!line) {
        // No input line is this result's: none may look like it.
        m_inputView->clearSelection();
        return;
    }
    // The line below first, then the line itself: the pair it was found in ends up in view
    // whichever way the list had to scroll.
    if (*line < m_state->input().count())
        m_inputView->revealPosition(*line + 1);
    m_inputView->selectPosition(*line);
    m_inputView->revealPosition(*line);
}

QPushButton* MainWindow::button(const char* name) const {
    return findChild<QPushButton*>(QString::fromLatin1(name));
}

template <typename Handler> void MainWindow::runHandler(Handler&& handler) {
    // Nothing may cross back into Qt: a closed window unwinds the command to here, and
    // anything a handler did not foresee is still reported rather than ending the program.
    if (++m_handlersRunning == 1 && m_scrollMarks)
        m_scrollMarks->marks().setPaused(true);
    const auto done = qScopeGuard([this] {
        if (--m_handlersRunning == 0 && m_scrollMarks)
            m_scrollMarks->marks().setPaused(false);
    });
    // What it changes in the lists is one step of the edit history.
    const EditHistory::Scope step(m_state->history());
    try {
        handler();
    } catch (const ProgramEnding&) {
    } catch (const CommandCancelled&) {
    } catch (const Failure& failure) {
        m_state->ui().showMessage(failure.description(), QStringLiteral("Application Error"),
                                  MessageIcon::Warning);
    } catch (const std::exception& other) {
        m_state->ui().showMessage(QString::fromLocal8Bit(other.what()),
                                  QStringLiteral("Application Error"), MessageIcon::Warning);
    }
    // A command that did not get to its summary shows no progress either. Handlers also run
    // inside a command's yields; only the outermost one has seen it end.
    if (m_handlersRunning == 1 && m_state->progress().isRunning())
        m_state->progress().clear();
}

void MainWindow::loadFiles(const QStringList& paths) {
    runHandler([this, &paths] { loadPickedFiles(*m_state, paths); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The background's own moves, once the layout scrolls inside the window.
    if (m_scrollArea && watched == m_scrollArea->widget() && event->type() == QEvent::MouseMove) {
        const auto* move = static_cast<QMouseEvent*>(event);
        if (!m_scrollArea->widget()->childAt(move->position().toPoint()))
            m_state->hoverOverBackgroundOrList();
    }
    auto* button = qobject_cast<QPushButton*>(watched);
    if (event->type() == QEvent::MouseMove && button)
        m_state->hoverOverButton();
    // Enter presses the button that has the focus, as Space does: Qt leaves that to dialogs.
    if (event->type() == QEvent::KeyPress && button) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat()) {
            button->animateClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    // A button passes moves it does not use on to its parent; only the background's own
    // moves count here.
    if (!childAt(event->position().toPoint()))
        m_state->hoverOverBackgroundOrList();
    QWidget::mouseMoveEvent(event);
}

void MainWindow::showPointer(Pointer pointer) {
    switch (pointer) {
    case Pointer::Default:
        unsetCursor();
        break;
    case Pointer::Arrow:
        setCursor(Qt::ArrowCursor);
        break;
    case Pointer::Hourglass:
        setCursor(Qt::WaitCursor);
        break;
    case Pointer::Custom:
        if (m_customPointer)
            setCursor(*m_customPointer);
        else
            unsetCursor();
        break;
    }
}

QRect MainWindow::placeOnScreen(QRect frame, const QRect& available) {
    frame.moveCenter(available.center());
    if (frame.height() > available.height())
        frame.moveTop(available.top());
    if (frame.width() > available.width())
        frame.moveLeft(available.left());
    return frame;
}

void MainWindow::fitInto(const QRect& available) {
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize room = available.size() - frame;
    if (width() <= room.width() && height() <= room.height())
        return;
    // Too large for the screen at its scale: the window shrinks to the screen and its fixed
    // layout scrolls inside it, so every control can still be reached, by the keyboard too.
    if (m_scrollArea) {
        setFixedSize(std::min(width(), room.width()), std::min(height(), room.height()));
        m_scrollArea->setGeometry(rect());
        return;
    }
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("WindowContent"));
    content->setFixedSize(size());
    content->setMouseTracking(true);
    content->setAutoFillBackground(true);
    content->installEventFilter(this);
    const QList<QWidget*> controls = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* control : controls) {
        if (control->isWindow())
            continue;
        const bool hidden = control->isHidden();
        control->setParent(content);
        control->setVisible(!hidden);
    }
    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("WindowScroll"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setFocusPolicy(Qt::NoFocus);
    m_scrollArea->setWidget(content);
    setFixedSize(std::min(width(), room.width()), std::min(height(), room.height()));
    m_scrollArea->setGeometry(rect());
    m_scrollArea->show();
    connect(qApp, &QApplication::focusChanged, m_scrollArea,
            [this, content](QWidget*, QWidget* now) {
                if (now && content->isAncestorOf(now))
                    m_scrollArea->ensureWidgetVisible(now, 0, 0);
            });
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        if (const QScreen* screen = this->screen()) {
            fitInto(screen->availableGeometry());
            move(placeOnScreen(frameGeometry(), screen->availableGeometry()).topLeft());
        }
    }
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    fitWithFrame();
}

void MainWindow::fitWithFrame() {
    // At the first showing the frame a window manager adds is not known yet: the window was
    // fitted to the screen without it, and may reach past the screen's bottom by its title
    // bar's height.
    if (!m_centred || m_fittedWithFrame || frameGeometry().size() == geometry().size())
        return;
    m_fittedWithFrame = true;
    const QScreen* screen = this->screen();
    if (!screen || screen->availableGeometry().contains(frameGeometry()))
        return;
    fitInto(screen->availableGeometry());
    move(placeOnScreen(frameGeometry(), screen->availableGeometry()).topLeft());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the window ends the program at once, in the middle of a command too: every
    // yield from here on unwinds its command, and every other window goes with this one.
    m_state->pump().endProgram();
    event->accept();
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other != this && other->isVisible())
            other->close();
    }
    QCoreApplication::exit(0);
}

} // namespace varnel

#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "commands/editing.h"
#include "core/errorreport.h"
#include "tests/support/fakeoffice.h"
#include "tests/support/modaldialogs.h"
#include "tests/support/testfiles.h"

#include <QAccessible>
#include <QApplication>
#include <QDeadlineTimer>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolTip>

#include <atomic>

using namespace varnel;
using namespace varnel::testing;

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void windowAndLists();
    void screenReadersNameEveryControl();
    void startupFiles_data();
    void startupFiles();
    void sampleThroughTheButtons();
    void clicksDuringALongSortAreNotTaken();
    void clicksWhileTheOfficeWorks_data();
    void clicksWhileTheOfficeWorks();
    void deleteKeyAndDoubleClick();
    void hoverRules();
    void placeOnScreen_data();
    void placeOnScreen();
    void headerAreaFollowsThePalette();
    void itemTips_data();
    void itemTips();
    void realMessageBox_data();
    void realMessageBox();
    void realInputDialog();

private:
    QTemporaryDir m_folder; // an application folder without optional files
};

// The window as a person reads it, row by row from the top: each row's controls from left
// to right, and the control of the row above.
void TestMainWindow::layout_data() {
    QTest::addColumn<QStringList>("controls");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QString>("below");
    const auto row = [](const char* name, QStringList controls, QStringList captions,
                        const char* below) {
        QTest::newRow(name) << controls << captions << QString::fromLatin1(below);
    };
    row("input list", {"ListView1"}, {""}, "");
    row("add, load", {"PushButton1", "PushButton4"}, {"Add One Item", "Load Text From File"},
        "ListView1");
    row("clear, sample", {"PushButton3", "PushButton11"},
        {"Clear List", "Load Sample/Example Data"}, "PushButton1");
    row("extract", {"PushButton7"}, {"Start Extracting Lines"}, "PushButton3");
    row("correct order", {"PushButton5"}, {"Show Correct Order"}, "PushButton7");
    row("results list", {"ListView2"}, {""}, "PushButton5");
    row("save, spreadsheet", {"PushButton6", "PushButton2"},
        {"Save Results As Text File", "Save Results As Excel File"}, "ListView2");
    row("copy, clear", {"PushButton8", "PushButton9"}, {"Copy Results To Clipboard", "Clear List"},
        "PushButton6");
}

void TestMainWindow::layout() {
    QFETCH(QStringList, controls);
    QFETCH(QStringList, captions);
    QFETCH(QString, below);
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    QCOMPARE(window.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly).size(), 10);
    const QRect inputList = window.inputView()->geometry();
    const QRect inside = window.rect().adjusted(5, 5, -5, -5);
    QRect last;
    for (qsizetype i = 0; i < controls.size(); ++i) {
        auto* control = window.findChild<QWidget*>(controls[i]);
        QVERIFY2(control, qPrintable(controls[i]));
        const QRect place = control->geometry();
        QVERIFY(inside.contains(place));
        if (i == 0) {
            QCOMPARE(place.left(), inputList.left()); // one left edge for the whole window
        } else {
            QCOMPARE(place.top(), last.top());
            QCOMPARE(place.height(), last.height());
            QVERIFY(place.left() > last.right());
        }
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            QCOMPARE(button->text(), captions[i]);
        }
        last = place;
    }
    QCOMPARE(last.right(), inputList.right()); // and one right edge
    if (!below.isEmpty())
        QVERIFY(last.top() > window.findChild<QWidget*>(below)->geometry().bottom());
}

void TestMainWindow::windowAndLists() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    QCOMPARE(window.windowTitle(), QStringLiteral("Varnel Software"));
    QCOMPARE(window.state().applicationTitle(), QStringLiteral("Varnel"));
    QCOMPARE(window.size(), QSize(536, 501));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(ui.messages.isEmpty()); // the palette and pointer: see startupFiles
    for (auto [view, header] : {std::pair{window.inputView(), "Lines Of Text"},
                                std::pair{window.resultsView(), "Results"}}) {
        QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(),
                 QString::fromLatin1(header));
        QCOMPARE(view->header()->sectionSize(0), MainWindow::twips(7000));
        QVERIFY(!view->header()->isHidden());
        QCOMPARE(view->accessibleName(), QString::fromLatin1(header)); // for screen readers
    }
    // Both read "Clear List"; the description tells them apart.
    QCOMPARE(window.button("PushButton3")->accessibleDescription(),
             QStringLiteral("Clears the input list"));
    QCOMPARE(window.button("PushButton9")->accessibleDescription(),
             QStringLiteral("Clears the results list"));
    QVERIFY(window.inputView()->toolTip().startsWith(QStringLiteral("Drag and drop files here.")));
    // Tab order follows creation: the two lists, then the buttons.
    QStringList tabOrder;
    QWidget* w = window.inputView();
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            tabOrder.append(w->objectName());
        w = w->nextInFocusChain();
    } while (w != window.inputView());
    QCOMPARE(tabOrder, (QStringList{"ListView1", "ListView2", "PushButton1", "PushButton4",
                                    "PushButton3", "PushButton7", "PushButton6", "PushButton2",
                                    "PushButton9", "PushButton8", "PushButton11", "PushButton5"}));
}

// The window reads as a frame, and nothing a person can press or type in is nameless:
// an arrow or an empty field says nothing read out.
void TestMainWindow::screenReadersNameEveryControl() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&window);
    QCOMPARE(frame->role(), QAccessible::Window);
    QCOMPARE(frame->text(QAccessible::Name), QStringLiteral("Varnel Software"));
    int controls = 0;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!qobject_cast<QAbstractButton*>(widget) && !qobject_cast<QLineEdit*>(widget) &&
            !qobject_cast<LineListView*>(widget))
            continue;
        ++controls;
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
        QVERIFY2(!control->text(QAccessible::Name).isEmpty(),
                 qPrintable(widget->metaObject()->className() + widget->objectName()));
    }
    QCOMPARE(controls, 2 + 10 + 1 + 3); // lists, buttons, Cancel, the find popup's three
}

void TestMainWindow::startupFiles_data() {
    QTest::addColumn<QByteArray>("pointer"); // empty: no file
    QTest::addColumn<QByteArray>("skin");    // empty: no file; "unreadable": mode 000
    QTest::addColumn<QStringList>("reportLines");
    QTest::addColumn<bool>("customPointer");
    QTest::addColumn<bool>("skinned");

    QFile shipped(QCoreApplication::applicationDirPath() + QStringLiteral("/HAND-M.CUR"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QByteArray hand = shipped.readAll();
    const QByteArray sheet = "QPushButton { color: #123456; }";

    QTest::newRow("nothing beside the program")
        << QByteArray() << QByteArray() << QStringList{} << false << false;
    QTest::newRow("shipped hand pointer") << hand << QByteArray() << QStringList{} << true << false;
    QTest::newRow("pointer file that is no picture")
        << QByteArray("not a cursor") << QByteArray() << QStringList{"at line 106"} << false
        << false;
    QTest::newRow("skin") << QByteArray() << sheet << QStringList{} << false << true;
    QTest::newRow("skin that cannot be read")
        << hand << QByteArray("unreadable") << QStringList{"at line 100"} << true << false;
}

void TestMainWindow::startupFiles() {
    QFETCH(QByteArray, pointer);
    QFETCH(QByteArray, skin);
    QFETCH(QStringList, reportLines);
    QFETCH(bool, customPointer);
    QFETCH(bool, skinned);
    QTemporaryDir folder;
    if (!pointer.isEmpty())
        writeFile(folder.filePath(QStringLiteral("HAND-M.CUR")), pointer);
    if (!skin.isEmpty()) {
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("x")));
        const QString path = folder.filePath(QStringLiteral("x/o.cjs"));
        writeFile(path, skin);
        if (skin == "unreadable") {
            if (geteuid() == 0)
                QSKIP("root reads every file; an unreadable skin cannot be made here");
            QFile::setPermissions(path, QFileDevice::Permissions());
        }
    }
    ScriptedUserInterface ui;
    MainWindow window(&ui, folder.path());
    const QStringList reports = errorReports(ui);
    QCOMPARE(reports.size(), reportLines.size());
    for (int i = 0; i < reports.size(); ++i) {
        QVERIFY(reports[i].contains(QStringLiteral("in Varnel2021/08/31.Form1.Form_Load ") +
                                    reportLines[i] + QStringLiteral("\r\r")));
    }
    QCOMPARE(window.hasCustomPointerImage(), customPointer);
    QCOMPARE(!window.styleSheet().isEmpty(), skinned);
    const bool buttonFace = window.palette().color(QPalette::Window) != QColor(Qt::white);
    QCOMPARE(buttonFace, !skin.isEmpty());
    // The caption and headers come after the skin and pointer, whatever they did.
    QCOMPARE(window.windowTitle(), QStringLiteral("Varnel Software"));
    QCOMPARE(window.state().results().columnCaption(1), QStringLiteral("Results"));
}

void TestMainWindow::sampleThroughTheButtons() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Regression: Enter on the focused button did nothing; only Space pressed it.
    QApplication::setActiveWindow(&window);
    window.button("PushButton11")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window.button("PushButton11"), Qt::Key_Return);
    QTRY_COMPARE(itemsOf(window.state().input()), sampleLines());
    QTest::mouseClick(window.button("PushButton7"), Qt::LeftButton);
    QCOMPARE(itemsOf(window.state().results()), QStringList{QStringLiteral("Jolene Sarrow")});
    QCOMPARE(ui.messageTexts(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(ui.messages.first().title, QStringLiteral("Varnel"));
    QTest::mouseClick(window.button("PushButton5"), Qt::LeftButton);
    QStringList sorted = sampleLines();
    sorted.move(2, 1); // Dorian before Jolene; the rest are in order already
    QCOMPARE(itemsOf(window.state().results()), sorted);
    QCOMPARE(window.resultsView()->model()->rowCount(), 10);
    QTest::mouseClick(window.button("PushButton9"), Qt::LeftButton);
    QCOMPARE(window.state().results().count(), 0);
    QTest::mouseClick(window.button("PushButton3"), Qt::LeftButton);
    QCOMPARE(window.state().input().count(), 0);
}

// Regression: clicks held back during the sort ran the moment it ended ("Clear List" then
// emptied a list the user had just asked to see in order).
void TestMainWindow::clicksDuringALongSortAreNotTaken() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QStringList lines;
    for (int i = 0; i < 30000; ++i)
        lines.append(QString::number(30000 - i)); // enough to be sorted aside
    window.state().input().appendBatch(lines);
    bool clicked = false;
    // The first turn of the event loop after the click is the wait for the sort.
    QTimer::singleShot(0, &window, [&] {
        QTest::mouseClick(window.button("PushButton3"), Qt::LeftButton);
        QTest::keyClick(window.inputView(), Qt::Key_Delete);
        clicked = true;
    });
    QTest::mouseClick(window.button("PushButton5"), Qt::LeftButton);
    QVERIFY(clicked);
    QCOMPARE(window.state().results().count(), 30000);
    QCoreApplication::processEvents();
    QCOMPARE(window.state().input().count(), 30000);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestMainWindow::clicksWhileTheOfficeWorks_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QStringList>("messages");
    const QStringList input{"b", "a"};
    const QStringList results{"x", "y"};
    QTest::newRow("Load Sample/Example Data")
        << QByteArray("PushButton11") << input + sampleLines() << results << QStringList{};
    QTest::newRow("Start Extracting Lines")
        << QByteArray("PushButton7") << input << QStringList{"b"} << QStringList{"Done."};
    QTest::newRow("Clear List") << QByteArray("PushButton9") << input << QStringList{}
                                << QStringList{};
    // A second office session is not begun beside the first: the window says why.
    QTest::newRow("Save Results As Excel File")
        << QByteArray("PushButton2") << input << results
        << QStringList{"The results are still being exported to the spreadsheet. Please try "
                       "again once the export is done."};
}

// While the office makes the new document (on a thread aside), a click does what it does
// between two rows of the export, or is answered: it is never dropped. The sheet gets the
// results as they were when the export began.
void TestMainWindow::clicksWhileTheOfficeWorks() {
    QFETCH(QByteArray, button);
    QFETCH(QStringList, input);
    QFETCH(QStringList, results);
    QFETCH(QStringList, messages);
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    OfficeRecord office;
    std::atomic<bool> waiting = false;
    std::atomic<bool> clicked = false;
    office.working = [&](const char* call) {
        if (qstrcmp(call, "workbooksAdd") != 0 || clicked)
            return;
        waiting = true;
        QDeadlineTimer deadline(10000);
        while (!clicked && !deadline.hasExpired())
            QThread::yieldCurrentThread();
    };
    window.state().setAutomationProvider(std::make_unique<FakeOffice>(office));
    window.state().input().appendBatch({"b", "a"});
    window.state().results().appendBatch({"x", "y"});
    QTimer click;
    connect(&click, &QTimer::timeout, &window, [&] {
        if (!waiting)
            return;
        click.stop();
        QTest::mouseClick(window.button(button.constData()), Qt::LeftButton);
        clicked = true;
    });
    click.start(1);
    QTest::mouseClick(window.button("PushButton2"), Qt::LeftButton);
    QVERIFY(clicked);
    QCOMPARE(office.values, (QStringList{"x", "y"}));
    QCOMPARE(office.shown, 1);
    QCOMPARE(itemsOf(window.state().input()), input);
    QCOMPARE(itemsOf(window.state().results()), results);
    QCOMPARE(ui.messageTexts(), messages);
    QCOMPARE(errorReports(ui), QStringList{});
}

void TestMainWindow::deleteKeyAndDoubleClick() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.state().input().appendBatch({"1", "2", "3", "4", "5"});
    window.state().results().appendBatch({"a", "b"});
    LineListView* input = window.inputView();
    const QPoint third = input->visualRect(input->model()->index(2, 0)).center();
    QTest::mouseClick(input->viewport(), Qt::LeftButton, {}, third);
    QTest::keyClick(input, Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(itemsOf(window.state().input()), (QStringList{"1", "2", "4", "5"}));
    QTest::keyClick(input, Qt::Key_A); // other keys stay the list's own
    QCOMPARE(window.state().input().count(), 4);

    LineListView* results = window.resultsView();
    const QPoint second = results->visualRect(results->model()->index(1, 0)).center();
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(results->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(itemsOf(window.state().results()), QStringList{"a"});
    QCOMPARE(window.state().input().count(), 4);

    window.state().setPointer(Pointer::Hourglass);
    QTest::keyClick(input, Qt::Key_Delete);
    QCOMPARE(window.state().input().count(), 4);
}

void TestMainWindow::hoverRules() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPushButton* button = window.button("PushButton7");
    const QPoint background(window.width() / 2, MainWindow::twips(4260));
    sendMouseMove(button, button->rect().center());
    QTRY_COMPARE(window.state().pointer(), Pointer::Custom);
    sendMouseMove(&window, background);
    QTRY_COMPARE(window.state().pointer(), Pointer::Default);
    sendMouseMove(button, button->rect().center());
    QTRY_COMPARE(window.state().pointer(), Pointer::Custom);
    sendMouseMove(window.resultsView()->viewport(), {20, 20});
    QTRY_COMPARE(window.state().pointer(), Pointer::Default);

    // The hourglass survives every hover.
    window.state().setPointer(Pointer::Hourglass);
    QCOMPARE(window.cursor().shape(), Qt::WaitCursor);
    sendMouseMove(button, button->rect().center() + QPoint(3, 0));
    sendMouseMove(&window, background + QPoint(3, 0));
    sendMouseMove(window.inputView()->viewport(), {25, 25});
    QCoreApplication::processEvents();
    QCOMPARE(window.state().pointer(), Pointer::Hourglass);
}

void TestMainWindow::placeOnScreen_data() {
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("topLeft");
    const QSize frame(540, 530);
    QTest::newRow("fits: centred") << QRect(0, 0, 1000, 800) << QPoint(230, 135);
    QTest::newRow("fits below a top panel") << QRect(0, 30, 1000, 770) << QPoint(230, 150);
    QTest::newRow("exactly as tall") << QRect(0, 30, 1000, 530) << QPoint(230, 30);
    // A scale of 2 on a small screen: the title bar stays at the top, where it can be grabbed.
    QTest::newRow("taller than the screen") << QRect(0, 30, 1000, 500) << QPoint(230, 30);
    QTest::newRow("taller and wider") << QRect(10, 30, 500, 500) << QPoint(10, 30);
}

void TestMainWindow::placeOnScreen() {
    QFETCH(QRect, available);
    QFETCH(QPoint, topLeft);
    const QRect placed =
        MainWindow::placeOnScreen(QRect(QPoint(-5, -5), QSize(540, 530)), available);
    QCOMPARE(placed.topLeft(), topLeft);
    QCOMPARE(placed.size(), QSize(540, 530));
}

// Regression: at a dark palette the header right of the column stayed white.
void TestMainWindow::headerAreaFollowsThePalette() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    const QColor dark(40, 40, 48);
    QPalette palette = window.resultsView()->palette();
    palette.setColor(QPalette::Button, dark);
    window.resultsView()->setPalette(palette);
    QHeaderView* header = window.resultsView()->header();
    header->resize(window.resultsView()->width(), header->sizeHint().height());
    const QImage image = header->grab().toImage();
    const QColor freeArea = image.pixelColor(image.width() - 4, image.height() / 2);
    QVERIFY2(freeArea.lightness() < 128, qPrintable(freeArea.name()));
}

void TestMainWindow::itemTips_data() {
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<bool>("ofAResult"); // else of the first input line
    QTest::addColumn<QStringList>("contains");
    QTest::addColumn<QStringList>("lacks");
    const QString hint = QStringLiteral("Drag and drop files here.");
    QTest::newRow("pair in order under the collation")
        << QStringList{QStringLiteral("é first"), QStringLiteral("f second")} << true
        << QStringList{QStringLiteral("Line 1 sorts after line 2: \"f second\"\n"
                                      "é sorts after f by code; Show Correct Order puts it with e")}
        << QStringList{};
    QTest::newRow("pair out of order either way")
        << QStringList{"b", "a"} << true << QStringList{QStringLiteral("Line 1 sorts after")}
        << QStringList{QStringLiteral("by code")};
    QTest::newRow("line longer than the screen")
        << QStringList{QString(20000, u'q'), "a"} << false
        << QStringList{QStringLiteral("q\n… (20,000 characters)\n\n") + hint} << QStringList{};
    QTest::newRow("line shown whole")
        << QStringList{"a", "b"} << false << QStringList{} << QStringList{QStringLiteral("a\n")};
}

void TestMainWindow::itemTips() {
    QFETCH(QStringList, input);
    QFETCH(bool, ofAResult);
    QFETCH(QStringList, contains);
    QFETCH(QStringList, lacks);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.state().input().appendBatch(input);
    LineListView* view = window.inputView();
    if (ofAResult) {
        QTest::mouseClick(window.button("PushButton7"), Qt::LeftButton);
        view = window.resultsView();
    }
    const QString tip = view->tipFor(view->model()->index(0, 0));
    for (const QString& part : contains)
        QVERIFY2(tip.contains(part), qPrintable(tip.left(300)));
    for (const QString& part : lacks)
        QVERIFY2(!tip.contains(part), qPrintable(tip.left(300)));
    // A screen reader hears what the tip says of a result, its note too.
    if (ofAResult) {
        QAccessibleInterface* results = QAccessible::queryAccessibleInterface(view);
        const QString description =
            results->tableInterface()->cellAt(0, 0)->text(QAccessible::Description);
        QVERIFY2(description.startsWith(contains.first()), qPrintable(description));
    }
    if (ofAResult || input.first().size() < 2048)
        return;
    // From the line's start, and on the screen whole: no taller, no row of it wider.
    const QStringList rows = tip.split(u'\n');
    QVERIFY(rows.first().startsWith(u'q'));
    if (!tip.contains(QStringLiteral("characters)")))
        QCOMPARE(tip.count(u'q'), input.first().size());
    const QFontMetrics font(QToolTip::font());
    const QRect screen = view->screen()->availableGeometry();
    QVERIFY2(rows.size() * font.lineSpacing() <= screen.height(), qPrintable(tip.left(300)));
    for (const QString& row : rows) {
        if (row.startsWith(u'q'))
            QVERIFY(font.horizontalAdvance(row) <= screen.width());
    }
}

void TestMainWindow::realMessageBox_data() {
    QTest::addColumn<QByteArray>("pointer"); // the pointer file beside the program
    QTest::addColumn<QByteArray>("button");  // then clicked; empty: none
    QTest::addColumn<QString>("shown");
    QTest::newRow("information") << QByteArray() << QByteArray("PushButton7")
                                 << "Varnel|No items added.|no icon|OK";
    // Four rows: the description, where it happened, an empty row, the request.
    QTest::newRow("error report")
        << QByteArray("no picture here") << QByteArray()
        << "Application Error|Invalid picture\nin Varnel2021/08/31.Form1.Form_Load at line 106\n\n"
           "Please email screenshot of this message to " +
               QString::fromUtf16(SupportEmail) + "|warning|OK";
}

void TestMainWindow::realMessageBox() {
    QFETCH(QByteArray, pointer);
    QFETCH(QByteArray, button);
    QFETCH(QString, shown);
    QTemporaryDir folder;
    if (!pointer.isEmpty())
        writeFile(folder.filePath(QStringLiteral("HAND-M.CUR")), pointer);
    QString seen;
    int width = 0, titleWidth = 0;
    const auto answer = std::make_unique<ModalAnswerer>([&](QWidget* box) {
        seen = describeMessageBox(box);
        width = box->width();
        titleWidth = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar"))
                         .horizontalAdvance(box->windowTitle());
        clickButton(box, QStringLiteral("OK"));
    });
    MainWindow window(nullptr, folder.path());
    if (!button.isEmpty()) {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(window.button(button.constData()), Qt::LeftButton);
    }
    QVERIFY(answer->answered());
    QCOMPARE(seen, shown);
    // The title fits beside a title bar's icon and three buttons.
    QVERIFY2(width >= titleWidth + 4 * QtUserInterface::TitleBarButton,
             qPrintable(QStringLiteral("%1 for a title of %2").arg(width).arg(titleWidth)));
    QVERIFY(!window.state().busy());
}

void TestMainWindow::realInputDialog() {
    MainWindow window(nullptr, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ModalAnswerer answer([](QWidget* dialog) {
        auto* input = qobject_cast<QInputDialog*>(dialog);
        QVERIFY(input);
        QCOMPARE(input->windowTitle(), QStringLiteral("Input Item"));
        QCOMPARE(input->labelText(), QStringLiteral("Enter Item: "));
        QCOMPARE(input->textValue(), QString());
        auto* edit = input->findChild<QLineEdit*>();
        QVERIFY(edit);
        // Regression: the line edit cut entries at 32,767 characters without a word.
        edit->setText(QString(40000, u'x'));
        QCOMPARE(edit->text().size(), 40000);
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("  pear  "));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QTest::mouseClick(window.button("PushButton1"), Qt::LeftButton);
    QVERIFY(answer.answered());
    QCOMPARE(itemsOf(window.state().input()), QStringList{QStringLiteral("  pear  ")});

    ModalAnswerer cancel([](QWidget* dialog) { clickButton(dialog, "Cancel"); });
    QTest::mouseClick(window.button("PushButton1"), Qt::LeftButton);
    QVERIFY(cancel.answered());
    QCOMPARE(window.state().input().count(), 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

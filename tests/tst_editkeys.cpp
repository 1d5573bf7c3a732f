#include "app/findpopup.h"
#include "app/linelistview.h"
#include "app/listkeys.h"
#include "app/mainwindow.h"
#include "commands/editing.h"
#include "commands/windowstate.h"
#include "core/commandprogress.h"
#include "core/eventpump.h"
#include "tests/support/scripteduserinterface.h"
#include "tests/support/testfiles.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace varnel;
using namespace varnel::testing;

class TestEditKeys : public QObject {
    Q_OBJECT
private slots:
    void undoAndRedoKeys_data();
    void undoAndRedoKeys();
    void removalKeys_data();
    void removalKeys();
    void altArrowsMoveTheSelectedLine();
    void pasteAddsTheClipboardsLines();
    void pasteAndFindFromAnyFocus_data();
    void pasteAndFindFromAnyFocus();
    void anAddedItemIsSelectedAndShown();
    void findGoesToEachLineHoldingTheText();
    void aLongSearchYieldsAndStops_data();
    void aLongSearchYieldsAndStops();

private:
    QTemporaryDir m_folder;
};

void TestEditKeys::undoAndRedoKeys_data() {
    QTest::addColumn<QKeyCombination>("redoKey");
    QTest::newRow("Ctrl+Y") << (Qt::CTRL | Qt::Key_Y);
    QTest::newRow("Ctrl+Shift+Z") << (Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
}

void TestEditKeys::undoAndRedoKeys() {
    QFETCH(QKeyCombination, redoKey);
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.button("PushButton11")->click();
    LineListView* input = window.inputView();
    input->setFocus();
    input->selectPosition(3);
    QTest::keyClick(input, Qt::Key_Delete);
    const QStringList removed = itemsOf(window.state().input());
    QCOMPARE(removed.size(), sampleLines().size() - 1);

    QTest::keyClick(input, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(itemsOf(window.state().input()), sampleLines());
    QTest::keyClick(input, redoKey.key(), redoKey.keyboardModifiers());
    QCOMPARE(itemsOf(window.state().input()), removed);
    // The sample data was one click, so one step.
    QTest::keyClick(input, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(input, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(window.state().input().count(), 0);
}

void TestEditKeys::removalKeys_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("key");
    QTest::newRow("input, Backspace") << "ListView1" << int(Qt::Key_Backspace);
    QTest::newRow("results, Delete") << "ListView2" << int(Qt::Key_Delete);
    QTest::newRow("results, Backspace") << "ListView2" << int(Qt::Key_Backspace);
}

// As a double-click does: the selected item goes, and only it.
void TestEditKeys::removalKeys() {
    QFETCH(QString, list);
    QFETCH(int, key);
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.state().input().appendBatch({"a", "b", "c"});
    window.state().results().appendBatch({"a", "b", "c"});
    auto* view = window.findChild<LineListView*>(list);
    view->setFocus();
    view->selectPosition(2);
    QTest::keyClick(view, Qt::Key(key));
    QCOMPARE(itemsOf(*qobject_cast<LineListModel*>(view->model())), (QStringList{"a", "c"}));
}

namespace {

bool shows(LineListView* view, qsizetype position) {
    const QRect row = view->visualRect(view->model()->index(int(position - 1), 0));
    return view->viewport()->rect().contains(row);
}

} // namespace

void TestEditKeys::altArrowsMoveTheSelectedLine() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.state().input().appendBatch({"a", "b", "c"});
    LineListView* input = window.inputView();
    input->setFocus();
    input->selectPosition(2);
    QTest::keyClick(input, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(itemsOf(window.state().input()), (QStringList{"a", "c", "b"}));
    QCOMPARE(input->selectedPosition(), 3);
    QTest::keyClick(input, Qt::Key_Up, Qt::AltModifier);
    QTest::keyClick(input, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(itemsOf(window.state().input()), (QStringList{"b", "a", "c"}));
    QCOMPARE(input->selectedPosition(), 1);
    QTest::keyClick(input, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(itemsOf(window.state().input()), (QStringList{"a", "b", "c"}));
}

void TestEditKeys::pasteAddsTheClipboardsLines() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    for (int i = 0; i < 200; ++i)
        window.state().input().append(QString::number(i));
    ui.clipboard = QStringLiteral("pasted one\r\npasted two\n");
    LineListView* input = window.inputView();
    input->setFocus();
    QTest::keyClick(input, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(window.state().input().count(), 202);
    QCOMPARE(window.state().input().text(201), QStringLiteral("pasted one"));
    QCOMPARE(input->selectedPosition(), 202);
    QTRY_VERIFY(shows(input, 202));
}

void TestEditKeys::pasteAndFindFromAnyFocus_data() {
    QTest::addColumn<QStringList>("focused");
    QTest::addColumn<QString>("searched");
    QTest::newRow("input list") << QStringList{"ListView1"} << "ListView1";
    QTest::newRow("results list") << QStringList{"ListView2"} << "ListView2";
    QTest::newRow("button") << QStringList{"PushButton5"} << "ListView1";
    QTest::newRow("button after the results")
        << QStringList{"ListView2", "PushButton8"} << "ListView2";
}

// Ctrl+V always adds to the input list; Ctrl+F searches the list the focus was last in.
void TestEditKeys::pasteAndFindFromAnyFocus() {
    QFETCH(QStringList, focused);
    QFETCH(QString, searched);
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QWidget* focus = nullptr;
    for (const QString& name : focused) {
        focus = window.findChild<QWidget*>(name);
        focus->setFocus();
        QTRY_VERIFY(focus->hasFocus());
    }
    ui.clipboard = QStringLiteral("pasted\n");
    QTest::keyClick(focus, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(itemsOf(window.state().input()), QStringList{"pasted"});
    QCOMPARE(window.state().results().count(), 0);
    QTest::keyClick(focus, Qt::Key_F, Qt::ControlModifier);
    FindPopup* find = window.listKeys()->findPopup();
    QTRY_VERIFY(find->isVisible());
    QCOMPARE(find->view()->objectName(), searched);
}

void TestEditKeys::anAddedItemIsSelectedAndShown() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    for (int i = 0; i < 200; ++i)
        window.state().input().append(QString::number(i));
    ui.inputAnswers = QStringList{QStringLiteral("typed")};
    QTest::mouseClick(window.button("PushButton1"), Qt::LeftButton);
    QCOMPARE(window.state().input().count(), 201);
    QCOMPARE(window.inputView()->selectedPosition(), 201);
    QTRY_VERIFY(shows(window.inputView(), 201));
    // Cancelled: nothing added, the selection stays.
    QTest::mouseClick(window.button("PushButton1"), Qt::LeftButton);
    QCOMPARE(window.inputView()->selectedPosition(), 201);
}

void TestEditKeys::findGoesToEachLineHoldingTheText() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.state().input().appendBatch({"Lara", "bob", "clara", "dave"});
    LineListView* input = window.inputView();
    input->setFocus();
    QTest::keyClick(input, Qt::Key_F, Qt::ControlModifier);
    FindPopup* find = window.listKeys()->findPopup();
    QTRY_VERIFY(find->isVisible());
    QTest::keyClicks(find->field(), QStringLiteral("LAR"));
    QTest::keyClick(find->field(), Qt::Key_Return);
    QCOMPARE(input->selectedPosition(), 1);
    QTest::keyClick(find->field(), Qt::Key_Return);
    QCOMPARE(input->selectedPosition(), 3);
    QTest::keyClick(find->field(), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(input->selectedPosition(), 1);
    find->field()->setText(QStringLiteral("zzz"));
    QTest::keyClick(find->field(), Qt::Key_Return);
    QCOMPARE(input->selectedPosition(), 1);
    QVERIFY(!find->status()->text().isEmpty());
    // Escape closes the popup, and only the popup.
    QTest::keyClick(find->field(), Qt::Key_Escape);
    QTRY_VERIFY(!find->isVisible());
    QVERIFY(window.isVisible());
    QCOMPARE(window.state().input().count(), 4);
}

void TestEditKeys::aLongSearchYieldsAndStops_data() {
    QTest::addColumn<bool>("byEscape"); // else by a click elsewhere, which closes the popup
    QTest::newRow("Escape") << true;
    QTest::newRow("popup closed") << false;
}

void TestEditKeys::aLongSearchYieldsAndStops() {
    QFETCH(bool, byEscape);
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QStringList lines;
    for (int i = 0; i < 200000; ++i)
        lines << QStringLiteral("line %1").arg(i);
    window.state().input().appendBatch(lines);
    // Every ask turns the event loop: the search cannot end before the timer is heard.
    window.state().pump().setInterval(std::chrono::microseconds(0));
    LineListView* input = window.inputView();
    input->setFocus();
    QTest::keyClick(input, Qt::Key_F, Qt::ControlModifier);
    FindPopup* find = window.listKeys()->findPopup();
    QTRY_VERIFY(find->isVisible());
    find->field()->setText(QStringLiteral("nowhere"));
    bool heard = false;
    QTimer::singleShot(0, find, [&] {
        heard = find->isSearching();
        if (byEscape)
            QTest::keyClick(find->field(), Qt::Key_Escape);
        else
            find->hide();
    });
    QVERIFY(!find->findAgain(true));
    QVERIFY(heard);
    QCOMPARE(find->status()->text(), QStringLiteral("Stopped"));
    QCOMPARE(find->isVisible(), byEscape);
    QVERIFY(!window.state().progress().isRunning());
    // Left alone, it looks at every line.
    find->show();
    QVERIFY(!find->findAgain(true));
    QCOMPARE(find->status()->text(), QStringLiteral("Not found"));
    QVERIFY(!window.state().progress().isRunning());
}

QTEST_MAIN(TestEditKeys)
#include "tst_editkeys.moc"

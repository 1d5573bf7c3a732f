#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "commands/editing.h"
#include "tests/support/scripteduserinterface.h"
#include "tests/support/testfiles.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

class TestEditKeys : public QObject {
    Q_OBJECT
private slots:
    void undoAndRedoKeys_data();
    void undoAndRedoKeys();

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

QTEST_MAIN(TestEditKeys)
#include "tst_editkeys.moc"

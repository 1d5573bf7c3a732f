#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "commands/extracting.h"
#include "tests/support/commandform.h"
#include "tests/support/modaldialogs.h"
#include "tests/support/testfiles.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

using namespace varnel;
using namespace varnel::testing;

namespace {

// 300 lines in order but for three pairs, whose upper lines are the results 20, 150, 280.
QStringList threePairsOutOfOrder() {
    QStringList lines;
    for (int i = 1; i <= 300; ++i)
        lines.append(QStringLiteral("line %1").arg(i, 3, 10, QChar(u'0')));
    for (int upper : {20, 150, 280})
        lines.swapItemsAt(upper - 1, upper);
    return lines;
}

QModelIndex rowOf(LineListView* view, int position) {
    return view->model()->index(position - 1, 0);
}

void clickRow(LineListView* view, int position) {
    view->scrollTo(rowOf(view, position));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(rowOf(view, position)).center());
}

bool inView(LineListView* view, int position) {
    return view->viewport()->rect().contains(view->visualRect(rowOf(view, position)));
}

} // namespace

class TestResultLinks : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void selectingAResult_data();
    void selectingAResult();
    void describing_data();
    void describing();

private:
    void edit(const QString& how);

    std::unique_ptr<ScriptedUserInterface> m_ui;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QAbstractItemModelTester> m_inputTester;
    std::unique_ptr<QAbstractItemModelTester> m_resultsTester;
    QTemporaryDir m_folder;
};

void TestResultLinks::init() {
    m_ui = std::make_unique<ScriptedUserInterface>();
    m_window = std::make_unique<MainWindow>(m_ui.get(), m_folder.path());
    m_inputTester = std::make_unique<QAbstractItemModelTester>(&m_window->state().input());
    m_resultsTester = std::make_unique<QAbstractItemModelTester>(&m_window->state().results());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestResultLinks::cleanup() {
    m_resultsTester.reset();
    m_inputTester.reset();
    m_window.reset();
    QLocale::setDefault(QLocale::c());
}

// Through the window where a person can do it: "delete N", "drag FROM TO", "load",
// "clear", "order"; "rename N TEXT" changes a line's text.
void TestResultLinks::edit(const QString& how) {
    const QStringList words = how.split(u' ');
    LineListView* input = m_window->inputView();
    if (words[0] == u"delete") {
        clickRow(input, words[1].toInt());
        QTest::keyClick(input, Qt::Key_Delete);
    } else if (words[0] == u"drag") {
        const int from = words[1].toInt();
        const int to = words[2].toInt();
        clickRow(input, from);
        QTest::mousePress(input->viewport(), Qt::LeftButton, {},
                          input->visualRect(rowOf(input, from)).center());
        const QPoint onto = input->visualRect(rowOf(input, to)).center();
        sendMouseMove(input->viewport(), onto, Qt::LeftButton);
        QTest::mouseRelease(input->viewport(), Qt::LeftButton, {}, onto);
    } else if (words[0] == u"load") {
        const QString path = m_folder.filePath(QStringLiteral("more.txt"));
        writeFile(path, "line 000\nline 999\n");
        m_ui->openAnswers.append({path});
        QTest::mouseClick(m_window->button("PushButton4"), Qt::LeftButton);
        QCOMPARE(m_window->state().input().count(), 302);
    } else if (words[0] == u"clear") {
        QTest::mouseClick(m_window->button("PushButton3"), Qt::LeftButton);
    } else if (words[0] == u"order") {
        QTest::mouseClick(m_window->button("PushButton5"), Qt::LeftButton);
    } else if (words[0] == u"rename") {
        m_window->state().input().setText(words[1].toInt(), words.mid(2).join(u' '));
    }
}

void TestResultLinks::selectingAResult_data() {
    QTest::addColumn<QString>("edit"); // after "Start Extracting Lines"; see edit()
    QTest::addColumn<int>("click");    // on a result, then the keys; 0: the list gets the focus
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("line");    // the input line selected; 5 is where it was
    QTest::addColumn<QString>("tip"); // of the selected result
    const auto row = [](const char* name, const char* edit, int click, QList<int> keys, int line,
                        const QString& tip) {
        QTest::newRow(name) << QString::fromUtf8(edit) << click << keys << line << tip;
    };

    const QString tip150 = QStringLiteral("Line 150 sorts after line 151: \"line 150\"");
    const QString tip280 = QStringLiteral("Line 280 sorts after line 281: \"line 280\"");
    row("click", "", 2, {}, 150, tip150);
    // Regression: the focus makes the first result current without choosing it, and the
    // input list jumped to that result's line.
    row("focus alone: leads nowhere", "", 0, {}, 5, "Line 20 sorts after line 21: \"line 020\"");
    row("arrow down", "", 1, {Qt::Key_Down}, 150, tip150);
    row("end", "", 1, {Qt::Key_End}, 280, tip280);
    row("home", "", 3, {Qt::Key_Home}, 20, "Line 20 sorts after line 21: \"line 020\"");
    row("page down", "", 1, {Qt::Key_PageDown}, 280, tip280);
    row("a line above deleted", "delete 10", 2, {}, 149,
        "Line 149 sorts after line 150: \"line 150\"");
    row("its own line deleted: leads nowhere", "delete 150", 2, {}, 5, "Its line was removed");
    row("dragged into order", "drag 151 150", 2, {}, 151, "Line 151 is now in order");
    row("more lines loaded", "load", 3, {}, 280, tip280);
    row("input cleared: leads nowhere", "clear", 2, {}, 0, "Its line was removed");
    row("correct order, last line", "order", 1, {Qt::Key_End}, 300, "Line 300");
    row("markup in a quoted line stays text", "rename 151 <b>line 150</b>", 2, {}, 150,
        "Line 150 sorts after line 151: \"<b>line 150</b>\"");
}

void TestResultLinks::selectingAResult() {
    QFETCH(QString, edit);
    QFETCH(int, click);
    QFETCH(QList<int>, keys);
    QFETCH(int, line);
    QFETCH(QString, tip);
    LineListView* input = m_window->inputView();
    LineListView* results = m_window->resultsView();
    m_window->state().input().appendBatch(threePairsOutOfOrder());
    QTest::mouseClick(m_window->button("PushButton7"), Qt::LeftButton);
    QCOMPARE(itemsOf(m_window->state().results()),
             (QStringList{"line 021", "line 151", "line 281"}));
    this->edit(edit);
    if (m_window->state().input().count() >= 5)
        clickRow(input, 5);

    if (click > 0) {
        clickRow(results, click);
    } else {
        QApplication::setActiveWindow(m_window.get());
        results->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(results->currentIndex().isValid());
    }
    for (int key : keys)
        QTest::keyClick(results, Qt::Key(key));
    QCOMPARE(input->currentIndex().row() + 1, line);
    if (line > 0) {
        QVERIFY(inView(input, line));
        if (line < m_window->state().input().count())
            QVERIFY(inView(input, line + 1));
    }

    const QModelIndex result = results->currentIndex();
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(results);
    QVERIFY(table && table->tableInterface());
    QCOMPARE(table->tableInterface()->cellAt(result.row(), 0)->text(QAccessible::Description), tip);
    const QPoint at = results->visualRect(result).center();
    QHelpEvent help(QEvent::ToolTip, at, results->viewport()->mapToGlobal(at));
    QApplication::sendEvent(results->viewport(), &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QVERIFY2(QToolTip::text().contains(tip.toHtmlEscaped()), qPrintable(QToolTip::text()));
    QToolTip::hideText();
}

void TestResultLinks::describing_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("below"); // the line below the one result
    QTest::addColumn<QString>("tip");

    const QString ellipsis(QChar(0x2026));
    QTest::newRow("grouped as in English")
        << "en_US"
        << "y" << QStringLiteral("Line 1,501 sorts after line 1,502: \"y\"");
    QTest::newRow("grouped as in German")
        << "de_DE"
        << "y" << QStringLiteral("Line 1.501 sorts after line 1.502: \"y\"");
    QTest::newRow("long line below cut")
        << "en_US" << QString(61, u'y')
        << QStringLiteral("Line 1,501 sorts after line 1,502: \"") + QString(60, u'y') + ellipsis +
               u'"';
    QTest::newRow("cut not inside a pair")
        << "en_US" << QString(59, u'y') + QStringLiteral("\U0001F600")
        << QStringLiteral("Line 1,501 sorts after line 1,502: \"") + QString(59, u'y') + ellipsis +
               u'"';
}

void TestResultLinks::describing() {
    QFETCH(QString, locale);
    QFETCH(QString, below);
    QFETCH(QString, tip);
    QLocale::setDefault(QLocale(locale));
    CommandForm form;
    LineListModel& results = form.state.results();
    QAbstractItemModelTester tester(&results);
    QStringList lines(1500, QStringLiteral("a"));
    form.state.input().appendBatch(lines << QStringLiteral("z") << below);
    extractOutOfOrderLines(form.state);
    QCOMPARE(itemsOf(results), QStringList{QStringLiteral("z")});
    QCOMPARE(form.state.links().inputPosition(1), 1501);
    for (int role : {Qt::ToolTipRole, Qt::AccessibleDescriptionRole})
        QCOMPARE(results.data(results.index(0), role).toString(), tip);

    // A result made another way has nowhere to lead and nothing to tell.
    results.append(QStringLiteral("z"));
    QCOMPARE(form.state.links().inputPosition(2), std::nullopt);
    QVERIFY(!results.data(results.index(1), Qt::ToolTipRole).isValid());
}

QTEST_MAIN(TestResultLinks)
#include "tst_resultlinks.moc"

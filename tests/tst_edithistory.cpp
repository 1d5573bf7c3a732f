#include "commands/correctorder.h"
#include "commands/editing.h"
#include "commands/extracting.h"
#include "commands/undoing.h"
#include "tests/support/commandform.h"

#include <QRandomGenerator>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

// Everything undo promises to bring back: both lists' lines in their order, every
// result's link and the results' display mode.
struct Lists {
    QStringList input;
    QStringList results;
    QList<quint32> links;
    bool sorted = false;
    bool operator==(const Lists&) const = default;
};

Lists snapshot(WindowState& state) {
    Lists lists;
    for (qsizetype i = 1; i <= state.input().count(); ++i)
        lists.input.append(state.input().text(i));
    for (qsizetype i = 1; i <= state.results().count(); ++i) {
        lists.results.append(state.results().text(i));
        lists.links.append(state.results().link(i));
    }
    lists.sorted = state.results().isSorted();
    return lists;
}

char* toString(const Lists& lists) {
    QStringList links;
    for (quint32 link : lists.links)
        links.append(QString::number(qint64(link)));
    return QTest::toString(QStringLiteral("input [%1] results [%2] links [%3]%4")
                               .arg(lists.input.join(u','), lists.results.join(u','),
                                    links.join(u','), lists.sorted ? u" sorted"_qs : QString()));
}

// One edit of the kinds the window makes, chosen by `random`; false when it changed
// nothing (removing from an empty list).
bool randomEdit(CommandForm& form, QRandomGenerator& random) {
    WindowState& state = form.state;
    const auto word = [&] {
        QString text;
        for (int n = random.bounded(1, 4); n > 0; --n)
            text.append(QChar(u'a' + random.bounded(4)));
        return random.bounded(5) == 0 ? text.toUpper() : text;
    };
    const auto somewhere = [&](LineListModel& list) {
        return std::optional<qsizetype>(random.bounded(int(list.count())) + 1);
    };
    const EditHistory::Scope step(state.history());
    switch (random.bounded(11)) {
    case 0:
        form.ui.inputAnswers.append(word());
        addOneItem(state);
        return true;
    case 1:
        loadSampleData(state);
        return true;
    case 2:
        state.input().appendBatch({word(), word(), word()});
        return true;
    case 3: {
        const QByteArray text = (word() + word()).toLatin1();
        state.input().appendLatin1Lines(text, {{0, 1}, {1, quint32(text.size() - 1)}});
        return true;
    }
    case 4:
        if (state.input().count() == 0)
            return false;
        removeSelectedItem(state, state.input(), somewhere(state.input()));
        return true;
    case 5:
        if (state.results().count() == 0)
            return false;
        removeSelectedItem(state, state.results(), somewhere(state.results()));
        return true;
    case 6:
        if (state.input().count() < 2)
            return false;
        state.input().exchange(*somewhere(state.input()), *somewhere(state.input()));
        return state.input().count() > 0;
    case 7:
        clearInputList(state);
        return true;
    case 8:
        clearResultsList(state);
        return true;
    case 9:
        extractOutOfOrderLines(state);
        return true;
    default:
        showCorrectOrder(state);
        return true;
    }
}

} // namespace

class TestEditHistory : public QObject {
    Q_OBJECT
private slots:
    void undoAndRedoRetraceEverySequence_data();
    void undoAndRedoRetraceEverySequence();
    void stepsAreBoundedOldestFirst();
    void aClearIsTakenBackWithoutACopy();
    void aCommandThatYieldsIsOneStep();
    void refusedWhileTheListsAreTaken_data();
    void refusedWhileTheListsAreTaken();
    void aNewEditEndsTheWayForward();
};

void TestEditHistory::undoAndRedoRetraceEverySequence_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("edits");
    for (quint32 seed = 1; seed <= 40; ++seed)
        QTest::addRow("seed %u", seed) << seed << int(5 + seed % 30);
}

void TestEditHistory::undoAndRedoRetraceEverySequence() {
    QFETCH(quint32, seed);
    QFETCH(int, edits);
    CommandForm form;
    QRandomGenerator random(seed);
    // The state before each step, and the state at the end.
    QList<Lists> states{snapshot(form.state)};
    for (int i = 0; i < edits; ++i) {
        const qsizetype stepsBefore = form.state.history().undoCount();
        if (!randomEdit(form, random))
            continue;
        const Lists now = snapshot(form.state);
        // An edit that changed nothing (a clear of an empty list) leaves no step.
        if (form.state.history().undoCount() == stepsBefore) {
            QCOMPARE(now, states.last());
            continue;
        }
        states.append(now);
    }
    QCOMPARE(form.state.history().undoCount(), states.size() - 1);
    for (qsizetype i = states.size() - 2; i >= 0; --i) {
        QVERIFY(undoEdit(form.state));
        QCOMPARE(snapshot(form.state), states.at(i));
    }
    QVERIFY(!undoEdit(form.state));
    for (qsizetype i = 1; i < states.size(); ++i) {
        QVERIFY(redoEdit(form.state));
        QCOMPARE(snapshot(form.state), states.at(i));
    }
    QVERIFY(!redoEdit(form.state));
    // And back again: a redone step is taken back as the first time.
    for (qsizetype i = states.size() - 2; i >= 0; --i) {
        QVERIFY(undoEdit(form.state));
        QCOMPARE(snapshot(form.state), states.at(i));
    }
}

void TestEditHistory::stepsAreBoundedOldestFirst() {
    CommandForm form;
    EditHistory& history = form.state.history();
    history.setLimits(3, qsizetype(1) << 30);
    for (const QString& line : {u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs})
        form.state.input().append(line);
    QCOMPARE(history.undoCount(), 3);
    while (undoEdit(form.state)) {
    }
    QCOMPARE(snapshot(form.state).input, (QStringList{u"a"_qs, u"b"_qs}));

    // Over the memory bound the newest step stays, never refused.
    history.setLimits(100, 1);
    form.state.input().append(u"f"_qs);
    QCOMPARE(history.undoCount(), 1);
    QVERIFY(undoEdit(form.state));
    QCOMPARE(snapshot(form.state).input, (QStringList{u"a"_qs, u"b"_qs}));
}

void TestEditHistory::aClearIsTakenBackWithoutACopy() {
    CommandForm form;
    LineListModel& input = form.state.input();
    QByteArray text(200000, 'x');
    std::vector<LineSpan> spans;
    for (quint32 i = 0; i < 100000; ++i)
        spans.push_back({i * 2, 2});
    input.appendLatin1Lines(text, spans);
    const char* first = input.textView(1).narrow().data();
    clearInputList(form.state);
    QCOMPARE(input.count(), 0);
    QVERIFY(undoEdit(form.state));
    QCOMPARE(input.count(), 100000);
    QCOMPARE(input.textView(1).narrow().data(), first);
    QCOMPARE(input.textView(100000).narrow().data(), first + 199998);
}

void TestEditHistory::aCommandThatYieldsIsOneStep() {
    CommandForm form;
    form.yieldEveryLine();
    for (const QString& line : {u"b"_qs, u"a"_qs, u"d"_qs, u"c"_qs})
        form.state.input().append(line);
    const qsizetype before = form.state.history().undoCount();
    const Lists start = snapshot(form.state);
    // A line removed while the extraction yields joins the extraction's step.
    const auto removal = onTurn(2, [&] {
        const EditHistory::Scope nested(form.state.history());
        removeSelectedItem(form.state, form.state.input(), 4);
    });
    {
        const EditHistory::Scope step(form.state.history());
        extractOutOfOrderLines(form.state);
    }
    QCOMPARE(form.state.input().count(), 3);
    QCOMPARE(form.state.history().undoCount(), before + 1);
    QVERIFY(undoEdit(form.state));
    QCOMPARE(snapshot(form.state), start);
}

void TestEditHistory::refusedWhileTheListsAreTaken_data() {
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("hourglass");
    QTest::addColumn<bool>("walking");
    QTest::addColumn<bool>("refused");
    QTest::newRow("free") << false << false << false << false;
    QTest::newRow("extracting") << true << false << false << true;
    QTest::newRow("hourglass") << false << true << false << true;
    QTest::newRow("folder walk") << false << false << true << true;
}

void TestEditHistory::refusedWhileTheListsAreTaken() {
    QFETCH(bool, busy);
    QFETCH(bool, hourglass);
    QFETCH(bool, walking);
    QFETCH(bool, refused);
    CommandForm form;
    form.state.input().append(u"a"_qs);
    form.state.setBusy(busy);
    form.state.setPointer(hourglass ? Pointer::Hourglass : Pointer::Default);
    QCOMPARE(undoEdit(form.state, walking), !refused);
    QCOMPARE(form.state.input().count(), refused ? 1 : 0);
    if (!refused)
        QCOMPARE(redoEdit(form.state, walking), true);
    // A step under way is never cut into.
    const EditHistory::Scope step(form.state.history());
    form.state.input().append(u"b"_qs);
    const EditHistory::Scope undoKey(form.state.history());
    QVERIFY(!undoEdit(form.state));
}

void TestEditHistory::aNewEditEndsTheWayForward() {
    CommandForm form;
    form.state.input().append(u"a"_qs);
    form.state.input().append(u"b"_qs);
    QVERIFY(undoEdit(form.state));
    QCOMPARE(form.state.history().redoCount(), 1);
    form.state.input().append(u"c"_qs);
    QCOMPARE(form.state.history().redoCount(), 0);
    QVERIFY(!redoEdit(form.state));
    QCOMPARE(snapshot(form.state).input, (QStringList{u"a"_qs, u"c"_qs}));
}

QTEST_GUILESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"

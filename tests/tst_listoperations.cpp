// Random sequences of a list's operations, checked after each against plain lists of texts
// and links, and taken back and done again through the edit history.

#include "lists/edithistory.h"
#include "lists/linelistmodel.h"
#include "order/collation.h"
#include "order/linetext.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace varnel;

namespace {

struct Row {
    QString text;
    quint32 link = 0;
    bool operator==(const Row&) const = default;
};

struct Lists {
    QList<Row> input;
    QList<Row> results;
    bool sorted = false;
    bool operator==(const Lists&) const = default;
};

QList<Row> rowsOf(const LineListModel& list) {
    QList<Row> rows;
    for (qsizetype i = 1; i <= list.count(); ++i)
        rows.append({list.text(i), list.link(i)});
    return rows;
}

char* toString(const Row& row) {
    return QTest::toString(row.text + u'@' + QString::number(row.link));
}

class Operations {
public:
    Operations(quint32 seed, bool history)
        : m_random(seed)
        , m_history(history) {
        if (history) {
            m_edits.watch(m_input);
            m_edits.watch(m_results);
        }
    }

    Lists lists() const { return {rowsOf(m_input), rowsOf(m_results), m_results.isSorted()}; }
    const Lists& expected() const { return m_expected; }
    EditHistory& edits() { return m_edits; }
    const LineListModel& input() const { return m_input; }
    const LineListModel& results() const { return m_results; }

    // One operation of the list's, done on both the list and the plain lists.
    void step() {
        const EditHistory::Scope scope(m_edits);
        QList<Row>& input = m_expected.input;
        QList<Row>& results = m_expected.results;
        switch (m_random.bounded(15)) {
        case 0: {
            const QString text = word();
            m_input.append(text);
            input.append({text});
            break;
        }
        case 1: {
            const QStringList texts = {word(), word(), word()};
            m_input.appendBatch(texts);
            for (const QString& text : texts)
                input.append({text});
            break;
        }
        case 2:
        case 3: {
            // A loaded buffer, its last line at its very end and an empty line after it.
            QStringList texts = {word(), word(), word()};
            if (m_random.bounded(2) == 0)
                texts[1] += u'ω';
            const QString buffer = texts.join(u'\n');
            const bool wide = !fitsLatin1(buffer);
            const auto last = quint32(buffer.size() - texts[2].size());
            std::vector<LineSpan> spans = {{0, quint32(texts[0].size())},
                                           {quint32(texts[0].size() + 1), quint32(texts[1].size())},
                                           {last, quint32(texts[2].size())},
                                           {quint32(buffer.size()), 0}};
            if (wide)
                m_input.appendLines(buffer, spans);
            else
                m_input.appendLatin1Lines(buffer.toLatin1(), spans);
            for (const QString& text : texts + QStringList{QString()})
                input.append({text});
            break;
        }
        case 4:
            if (const qsizetype at = somewhere(input); at > 0) {
                m_input.removeAt(at);
                input.removeAt(at - 1);
            }
            break;
        case 5:
            if (const qsizetype at = somewhere(input); at > 0) {
                const qsizetype other = somewhere(input);
                m_input.exchange(at, other);
                input.swapItemsAt(at - 1, other - 1);
            }
            break;
        case 6:
            // Not recorded: only without the history.
            if (const qsizetype at = somewhere(input); at > 0 && !m_history) {
                const QString text = word();
                m_input.setText(at, text);
                input[at - 1].text = text;
            }
            break;
        case 7:
            m_input.clear();
            input.clear();
            break;
        case 8: {
            std::vector<qsizetype> positions;
            QList<Row> batch;
            for (int n = m_random.bounded(4); n > 0 && !input.isEmpty(); --n) {
                positions.push_back(somewhere(input));
                batch.append({input[positions.back() - 1].text, quint32(positions.back())});
            }
            // Now and then the input's own lines again, at its end.
            const bool itself = m_random.bounded(4) == 0;
            (itself ? m_input : m_results).appendFrom(m_input, positions);
            add(itself ? input : results, batch, itself ? false : m_expected.sorted);
            break;
        }
        case 9: {
            m_results.appendAllFrom(m_input);
            QList<Row> batch;
            for (qsizetype i = 0; i < input.size(); ++i)
                batch.append({input[i].text, quint32(i + 1)});
            add(results, batch, m_expected.sorted);
            break;
        }
        case 10:
            m_results.setSorted(!m_expected.sorted);
            m_expected.sorted = !m_expected.sorted;
            if (m_expected.sorted)
                add(results, {}, true);
            break;
        case 11:
            if (const qsizetype at = somewhere(results); at > 0) {
                m_results.removeAt(at);
                results.removeAt(at - 1);
            }
            break;
        case 12:
            // A sorted list stays in order.
            if (const qsizetype at = somewhere(results); at > 0 && !m_expected.sorted) {
                const qsizetype other = somewhere(results);
                m_results.exchange(at, other);
                results.swapItemsAt(at - 1, other - 1);
            }
            break;
        case 13:
            m_results.clear();
            results.clear();
            break;
        default: {
            const QStringList texts = {word(), word()};
            m_results.appendBatch(texts);
            add(results, {{texts[0]}, {texts[1]}}, m_expected.sorted);
            break;
        }
        }
    }

private:
    QString word() {
        static const QString letters = QStringLiteral("abAB\u00e9\u00c9 ");
        QString text;
        for (int n = m_random.bounded(0, 5); n > 0; --n)
            text.append(letters[m_random.bounded(int(letters.size()))]);
        if (m_random.bounded(8) == 0)
            text.append(QStringLiteral("\u03c9\U0001F600"));
        return text;
    }
    qsizetype somewhere(const QList<Row>& rows) {
        return rows.isEmpty() ? 0 : m_random.bounded(int(rows.size())) + 1;
    }
    // In sorted mode, lines already listed come before equal lines added, and equal lines
    // added keep their order.
    void add(QList<Row>& rows, const QList<Row>& batch, bool sorted) {
        rows.append(batch);
        if (sorted)
            std::stable_sort(rows.begin(), rows.end(), [this](const Row& a, const Row& b) {
                return m_collator.compare(a.text, b.text) < 0;
            });
    }

    QRandomGenerator m_random;
    bool m_history;
    QCollator m_collator = makeCorrectOrderCollator();
    EditHistory m_edits;
    LineListModel m_input;
    LineListModel m_results;
    Lists m_expected;
};

} // namespace

class TestListOperations : public QObject {
    Q_OBJECT
private slots:
    void agreeWithPlainLists_data();
    void agreeWithPlainLists();
};

void TestListOperations::agreeWithPlainLists_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("history");
    for (quint32 seed = 1; seed <= 30; ++seed) {
        QTest::addRow("seed %u", seed) << seed << true;
        // Without a history, results copy their lines out of the input's released buffers.
        QTest::addRow("seed %u, no history", seed) << seed << false;
    }
}

void TestListOperations::agreeWithPlainLists() {
    QFETCH(quint32, seed);
    QFETCH(bool, history);
    Operations operations(seed, history);
    QList<Lists> states{operations.lists()};
    for (int i = 0; i < 60; ++i) {
        const qsizetype steps = operations.edits().undoCount();
        operations.step();
        const Lists now = operations.lists();
        QCOMPARE(now.input, operations.expected().input);
        QCOMPARE(now.results, operations.expected().results);
        QCOMPARE(now.sorted, operations.expected().sorted);
        // Entries tell their memory truly: eight bytes a row, four more for a link.
        for (const LineListModel* list : {&operations.input(), &operations.results()}) {
            const bool linked = std::any_of(now.results.begin(), now.results.end(),
                                            [](const Row& r) { return r.link; });
            QVERIFY(list->entryBytes() >= list->count() * 8);
            if (list == &operations.results() && linked)
                QVERIFY(list->entryBytes() >= list->count() * 12);
        }
        if (operations.edits().undoCount() != steps)
            states.append(now);
    }
    if (!history)
        return;
    EditHistory& edits = operations.edits();
    for (qsizetype i = states.size() - 2; i >= 0; --i) {
        QVERIFY(edits.undo());
        QCOMPARE(operations.lists(), states.at(i));
    }
    for (qsizetype i = 1; i < states.size(); ++i) {
        QVERIFY(edits.redo());
        QCOMPARE(operations.lists(), states.at(i));
    }
}

QTEST_GUILESS_MAIN(TestListOperations)
#include "tst_listoperations.moc"

#include "commands/loading.h"
#include "core/errorreport.h"
#include "files/filesystem.h"
#include "tests/support/commandform.h"
#include "tests/support/testfiles.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <future>

#include <fcntl.h>
#include <unistd.h>

using namespace varnel;
using namespace varnel::testing;

namespace {

struct Form : CommandForm {
    QAbstractItemModelTester inputTester{&state.input()};
    Form() { state.input().append(QStringLiteral("old")); }
    void load(const QStringList& paths) {
        ui.openAnswers.append(paths);
        loadTextFiles(state);
    }
};

} // namespace

class TestLoadText : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void picks_data();
    void picks();
    void oneInsertionPerFile();
    void fileTooLargeForMemory();
    void cancelledWhileALargeFileIsRead_data();
    void cancelledWhileALargeFileIsRead();
    void largeFileShownWithTurnsBetween();
    void cancelStopsTheReadInTheMiddle();

private:
    QByteArray notUtf8Name() const { return QFile::encodeName(m_dir->path()) + "/bad\xff.txt"; }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLoadText::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    writeFile(m_dir->filePath("a.txt"), "a1\r\na2\r\n");
    writeFile(m_dir->filePath("b.txt"), "b1");
    writeFile(m_dir->filePath("empty.txt"), "");
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    const int fd = ::open(notUtf8Name().constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0 && ::write(fd, "x1\n", 3) == 3);
    ::close(fd);
}

void TestLoadText::cleanup() {
    ::unlink(notUtf8Name().constData()); // Qt's own clean-up cannot name it
}

void TestLoadText::picks_data() {
    QTest::addColumn<QStringList>("picked");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("messages"); // a box's text, or where a report points
    const QString notFound = QStringLiteral("File not found");
    QTest::newRow("cancelled") << QStringList{} << QStringList{"old"} << QStringList{};
    QTest::newRow("one file") << QStringList{"a.txt"} << QStringList{"old", "a1", "a2"}
                              << QStringList{};
    QTest::newRow("dialog's order, twice over")
        << QStringList{"b.txt", "a.txt", "b.txt"} << QStringList{"old", "b1", "a1", "a2", "b1"}
        << QStringList{};
    QTest::newRow("empty file") << QStringList{"empty.txt"} << QStringList{"old"} << QStringList{};
    // Regression: Qt's file classes could not name it, so it was "File not found".
    QTest::newRow("a name that is not UTF-8")
        << QStringList{decodeFileName("bad\xff.txt")} << QStringList{"old", "x1"} << QStringList{};
    QTest::newRow("missing file alone")
        << QStringList{"missing.txt"} << QStringList{"old"} << QStringList{notFound};
    QTest::newRow("missing file among others")
        << QStringList{"a.txt", "missing.txt", "b.txt"} << QStringList{"old", "a1", "a2", "b1"}
        << QStringList{notFound};
    QTest::newRow("folder alone") << QStringList{"sub"} << QStringList{"old"}
                                  << QStringList{locations::loadTextFiles + "at line 120"};
    QTest::newRow("folder among others") << QStringList{"sub", "b.txt"} << QStringList{"old", "b1"}
                                         << QStringList{locations::loadTextFiles + "at line 134"};
}

void TestLoadText::picks() {
    QFETCH(QStringList, picked);
    QFETCH(QStringList, items);
    QFETCH(QStringList, messages);
    Form form;
    form.state.setPointer(Pointer::Arrow);
    QStringList paths;
    for (const QString& name : picked)
        paths.append(m_dir->filePath(name));
    form.load(paths);
    QCOMPARE(itemsOf(form.state.input()), items);
    QStringList seen;
    for (const auto& m : form.ui.messages) {
        if (m.title == QStringLiteral("Application Error")) {
            seen.append(m.text.section(QStringLiteral("\r\n"), 1).section(u'\r', 0, 0));
        } else {
            QCOMPARE(m.title, QStringLiteral("Varnel"));
            QCOMPARE(m.icon, MessageIcon::None);
            seen.append(m.text);
        }
    }
    QCOMPARE(seen, messages);
    QCOMPARE(form.ui.dialogs.size(), 1);
    // A cancelled dialog leaves the pointer as it was.
    QCOMPARE(form.state.pointer(), picked.isEmpty() ? Pointer::Arrow : Pointer::Default);
}

void TestLoadText::oneInsertionPerFile() {
    QByteArray many;
    for (int i = 0; i < 5000; ++i)
        many += "line " + QByteArray::number(i) + "\r\n";
    writeFile(m_dir->filePath("many.txt"), many);
    Form form;
    QSignalSpy inserted(&form.state.input(), &QAbstractItemModel::rowsInserted);
    form.load({m_dir->filePath("many.txt"), m_dir->filePath("a.txt")});
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(form.state.input().count(), 5003);
    QCOMPARE(form.state.input().text(5001), QStringLiteral("line 4999"));
}

void TestLoadText::fileTooLargeForMemory() {
    // A sparse file claims a terabyte without taking the disk space.
    const QString huge = m_dir->filePath("huge.txt");
    writeFile(huge, "");
    if (!QFile(huge).resize(qint64(1) << 40))
        QSKIP("this file system holds no sparse file that large");
    Form form;
    form.load({huge, m_dir->filePath("b.txt")});
    QCOMPARE(reportHeads(form.ui),
             QStringList{"Out of memory\r\n" + locations::loadTextFiles + "at line 134"});
    QCOMPARE(itemsOf(form.state.input()), (QStringList{"old", "b1"}));
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestLoadText::cancelledWhileALargeFileIsRead_data() {
    QTest::addColumn<QStringList>("picked");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<int>("linesInAll"); // the picked files' lines
    QTest::newRow("the one file") << QStringList{"large.txt"} << QStringList{"old"}
                                  << QStringLiteral("Cancelled at file 1 of 1; 0 lines kept") << 1;
    QTest::newRow("files before it stay, none after it is read")
        << QStringList{"a.txt", "large.txt", "b.txt"} << QStringList{"old", "a1", "a2"}
        << QStringLiteral("Cancelled at file 2 of 3; 2 lines kept") << 4;
}

// A file large enough to be read aside lets the event loop turn, so Escape is heard; the
// file read when the load was cancelled adds nothing, and no file after it is read.
void TestLoadText::cancelledWhileALargeFileIsRead() {
    QFETCH(QStringList, picked);
    QFETCH(QStringList, kept);
    QFETCH(QString, summary);
    QFETCH(int, linesInAll);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    writeFile(m_dir->filePath("large.txt"), QByteArray(2 << 20, 'x'));
    QStringList paths;
    for (const QString& name : std::as_const(picked))
        paths.append(m_dir->filePath(name));
    Form form;
    const auto cancel = onTurn(1, [&form] { form.state.progress().cancel(); });
    form.load(paths);
    QCOMPARE(itemsOf(form.state.input()), kept);
    QCOMPARE(form.state.progress().text(), summary);
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), Pointer::Default);
    // Not cancelled, the same files all go in.
    form.load(paths);
    QCOMPARE(form.state.input().count(), kept.size() + linesInAll);
}

// Millions of lines go into the list a piece at a time, the window painting between pieces,
// and the list is whole at the end.
void TestLoadText::largeFileShownWithTurnsBetween() {
    const int lines = 2400000;
    writeFile(m_dir->filePath("lines.txt"), QByteArray("y\n").repeated(lines));
    Form form;
    QList<long long> turnsAtInsertion;
    connect(&form.state.input(), &QAbstractItemModel::rowsInserted,
            [&] { turnsAtInsertion.append(form.state.pump().turns()); });
    form.load({m_dir->filePath("lines.txt")});
    QCOMPARE(form.state.input().count(), lines + 1);
    QCOMPARE(form.state.input().text(lines + 1), QStringLiteral("y"));
    QVERIFY2(turnsAtInsertion.size() > 1, "shown in one piece");
    for (qsizetype i = 1; i < turnsAtInsertion.size(); ++i)
        QVERIFY(turnsAtInsertion[i] > turnsAtInsertion[i - 1]);
}

// Escape stops the read of one large file where it is, not after it: the reader waits at its
// first stop point until the cancel was heard, then stops there.
void TestLoadText::cancelStopsTheReadInTheMiddle() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString path = m_dir->filePath("large.txt");
    writeFile(path, QByteArray("d\xC3\xA9j\xC3\xA0 vu\n").repeated(1 << 20));
    Form form;
    std::promise<void> cancelled;
    const std::shared_future<void> heard = cancelled.get_future().share();
    std::atomic<int> stopPoints = 0;
    setFileReadWatcher([&](qint64) {
        ++stopPoints;
        heard.wait();
    });
    const auto resetWatcher = qScopeGuard([] { setFileReadWatcher({}); });
    const auto cancel = onTurn(1, [&] {
        form.state.progress().cancel();
        cancelled.set_value();
    });
    form.load({path});
    QCOMPARE(itemsOf(form.state.input()), QStringList{"old"});
    QCOMPARE(form.state.progress().text(),
             QStringLiteral("Cancelled at file 1 of 1; 0 lines kept"));
    // The read went no further than the first stop point.
    QCOMPARE(stopPoints.load(), 1);
    QVERIFY(form.ui.messages.isEmpty());
}

QTEST_GUILESS_MAIN(TestLoadText)
#include "tst_loadtext.moc"

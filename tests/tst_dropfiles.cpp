#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "commands/commandsummaries.h"
#include "commands/correctorder.h"
#include "commands/dropping.h"
#include "core/errorreport.h"
#include "core/failure.h"
#include "tests/support/filetree.h"
#include "tests/support/scripteduserinterface.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace varnel;
using namespace varnel::testing;

using Bytes = QList<QByteArray>;

namespace {

Bytes under(const QByteArray& root, const Bytes& relative) {
    Bytes paths;
    for (const QByteArray& r : relative)
        paths.append(root + '/' + r);
    return paths;
}

Bytes itemBytes(const LineListModel& list) {
    Bytes items;
    for (qsizetype i = 1; i <= list.count(); ++i)
        items.append(encodeFileName(list.text(i)));
    return items;
}

// What a file manager offers: file URLs, percent-encoded byte for byte.
QMimeData* fileDrag(const Bytes& paths) {
    QList<QUrl> urls;
    for (const QByteArray& p : paths)
        urls.append(QUrl::fromEncoded("file://" + p.toPercentEncoding("/")));
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

// As a file manager drops: the drag enters the list, and only if the list takes it, the
// drop follows.
void dropOn(LineListView* view, QMimeData* data) {
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, data, Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &enter);
    if (enter.isAccepted()) {
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(view->viewport(), &drop);
    }
    delete data;
    QCoreApplication::processEvents(); // the drop runs once the event has returned
}

// The real file system, with one folder that fails to be looked up, or to be listed once.
class FailingFileSystem : public FileSystem {
public:
    QString path;
    int number = 0; // 0: the folder is the dropped folder again, mounted inside itself
    bool atLookUp = false;

    std::optional<int> attributes(const QString& p) const override { return real.attributes(p); }
    QString lookUpName(const QString& p) const override { return real.lookUpName(p); }
    bool isOpenableFile(const QString& p) const override { return real.isOpenableFile(p); }
    FolderInfo folder(const QString& p) const override {
        if (p == path && number == 0) {
            FolderInfo again = real.folder(p);
            const FolderInfo dropped = real.folder(p.left(p.indexOf(QStringLiteral("/a/"))));
            again.device = dropped.device;
            again.inode = dropped.inode;
            return again;
        }
        if (p == path && atLookUp)
            throw Failure(number, QStringLiteral("Injected"));
        return real.folder(p);
    }
    FolderListing list(const QString& p) const override {
        if (p == path && !atLookUp && number != 0 && !std::exchange(listingFailed, true))
            throw Failure(number, QStringLiteral("Injected"));
        return real.list(p);
    }

private:
    const FileSystem& real = realFileSystem();
    mutable bool listingFailed = false; // once: the walk's listing, not the files' listing
};

} // namespace

class TestDropFiles : public QObject {
    Q_OBJECT
private slots:
    void init();
    void dragOver_data();
    void dragOver();
    void drop_data();
    void drop();
    // The paths go to the list in batches, one before each turn of the window: with a turn
    // after every path, every batch ends at a path, and at every folder's end.
    void dropInBatchesOfOne_data() { drop_data(); }
    void dropInBatchesOfOne() { drop(); }
    void foldersThatFail_data();
    void foldersThatFail();
    void secondDropWaitsForTheFirst();
    void escapeEndsTheDropAndThoseWaiting();
    void dropsWaitForTheSortAside_data();
    void dropsWaitForTheSortAside();
    void closingEndsADrop(); // last: once the program ends, no event loop turns again

private:
    std::unique_ptr<ScriptedUserInterface> m_ui;
    std::unique_ptr<MainWindow> m_window;
    QTemporaryDir m_folder;
};

void TestDropFiles::init() {
    m_window.reset();
    m_ui = std::make_unique<ScriptedUserInterface>();
    m_window = std::make_unique<MainWindow>(m_ui.get(), m_folder.path());
}

void TestDropFiles::dragOver_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("taken");
    QTest::newRow("local files") << "files" << true;
    QTest::newRow("text") << "text" << false;
    QTest::newRow("web link") << "web" << false;
    QTest::newRow("local files and a web link") << "mixed" << false;
    QTest::newRow("list items") << "items" << false;
}

void TestDropFiles::dragOver() {
    QFETCH(QString, kind);
    QFETCH(bool, taken);
    const QUrl file = QUrl::fromLocalFile(m_folder.path());
    const QUrl web(QStringLiteral("https://example.org/list.txt"));
    QMimeData data;
    if (kind == u"files")
        data.setUrls({file});
    else if (kind == u"text")
        data.setText(QStringLiteral("/etc/hostname"));
    else if (kind == u"web")
        data.setUrls({web});
    else if (kind == u"mixed")
        data.setUrls({file, web});
    else
        data.setData(QStringLiteral("application/x-qabstractitemmodeldatalist"), QByteArray(8, 0));
    LineListView* input = m_window->inputView();
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(input->viewport(), &enter);
    QCOMPARE(enter.isAccepted(), taken);
    if (taken) {
        QDragMoveEvent move(QPoint(25, 25), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(input->viewport(), &move);
        QVERIFY(move.isAccepted());
        QDragLeaveEvent leave;
        QApplication::sendEvent(input->viewport(), &leave);
    }
    // The results list takes no drops at all.
    QDragEnterEvent other(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(m_window->resultsView()->viewport(), &other);
    QVERIFY(!other.isAccepted());
}

void TestDropFiles::drop_data() {
    QTest::addColumn<Bytes>("tree");
    QTest::addColumn<Bytes>("dropped");
    QTest::addColumn<Bytes>("added");

    QTest::newRow("one file, its path as given")
        << Bytes{"a.txt"} << Bytes{"a.txt"} << Bytes{"a.txt"};
    QTest::newRow("three files in the source's order")
        << Bytes{"a", "b", "c"} << Bytes{"c", "a", "b"} << Bytes{"c", "a", "b"};
    QTest::newRow("own files, then each sub-folder's")
        << Bytes{"d/", "d/b.txt", "d/a.txt", "d/sub/", "d/sub/c.txt"} << Bytes{"d"}
        << Bytes{"d/a.txt", "d/b.txt", "d/sub/c.txt"};
    QTest::newRow("level by level, each folder in list order")
        << Bytes{"d/", "d/B/", "d/a/", "d/a/deep/", "d/a/deep/3", "d/B/2", "d/a/1", "d/0"}
        << Bytes{"d"} << Bytes{"d/0", "d/a/1", "d/B/2", "d/a/deep/3"};
    QTest::newRow("tilde names and hidden regular files left out")
        << Bytes{"d/", "d/~tmp", "d/.hidden", "d/.fifo|", "d/x", "d/.link -> x"} << Bytes{"d"}
        << Bytes{"d/.fifo", "d/.link", "d/x"};
    QTest::newRow("hidden folder walked, links to folders not")
        << Bytes{"d/", "d/.h/", "d/.h/1", "d/up -> ..", "d/self -> .", "d/2"} << Bytes{"d"}
        << Bytes{"d/2", "d/.h/1"};
    QTest::newRow("FIFO added without blocking")
        << Bytes{"d/", "d/pipe|"} << Bytes{"d"} << Bytes{"d/pipe"};
    QTest::newRow("unsafe folder names skipped; a file name not UTF-8 kept")
        << Bytes{"d/",          "d/ctl\x01/", "d/ctl\x01/1", "d/bad\xff/",
                 "d/bad\xff/2", "d/what?/",   "d/what?/3",   "d/file\xff"}
        << Bytes{"d"} << Bytes{"d/file\xff"};
    QTest::newRow("dropped file not UTF-8") << Bytes{"f\xff"} << Bytes{"f\xff"} << Bytes{"f\xff"};
    // A list line never holds a line break: saved, it would become two lines.
    QTest::newRow("names with a line break left out")
        << Bytes{"a\nb", "c\rd", "e", "d/", "d/f\ng", "d/h"} << Bytes{"a\nb", "c\rd", "e", "d"}
        << Bytes{"e", "d/h"};
    QTest::newRow("dropped folder not UTF-8")
        << Bytes{"bad\xff/", "bad\xff/1"} << Bytes{"bad\xff"} << Bytes{"bad\xff/1"};
    QTest::newRow("empty folder adds nothing") << Bytes{"d/"} << Bytes{"d"} << Bytes{};
    QTest::newRow("two folders at once, each tree whole")
        << Bytes{"d/", "d/1", "d/s/", "d/s/2", "e/", "e/3", "e/t/", "e/t/4"} << Bytes{"e", "d"}
        << Bytes{"e/3", "e/t/4", "d/1", "d/s/2"};
    QTest::newRow("dropped link to a folder: its own files only")
        << Bytes{"d/", "d/1", "d/s/", "d/s/2", "l -> d"} << Bytes{"l"} << Bytes{"l/1"};
    QTest::newRow("final separator cleaned from added paths")
        << Bytes{"d/", "d/1"} << Bytes{"d/"} << Bytes{"d/1"};
    QTest::newRow("missing path and dangling link added unchanged")
        << Bytes{"dangling -> nowhere"} << Bytes{"missing", "dangling"}
        << Bytes{"missing", "dangling"};
    QTest::newRow("folder with a line break in its name adds none of its files")
        << Bytes{"a\nb/", "a\nb/1", "e"} << Bytes{"a\nb", "e"} << Bytes{"e"};
    QTest::newRow("doubled separators inside a dropped path cleaned")
        << Bytes{"d/", "d/s/", "d/s/1"} << Bytes{"d//s"} << Bytes{"d/s/1"};
    QTest::newRow("dangling link in a folder left out")
        << Bytes{"d/", "d/gone -> nowhere", "d/x"} << Bytes{"d"} << Bytes{"d/x"};
    QTest::newRow("names beyond Latin-1 and not UTF-8 among plain ones")
        << Bytes{"d/", "d/plain", "d/\xe6\x97\xa5", "d/caf\xc3\xa9", "d/bad\xff", "d/s/", "d/s/x"}
        << Bytes{"d"} << Bytes{"d/bad\xff", "d/caf\xc3\xa9", "d/plain", "d/\xe6\x97\xa5", "d/s/x"};
    QTest::newRow("dropped folder beyond Latin-1")
        << Bytes{"\xe6\x97\xa5/", "\xe6\x97\xa5/B", "\xe6\x97\xa5/a"} << Bytes{"\xe6\x97\xa5"}
        << Bytes{"\xe6\x97\xa5/a", "\xe6\x97\xa5/B"};
    QTest::newRow("unreadable folder adds none of its files")
        << Bytes{"d/", "d/1", "d/locked/", "d/locked/2", "d/z/", "d/z/3", "d/locked/#"}
        << Bytes{"d"} << Bytes{"d/1", "d/z/3"};
}

void TestDropFiles::drop() {
    QFETCH(Bytes, tree);
    QFETCH(Bytes, dropped);
    QFETCH(Bytes, added);
    if (tree.contains("d/locked/#") && geteuid() == 0)
        QSKIP("root lists every folder; the fake listing in foldersThatFail stands in");
    TreeDir dir;
    makeTree(dir.bytes(), tree);
    if (QTest::currentTestFunction() == QByteArrayView("dropInBatchesOfOne"))
        m_window->state().pump().setInterval(std::chrono::microseconds(0));
    dropOn(m_window->inputView(), fileDrag(under(dir.bytes(), dropped)));
    chmod(dir.bytes() + "/d/locked", 0755);
    QCOMPARE(itemBytes(m_window->state().input()), under(dir.bytes(), added));
    QVERIFY(m_ui->messages.isEmpty());
}

void TestDropFiles::foldersThatFail_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("atLookUp");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<int>("reportedLine"); // 0: no report

    // Without failures the drop adds f, a/f, b/f, a/x/f, b/y/f.
    QTest::newRow("access denied to a sub-folder")
        << "a/" << 70 << false << QStringList{"f", "b/f", "b/y/f"} << 0;
    QTest::newRow("sub-folder gone")
        << "a/" << 76 << false << QStringList{"f", "b/f", "b/y/f"} << 0;
    QTest::newRow("other failure: own files stay, nothing below")
        << "a/" << 57 << false << QStringList{"f", "a/f", "b/f", "b/y/f"} << 0;
    QTest::newRow("access denied to the dropped folder") << "" << 70 << false << QStringList{} << 0;
    QTest::newRow("look-up failure before any listing is reported")
        << "" << 57 << true << QStringList{"f"} << 112;
    QTest::newRow("look-up failure once listing began is not")
        << "b/" << 57 << true << QStringList{"f", "a/f", "b/f", "a/x/f"} << 0;
    QTest::newRow("look-up denied once listing began removes the folder")
        << "b/" << 70 << true << QStringList{"f", "a/f", "a/x/f"} << 0;
    QTest::newRow("tree mounted inside itself walked once")
        << "a/x/" << 0 << true << QStringList{"f", "a/f", "b/f", "b/y/f"} << 0;
}

void TestDropFiles::foldersThatFail() {
    QFETCH(QString, folder);
    QFETCH(int, number);
    QFETCH(bool, atLookUp);
    QFETCH(QStringList, added);
    QFETCH(int, reportedLine);
    TreeDir dir;
    makeTree(dir.bytes(), {"f", "a/", "a/f", "a/x/", "a/x/f", "b/", "b/f", "b/y/", "b/y/f"});
    FailingFileSystem fs;
    fs.path = dir.path() + u'/' + folder;
    fs.number = number;
    fs.atLookUp = atLookUp;
    WindowState& form = m_window->state();
    DropQueue queue;
    addDroppedPaths(form, queue, {dir.path()}, fs);
    Bytes expected;
    for (const QString& f : added)
        expected.append(f.toUtf8());
    QCOMPARE(itemBytes(form.input()), under(dir.bytes(), expected));
    QStringList reports;
    for (const auto& m : std::as_const(m_ui->messages))
        reports.append(m.text.section(u'\n', 1, 1).section(u'\r', 0, 0));
    const QString line = locations::folderWalk + QStringLiteral("at line %1").arg(reportedLine);
    QCOMPARE(reports, reportedLine ? QStringList{line} : QStringList{});
}

void TestDropFiles::secondDropWaitsForTheFirst() {
    TreeDir dir;
    Bytes tree{"a/", "b/"}, first, second{"b/x"};
    for (int i = 0; i < 40; ++i) {
        const QByteArray sub = "a/" + QByteArray::number(10 + i);
        tree << sub + '/' << sub + "/f";
        first << sub + "/f";
    }
    makeTree(dir.bytes(), tree << "b/x");
    LineListModel& input = m_window->state().input();
    m_window->state().pump().setInterval(std::chrono::microseconds(0));
    // The second drop comes while the first hands over its first batch, so it is taken
    // up by the first drop's next turn of the event loop.
    Bytes seenThen;
    connect(&input, &QAbstractItemModel::rowsInserted, this, [&] {
        if (!seenThen.isEmpty())
            return;
        seenThen = itemBytes(input);
        dropOn(m_window->inputView(), fileDrag({dir.bytes() + "/b"}));
    });
    dropOn(m_window->inputView(), fileDrag({dir.bytes() + "/a"}));
    QVERIFY(!seenThen.isEmpty() && seenThen.size() < first.size());
    QTRY_COMPARE(itemBytes(input), under(dir.bytes(), first + second));
}

// Escape keeps what the drop added so far, and the drops waiting for it are not taken up.
void TestDropFiles::escapeEndsTheDropAndThoseWaiting() {
    TreeDir dir;
    Bytes tree{"a/", "b/", "b/x"};
    for (int i = 0; i < 40; ++i) {
        const QByteArray sub = "a/" + QByteArray::number(10 + i);
        tree << sub + '/' << sub + "/f";
    }
    makeTree(dir.bytes(), tree);
    LineListModel& input = m_window->state().input();
    m_window->state().pump().setInterval(std::chrono::microseconds(0));
    Bytes seenThen;
    connect(&input, &QAbstractItemModel::rowsInserted, this, [&] {
        if (!seenThen.isEmpty())
            return;
        seenThen = itemBytes(input);
        dropOn(m_window->inputView(), fileDrag({dir.bytes() + "/b"}));
        QTest::keyClick(m_window->inputView(), Qt::Key_Escape);
    });
    dropOn(m_window->inputView(), fileDrag({dir.bytes() + "/a"}));
    QVERIFY(!seenThen.isEmpty() && seenThen.size() < 40);
    QCoreApplication::processEvents();
    QCOMPARE(itemBytes(input), seenThen);
    const CommandProgress& progress = m_window->state().progress();
    QVERIFY(!progress.isRunning());
    QCOMPARE(progress.place(), CommandProgress::Place::Input);
    QCOMPARE(progress.text(), summaries::droppedCancelled(seenThen.size()));
    // The next drop is no longer cancelled.
    dropOn(m_window->inputView(), fileDrag({dir.bytes() + "/b"}));
    QTRY_COMPARE(input.count(), seenThen.size() + 1);
}

void TestDropFiles::closingEndsADrop() {
    TreeDir dir;
    Bytes tree{"a/"};
    for (int i = 0; i < 40; ++i)
        tree << "a/" + QByteArray::number(i) + '/' << "a/" + QByteArray::number(i) + "/f";
    makeTree(dir.bytes(), tree);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->state().pump().setInterval(std::chrono::microseconds(0));
    LineListModel& input = m_window->state().input();
    connect(&input, &QAbstractItemModel::rowsInserted, m_window.get(), &QWidget::close);
    dropOn(m_window->inputView(), fileDrag({dir.bytes() + "/a"}));
    QVERIFY(!m_window->isVisible());
    QVERIFY(input.count() < 40);
    QVERIFY(m_ui->messages.isEmpty());
}

void TestDropFiles::dropsWaitForTheSortAside_data() {
    QTest::addColumn<bool>("droppedBefore");
    // Regression: a drop is no user input to the loop that waits for the sort, so its folder
    // walk (whose turns take clicks again) started while the sort still ran.
    QTest::newRow("a drag while it sorts is turned away") << false;
    // Regression: the handling of a drop taken just before, queued, ran inside the wait and
    // changed the list the sort was copying.
    QTest::newRow("a drop taken just before waits") << true;
}

void TestDropFiles::dropsWaitForTheSortAside() {
    QFETCH(bool, droppedBefore);
    TreeDir dir;
    makeTree(dir.bytes(), {"a.txt"});
    LineListModel& input = m_window->state().input();
    QStringList lines;
    for (int i = 0; i < 30000; ++i)
        lines.append(QString::number(30000 - i)); // enough to be sorted aside
    input.appendBatch(lines);
    const auto dragIsTaken = [&] {
        std::unique_ptr<QMimeData> data(fileDrag({dir.bytes() + "/a.txt"}));
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, data.get(), Qt::LeftButton, {});
        QApplication::sendEvent(m_window->inputView()->viewport(), &enter);
        return enter.isAccepted();
    };
    if (droppedBefore) {
        // Taken, and its handling queued: the sort starts before it runs.
        std::unique_ptr<QMimeData> data(fileDrag({dir.bytes() + "/a.txt"}));
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, data.get(), Qt::LeftButton, {});
        QApplication::sendEvent(m_window->inputView()->viewport(), &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, data.get(), Qt::LeftButton, {});
        QApplication::sendEvent(m_window->inputView()->viewport(), &drop);
    }
    // The command turns no event loop before its work goes aside: the first turn is that wait.
    std::optional<bool> takenDuringSort;
    qsizetype countDuringSort = -1;
    QTimer::singleShot(0, this, [&] {
        takenDuringSort = dragIsTaken();
        countDuringSort = input.count();
    });
    showCorrectOrder(m_window->state());
    QCOMPARE(takenDuringSort, std::optional<bool>(false));
    QCOMPARE(countDuringSort, 30000);
    QVERIFY(dragIsTaken());
    QTRY_COMPARE(input.count(), droppedBefore ? 30001 : 30000);
}

QTEST_MAIN(TestDropFiles)
#include "tst_dropfiles.moc"

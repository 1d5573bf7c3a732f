#include "commands/folderwalk.h"
#include "commands/windowstate.h"
#include "tests/support/filetree.h"
#include "tests/support/scripteduserinterface.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

class TestFolderWalk : public QObject {
    Q_OBJECT
private slots:
    void fileNames_data();
    void fileNames();
    void entries_data();
    void entries();
    void listOrder_data();
    void listOrder();
    void rootFolders();
    void deepTreeStopsAtThePathLimit();
    void largeFolderListedWhole();
};

void TestFolderWalk::fileNames_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("unsafe");
    QTest::newRow("plain") << QByteArray("notes 2021.txt") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("letters beyond ASCII") << QByteArray("caf\xc3\xa9 \xe6\x97\xa5") << false;
    QTest::newRow("emoji, a surrogate pair") << QByteArray("\xf0\x9f\x98\x80") << false;
    QTest::newRow("control character") << QByteArray("a\tb") << true;
    QTest::newRow("delete") << QByteArray("a\x7f") << true;
    QTest::newRow("C1 control") << QByteArray("a\xc2\x85") << true;
    QTest::newRow("question mark") << QByteArray("why?") << true;
    QTest::newRow("replacement character") << QByteArray("\xef\xbf\xbd") << true;
    QTest::newRow("byte that is not UTF-8") << QByteArray("bad\xff.txt") << true;
    QTest::newRow("overlong slash") << QByteArray("a\xc0\xaf") << true;
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << true;
    QTest::newRow("cut-off sequence") << QByteArray("ab\xe6\x97") << true;
    QTest::newRow("bad byte after a pair") << QByteArray("\xf0\x9f\x98\x80\xdc") << true;
}

void TestFolderWalk::fileNames() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, unsafe);
    const QString name = decodeFileName(bytes);
    QCOMPARE(encodeFileName(name), bytes);
    QCOMPARE(hasUnsafeCharacters(name), unsafe);
}

void TestFolderWalk::entries_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("value"); // -1: none
    QTest::addColumn<bool>("openable");
    QTest::newRow("regular file") << QByteArray("file") << 32 << true;
    QTest::newRow("hidden file") << QByteArray(".file") << 34 << true;
    QTest::newRow("folder") << QByteArray("dir") << 16 << false;
    QTest::newRow("hidden folder") << QByteArray(".dir") << 18 << false;
    QTest::newRow("link to a folder") << QByteArray("to-dir") << 1046 << false;
    QTest::newRow("link to a file") << QByteArray("to-file") << 1056 << true;
    QTest::newRow("hidden link to a file") << QByteArray(".to-file") << 1058 << true;
    QTest::newRow("dangling link") << QByteArray("dangling") << 1024 << false;
    QTest::newRow("FIFO, which must not block") << QByteArray("fifo") << 0 << true;
    QTest::newRow("hidden FIFO") << QByteArray(".fifo") << 2 << true;
    QTest::newRow("name not UTF-8") << QByteArray("bad\xff") << 32 << true;
    QTest::newRow("missing") << QByteArray("missing") << -1 << false;
}

void TestFolderWalk::entries() {
    QFETCH(QByteArray, name);
    QFETCH(int, value);
    QFETCH(bool, openable);
    TreeDir dir;
    const QByteArray root = dir.path().toUtf8();
    makeTree(root, {"file", ".file", "dir/", ".dir/", "to-dir -> dir", "to-file -> file",
                    ".to-file -> file", "dangling -> nowhere", "fifo|", ".fifo|", "bad\xff"});
    const QString path = decodeFileName(root + '/' + name);
    const FileSystem& fs = realFileSystem();
    QCOMPARE(fs.attributes(path).value_or(-1), value);
    QCOMPARE(isFolderPath(path), value >= 0 && (value & attribute::Directory));
    QCOMPARE(isOpenableFile(path), openable);
    // The listing answers the open test from its own reads; it must agree with it, and
    // the same when the folder does not say what kind each entry is.
    for (const FileSystem* listing : {&fs, &realFileSystemWithoutEntryTypes()}) {
        bool listed = false;
        const ListedFiles files = listFolderFiles(dir.path(), *listing);
        for (const ListedFile& file : files) {
            if (files.nameBytes(file) == name) {
                listed = true;
                QCOMPARE(file.attributes, value);
            }
        }
        QCOMPARE(listed, openable);
        const QStringList folders = listing->list(dir.path() + u'/').subFolderNames;
        QCOMPARE(folders.contains(decodeFileName(name)), isFolderPath(path));
    }
}

void TestFolderWalk::listOrder_data() {
    QTest::addColumn<QList<QByteArray>>("names"); // as made
    QTest::addColumn<QList<QByteArray>>("order");

    using Names = QList<QByteArray>;
    QTest::newRow("one name in two cases: capitals first")
        << Names{"b", "A", "a", "B"} << Names{"A", "a", "B", "b"};
    // Unlowered, capitals would come before "_" and lower-case letters after it.
    QTest::newRow("lowered before compared")
        << Names{"a_", "aB", "ab", "Ab"} << Names{"a_", "Ab", "aB", "ab"};
    QTest::newRow("a beginning before the longer name")
        << Names{"abcdefghij", "abc", "abcdefgh", "ab"}
        << Names{"ab", "abc", "abcdefgh", "abcdefghij"};
    QTest::newRow("alike in the first eight bytes, lowered after them")
        << Names{"longname-B", "LONGNAME-c", "longname-a"}
        << Names{"longname-a", "longname-B", "LONGNAME-c"};
    QTest::newRow("alike but for case, the first case difference decides")
        << Names{"longname-x", "longname-X", "LONGNAME-X", "Longname-x"}
        << Names{"LONGNAME-X", "Longname-x", "longname-X", "longname-x"};
    QTest::newRow("digits and dots as units, no number order")
        << Names{"item10.txt", "item9.txt", "Item2.txt", "item1.txt"}
        << Names{"item1.txt", "item10.txt", "Item2.txt", "item9.txt"};
    // UTF-8's byte order would put the fullwidth A before the emoji.
    QTest::newRow("beyond ASCII: UTF-16 units, lowered")
        << Names{"\xef\xbc\xa1", "\xf0\x9f\x98\x80", "z", "\xc3\xa4", "\xc3\x84"}
        << Names{"z", "\xc3\x84", "\xc3\xa4", "\xf0\x9f\x98\x80", "\xef\xbc\xa1"};
    QTest::newRow("a byte that is not UTF-8 among ASCII names")
        << Names{"b", "a\xff", "A"} << Names{"A", "a\xff", "b"};
}

void TestFolderWalk::listOrder() {
    QFETCH(QList<QByteArray>, names);
    QFETCH(QList<QByteArray>, order);
    TreeDir dir;
    makeTree(dir.bytes(), names);
    for (const FileSystem* fs : {&realFileSystem(), &realFileSystemWithoutEntryTypes()}) {
        const ListedFiles files = listFolderFiles(dir.path(), *fs);
        QList<QByteArray> listed;
        for (const ListedFile& file : files)
            listed.append(files.nameBytes(file).toByteArray());
        QCOMPARE(listed, order);
    }
}

void TestFolderWalk::rootFolders() {
    const FileSystem& fs = realFileSystem();
    QVERIFY(fs.folder(QStringLiteral("/")).isRoot);
    QCOMPARE(fs.lookUpName(QStringLiteral("/")), QString()); // so "/" dropped is no folder
    QTemporaryDir dir;
    QVERIFY(!fs.folder(dir.path()).isRoot);
    // A link to the root is a linked folder, never a root: it must not be walked.
    makeTree(dir.path().toUtf8(), {"up -> /"});
    const FolderInfo link = fs.folder(dir.filePath(QStringLiteral("up")));
    QVERIFY(!link.isRoot);
    QCOMPARE(link.attributes, attribute::LinkedFolder);
    struct stat rootStatus, proc;
    if (stat("/", &rootStatus) != 0 || stat("/proc", &proc) != 0 ||
        proc.st_dev == rootStatus.st_dev)
        QSKIP("no mount point at /proc to test");
    QVERIFY(fs.folder(QStringLiteral("/proc/")).isRoot);
}

void TestFolderWalk::deepTreeStopsAtThePathLimit() {
    // Deeper than any path can name: built and removed relative to each level.
    QTemporaryDir dir;
    const QByteArray level = "level-0123456789";
    const int depth = 400; // 17 bytes a level: far past 4096
    int fd = open(dir.path().toUtf8().constData(), O_DIRECTORY | O_RDONLY);
    QList<int> fds{fd};
    for (int i = 0; i < depth; ++i) {
        QCOMPARE(mkdirat(fd, level.constData(), 0755), 0);
        fd = openat(fd, level.constData(), O_DIRECTORY | O_RDONLY);
        QVERIFY(fd >= 0);
        fds.append(fd);
    }
    ScriptedUserInterface ui;
    WindowState form(ui);
    QStringList folders{dir.path() + u'/'};
    addSubfolders(form, folders, true);
    for (int i = depth; i > 0; --i) {
        close(fds.takeLast());
        unlinkat(fds.last(), level.constData(), AT_REMOVEDIR);
    }
    close(fds.takeLast());

    QVERIFY(ui.messages.isEmpty());
    QCOMPARE(folders.first(), dir.path() + u'/');
    for (qsizetype i = 1; i < folders.size(); ++i)
        QCOMPARE(folders[i], folders[i - 1] + QString::fromLatin1(level) + u'/');
    // The walk went down to the limit and no further.
    const qsizetype deepest = encodeFileName(folders.last()).size();
    QVERIFY(deepest < PathLimit + level.size() + 1);
    QVERIFY(deepest >= PathLimit - 2 * (level.size() + 1));
}

// More names than one read of a folder returns: every read is taken, not just the first.
void TestFolderWalk::largeFolderListedWhole() {
    QTemporaryDir dir;
    const QByteArray name(200, 'n');
    for (int i = 0; i < 600; ++i) {
        QFile file(dir.path() + u'/' + QString::fromLatin1(name) + QString::number(i));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const FolderListing listing = realFileSystem().list(dir.path());
    QCOMPARE(listing.files.size(), 600);
    QCOMPARE(listing.subFolderNames, QStringList{QStringLiteral("sub")});
}

QTEST_GUILESS_MAIN(TestFolderWalk)
#include "tst_folderwalk.moc"

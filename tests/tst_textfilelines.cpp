#include "core/failure.h"
#include "core/memorypolicy.h"
#include "files/cleanpathslashes.h"
#include "files/fileexists.h"
#include "tests/support/testfiles.h"
#include "tests/support/textfilecases.h"
#include "tests/support/textreaders.h"

#include <QDir>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <bit>
#include <vector>

#include <sys/stat.h>

using namespace varnel;
using namespace varnel::testing;

class TestTextFileLines : public QObject {
    Q_OBJECT
private slots:
    void bothReaders_data() { textFileRows(); }
    void bothReaders();
    void cutInPieces_data();
    void cutInPieces();
    void cleanPathSlashes_data();
    void cleanPathSlashes();
    void fileExists_data();
    void fileExists();
    void reading_data();
    void reading();
    void stopsWithinAStride_data();
    void stopsWithinAStride();
    void cutShortWhileRead();
    void readBytesLetGo();
    void heldOneByteWhereItFits_data();
    void heldOneByteWhereItFits();
    void memoryGroups_data();
    void memoryGroups();
    void memoryFileValue_data();
    void memoryFileValue();
};

void TestTextFileLines::bothReaders() {
    // The whole text decoded and split, the window's reader and the command line's.
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(textFileLines(bytes), lines);
    QTemporaryDir folder;
    writeFile(folder.filePath("list.txt"), bytes);
    QCOMPARE(readTextFileLines(folder.filePath("list.txt")), lines);
    const QString mismatch = streamMismatch(bytes, streamOf(lines));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

namespace {

// The lines cutLines gives for `text` handed in up to each of `pieceEnds` and then whole, as
// "line/break length" joined by commas; with `stopEach`, the sink stops it after every line.
template <typename Unit>
QString linesCutInPieces(const std::vector<Unit>& text, const QList<qsizetype>& pieceEnds,
                         bool stopEach) {
    QStringList lines;
    LineCuts cuts;
    const auto take = [&](qsizetype from, qsizetype length, qsizetype next) {
        QString line;
        for (qsizetype i = from; i < from + length; ++i)
            line += QChar(char16_t(text[size_t(i)]));
        lines.append(line + u'/' + QString::number(next - from - length));
        return !stopEach;
    };
    QList<qsizetype> ends = pieceEnds;
    ends.append(qsizetype(text.size()));
    for (const qsizetype end : ends) {
        const bool atEnd = end == qsizetype(text.size());
        while (!cutLines(text.data(), end, atEnd, cuts, take)) {
        }
    }
    return lines.join(u',');
}

// The lengths of the lines lineEndBits ends, sixty-four units at a time: each from the break
// before it.
QString endsByMasks(const QByteArray& text) {
    QStringList lengths;
    bool afterCr = false;
    qsizetype start = 0;
    for (qsizetype at = 0; at < text.size(); at += 64) {
        quint64 crs = 0;
        quint64 lfs = 0;
        for (qsizetype i = at; i < std::min(at + 64, text.size()); ++i) {
            crs |= quint64(text[i] == '\r') << (i - at);
            lfs |= quint64(text[i] == '\n') << (i - at);
        }
        const quint64 ends = lineEndBits(crs, lfs, afterCr);
        for (quint64 bits = crs | lfs; bits != 0; bits &= bits - 1) {
            const qsizetype at64 = std::countr_zero(bits);
            if ((ends >> at64) & 1)
                lengths.append(QString::number(at + at64 - start));
            start = at + at64 + 1;
        }
        afterCr = crs >> 63;
    }
    return lengths.join(u',');
}

} // namespace

void TestTextFileLines::cutInPieces_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<qsizetype>>("pieceEnds");
    QTest::addColumn<QString>("lines");
    const QByteArray x63(63, 'x');
    const QString x63Line = QString(63, u'x');
    QTest::newRow("CR ending a piece, its LF next")
        << QByteArray("a\r\nb") << QList<qsizetype>{2} << "a/2,b/0";
    QTest::newRow("CR ending a piece, a line next")
        << QByteArray("a\rb\n") << QList<qsizetype>{2} << "a/1,b/1";
    QTest::newRow("CR ending two pieces, then LF")
        << QByteArray("a\r\n") << QList<qsizetype>{2, 2} << "a/2";
    QTest::newRow("CR ending the text") << QByteArray("a\r") << QList<qsizetype>{} << "a/1";
    QTest::newRow("CR CR across pieces")
        << QByteArray("a\r\rb") << QList<qsizetype>{2, 3} << "a/1,/1,b/0";
    QTest::newRow("final break ends the last line")
        << QByteArray("a\nb\r\n") << QList<qsizetype>{} << "a/1,b/2";
    QTest::newRow("empty lines") << QByteArray("\n\r\n\r") << QList<qsizetype>{1, 3} << "/1,/2,/1";
    QTest::newRow("a line over three pieces")
        << QByteArray("abcdef\nz") << QList<qsizetype>{2, 4} << "abcdef/1,z/0";
    QTest::newRow("CR LF across sixty-four units") << x63 + "\r\nb\r\n"
                                                   << QList<qsizetype>{} << x63Line + "/2,b/2";
    QTest::newRow("CR LF across sixty-four units and pieces")
        << x63 + "\r\nb" << QList<qsizetype>{64} << x63Line + "/2,b/0";
    QTest::newRow("LF at unit sixty-four after a CR") << x63 + "\r\n\n"
                                                      << QList<qsizetype>{65} << x63Line + "/2,/1";
    QTest::newRow("no break") << QByteArray("abc") << QList<qsizetype>{1} << "abc/0";
    QTest::newRow("empty") << QByteArray() << QList<qsizetype>{0} << "";
}

// Every reader cuts its text a piece at a time, bytes or UTF-16 units, and may stop after
// any line: the lines and their breaks stay the same. The masks the decoder cutting as it
// decodes takes agree.
void TestTextFileLines::cutInPieces() {
    QFETCH(QByteArray, text);
    QFETCH(QList<qsizetype>, pieceEnds);
    QFETCH(QString, lines);
    const std::vector<char> bytes(text.begin(), text.end());
    const std::vector<char16_t> units(text.begin(), text.end());
    for (const bool stopEach : {false, true}) {
        QCOMPARE(linesCutInPieces(bytes, pieceEnds, stopEach), lines);
        QCOMPARE(linesCutInPieces(units, pieceEnds, stopEach), lines);
    }
    QStringList lengths;
    for (const QString& line : lines.split(u',', Qt::SkipEmptyParts))
        if (!line.endsWith(u"/0"))
            lengths.append(QString::number(line.indexOf(u'/')));
    QCOMPARE(endsByMasks(text), lengths.join(u','));
}

void TestTextFileLines::cleanPathSlashes_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("cleaned");
    const auto row = [](const char* name, const char* path, const char* separator,
                        const char* cleaned) {
        QTest::newRow(name) << QString::fromLatin1(path) << QString::fromLatin1(separator)
                            << QString::fromLatin1(cleaned);
    };
    row("drive root", R"(C:\\a.txt)", R"(\)", R"(C:\a.txt)");
    row("clean path", R"(D:\lists\a.txt)", R"(\)", R"(D:\lists\a.txt)");
    row("network path", R"(\\server\share\\a.txt)", R"(\)", R"(\\server\share\a.txt)");
    row("three become two", R"(a\\\b)", R"(\)", R"(a\\b)");
    row("four become two", R"(a\\\\b)", R"(\)", R"(a\\b)");
    row("leading run becomes two", R"(\\\\a)", R"(\)", R"(\\a)");
    row("slash path", "/home/me//a.txt", "/", "/home/me/a.txt");
    row("leading slashes become one", "///home//a.txt", "/", "/home/a.txt");
    row("only slashes", "//", "/", "/");
}

void TestTextFileLines::cleanPathSlashes() {
    QFETCH(QString, path);
    QFETCH(QString, separator);
    QFETCH(QString, cleaned);
    QCOMPARE(varnel::cleanPathSlashes(path, separator.at(0)), cleaned);
}

void TestTextFileLines::fileExists_data() {
    QTest::addColumn<QString>("name"); // in a folder holding "a.txt", "sub" and "dangling"
    QTest::addColumn<bool>("exists");
    QTest::newRow("file") << "a.txt" << true;
    QTest::newRow("folder") << "sub" << true;
    QTest::newRow("missing") << "b.txt" << false;
    QTest::newRow("dangling link") << "dangling" << false;
}

void TestTextFileLines::fileExists() {
    QFETCH(QString, name);
    QFETCH(bool, exists);
    QTemporaryDir folder;
    writeFile(folder.filePath("a.txt"), "x");
    QVERIFY(QDir(folder.path()).mkdir("sub"));
    QVERIFY(QFile::link(folder.filePath("gone"), folder.filePath("dangling")));
    QCOMPARE(varnel::fileExists(folder.filePath(name)), exists);
}

void TestTextFileLines::reading_data() {
    QTest::addColumn<QString>("path"); // "@": a temporary folder holding list.txt
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<QString>("failure");
    const qint64 plenty = 1 << 20;
    QTest::newRow("fits") << "@/list.txt" << QByteArray(1000, 'x') << plenty << QString();
    // Files are read a quarter MiB at a time: what a piece's end cuts must come out whole,
    // and what turns out not to be UTF-8 late is read again as what it is.
    const QByteArray piece(256 * 1024, 'x');
    QTest::newRow("two-byte character across pieces")
        << "@/list.txt" << piece.first(piece.size() - 1) + "\xC3\xA9\nb" << plenty << QString();
    QTest::newRow("four-byte character across pieces")
        << "@/list.txt" << piece.first(piece.size() - 2) + "\xF0\x9F\x98\x80" << plenty
        << QString();
    QTest::newRow("CR LF across pieces")
        << "@/list.txt" << piece.first(piece.size() - 1) + "\r\nb\r\rc" << plenty << QString();
    QTest::newRow("CR ending a piece, a line after it")
        << "@/list.txt" << piece.first(piece.size() - 1) + "\rb\n"
        << plenty << QString();
    // Cut as they are decoded, lines hand over to the plain way at a wider character.
    QTest::newRow("CR ending a piece, its LF and a wider character after it")
        << "@/list.txt" << piece.first(piece.size() - 1) + "\r\n\xE2\x82\xAC\n"
        << plenty << QString();
    QTest::newRow("letters and a wider character in one block")
        << "@/list.txt" << QByteArray("a\r\nd\xC3\xA9j\xC3\xA0\n\n\xE2\x82\xAC 5\r\n") << plenty
        << QString();
    // Only the file's first bytes can be a mark.
    QTest::newRow("a mark starting the second piece")
        << "@/list.txt" << piece.first(piece.size() - 1) + "\n\xEF\xBB\xBF" + "b" << plenty
        << QString();
    QTest::newRow("wider character in the second piece")
        << "@/list.txt" << piece + "\nd\xC3\xA9j\xC3\xA0\n\xE2\x82\xAC 5\r\nz" << plenty
        << QString();
    QTest::newRow("not UTF-8 in the second piece") << "@/list.txt" << piece + "\nd\xE9j\xE0\n"
                                                   << plenty << QString();
    QTest::newRow("marked UTF-8, broken in the second piece")
        << "@/list.txt"
        << "\xEF\xBB\xBF" + piece + "\xC3(" << plenty << QString();
    QTest::newRow("cut short at the end")
        << "@/list.txt" << piece + "\xE2\x82" << plenty << QString();
    // A file is taken from its mapping, which ends with its last page: nothing may be read
    // past its last byte.
    const QByteArray pages(8192, 'x');
    QTest::newRow("ends with its last page, ASCII")
        << "@/list.txt" << pages.first(pages.size() - 1) + "\n"
        << plenty << QString();
    QTest::newRow("ends with its last page, one byte a character")
        << "@/list.txt" << pages.first(pages.size() - 3) + "\n\xC3\xA9" << plenty << QString();
    QTest::newRow("ends with its last page, wider characters")
        << "@/list.txt"
        << "\xE2\x82\xAC" + pages.first(pages.size() - 4) + "\n"
        << plenty << QString();
    QTest::newRow("UTF-16") << "@/list.txt"
                            << QByteArray("\xFF\xFE"
                                          "a\0\n\0b\0",
                                          8)
                            << plenty << QString();
    // A file is let in when three bytes a byte fit (its text, read one byte a character,
    // may turn out to need UTF-16), each line twenty-four bytes more.
    QTest::newRow("text beyond memory")
        << "@/list.txt" << QByteArray(1000, 'x') << qint64(1999) << "Out of memory";
    QTest::newRow("lines beyond memory")
        << "@/list.txt" << QByteArray(1000, '\n') << qint64(20000) << "Out of memory";
    QTest::newRow("missing file") << "@/missing.txt" << QByteArray() << plenty << "File not found";
    QTest::newRow("folder") << "@" << QByteArray() << plenty << "Path/File access error";
    QTest::newRow("read error") << "/proc/self/mem" << QByteArray() << plenty << "Device I/O error";
    // Neither may hang the window: a pipe waits for a writer, a device never ends.
    QTest::newRow("named pipe") << "@/pipe" << QByteArray() << plenty << "Path/File access error";
    QTest::newRow("endless device")
        << "/dev/zero" << QByteArray() << plenty << "Path/File access error";
}

void TestTextFileLines::reading() {
    QFETCH(QString, path);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, budget);
    QFETCH(QString, failure);
    QTemporaryDir folder;
    writeFile(folder.filePath("list.txt"), bytes);
    QVERIFY(::mkfifo(QFile::encodeName(folder.filePath("pipe")).constData(), 0600) == 0);
    QStringList lines;
    QString failed;
    try {
        lines = readTextFileLines(path.replace(u'@', folder.path()), budget);
    } catch (const Failure& f) {
        failed = f.description();
    }
    QCOMPARE(failed, failure);
    QCOMPARE(lines, failure.isEmpty() ? textFileLines(bytes) : QStringList());
}

void TestTextFileLines::stopsWithinAStride_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("stopAt"); // the stop point that asks to stop, from 1; 0: none
    QTest::newRow("one byte a character") << QByteArray("d\xC3\xA9j\xC3\xA0 vu\n") << 1;
    QTest::newRow("later") << QByteArray("d\xC3\xA9j\xC3\xA0 vu\n") << 2;
    QTest::newRow("Windows-1252") << QByteArray("d\xE9j\xE0 vu\n") << 1;
    QTest::newRow("wider characters") << QByteArray("\xE2\x82\xAC 5\r\n") << 1;
    QTest::newRow("never asked") << QByteArray("d\xC3\xA9j\xC3\xA0 vu\n") << 0;
}

// A read asked to stop ends at the next stop point, one stride after the last, and gives
// nothing; not asked, it reads on to the end.
void TestTextFileLines::stopsWithinAStride() {
    QFETCH(QByteArray, line);
    QFETCH(int, stopAt);
    QTemporaryDir folder;
    const qint64 stride = ReadStops::ReadStopStride;
    const QByteArray bytes = line.repeated(4 * stride / line.size());
    writeFile(folder.filePath("list.txt"), bytes);
    std::atomic<bool> stop = false;
    QList<qint64> told;
    ReadStops stops;
    stops.stop = &stop;
    stops.reached = [&](qint64 bytes) {
        told.append(bytes);
        if (told.size() == stopAt)
            stop = true;
    };
    bool stopped = false;
    TextFile file;
    try {
        file = readTextFile(folder.filePath("list.txt"), -1, stops);
    } catch (const ProgramEnding&) {
        stopped = true;
    }
    QCOMPARE(stopped, stopAt > 0);
    if (stopped) {
        QCOMPARE(told.size(), stopAt);
        QVERIFY(told.last() <= stopAt * (stride + (1 << 20)));
    } else {
        QVERIFY(told.size() >= 3);
        QCOMPARE(qsizetype(file.lines.size()), bytes.count('\n'));
    }
}

// Cut short by another program while it is read, a file fails to load rather than giving
// lines that were never its own.
void TestTextFileLines::cutShortWhileRead() {
    QTemporaryDir folder;
    const QString path = folder.filePath("list.txt");
    writeFile(path, QByteArray("d\xC3\xA9j\xC3\xA0 vu\n").repeated(ReadStops::ReadStopStride));
    ReadStops stops;
    stops.reached = [&](qint64) { QFile(path).resize(1000); };
    QString failed;
    try {
        readTextFile(path, -1, stops);
    } catch (const Failure& f) {
        failed = f.description();
    }
    QCOMPARE(failed, QStringLiteral("Device I/O error"));
}

// Resident pages of mapped files, in KiB.
qint64 residentFileKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("RssFile:"))
            return line.mid(8).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// A file read from its mapping leaves the process's memory as it is read: a large one would
// otherwise count twice, as its bytes and as the list's text.
void TestTextFileLines::readBytesLetGo() {
    QTemporaryDir folder;
    const QString path = folder.filePath("list.txt");
    const QByteArray line("d\xC3\xA9j\xC3\xA0 vu\n");
    const qint64 size = 12 * ReadStops::ReadStopStride;
    writeFile(path, line.repeated(size / line.size()));
    const qint64 before = residentFileKiB();
    QVERIFY(before >= 0);
    qint64 most = before;
    ReadStops stops;
    stops.reached = [&](qint64) { most = std::max(most, residentFileKiB()); };
    const TextFile file = readTextFile(path, -1, stops);
    QCOMPARE(qint64(file.lines.size()), size / line.size());
    QVERIFY2(most - before < size / 1024 / 2, qPrintable(QString::number(most - before)));
}

void TestTextFileLines::heldOneByteWhereItFits_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("oneByte");
    QTest::newRow("ASCII") << QByteArray("plain\nlist\n") << true;
    QTest::newRow("Latin-1 letters") << QByteArray("d\xC3\xA9j\xC3\xA0\n\xC3\xBF") << true;
    QTest::newRow("one wider character far on")
        << QByteArray(300000, 'x') + "\n\xE2\x82\xAC" << false;
    QTest::newRow("Windows-1252") << QByteArray("d\xE9j\xE0\n") << false;
}

void TestTextFileLines::heldOneByteWhereItFits() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, oneByte);
    QTemporaryDir folder;
    writeFile(folder.filePath("list.txt"), bytes);
    const TextFile file = readTextFile(folder.filePath("list.txt"));
    QCOMPARE(file.isLatin1, oneByte);
}

void TestTextFileLines::memoryGroups_data() {
    QTest::addColumn<QByteArray>("cgroup");
    QTest::addColumn<QByteArray>("mountInfo");
    QTest::addColumn<QStringList>("folders"); // "1 folder" or "2 folder", by version
    const QByteArray v2 = "30 24 0:26 / /sys/fs/cgroup rw,nosuid shared:4 - cgroup2 cgroup2 rw\n";
    const QByteArray v1 = "21 20 0:19 / /sys/fs/cgroup rw - tmpfs tmpfs rw,mode=755\n"
                          "32 21 0:29 / /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu\n"
                          "35 21 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
                          "41 21 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";
    QTest::newRow("desktop session, version 2")
        << QByteArray("0::/user.slice/user-1000.slice/session-2.scope\n") << v2
        << QStringList{"2 /sys/fs/cgroup/user.slice/user-1000.slice/session-2.scope",
                       "2 /sys/fs/cgroup/user.slice/user-1000.slice", "2 /sys/fs/cgroup/user.slice",
                       "2 /sys/fs/cgroup"};
    QTest::newRow("container with a namespace of its own")
        << QByteArray("0::/\n") << v2 << QStringList{"2 /sys/fs/cgroup"};
    QTest::newRow("hybrid, memory in version 1")
        << QByteArray("4:memory:/box/5fa4\n1:cpu:/\n0::/\n") << v1
        << QStringList{"1 /sys/fs/cgroup/memory/box/5fa4", "1 /sys/fs/cgroup/memory/box",
                       "1 /sys/fs/cgroup/memory", "2 /sys/fs/cgroup/unified"};
    QTest::newRow("memory among other controllers")
        << QByteArray("3:cpu,memory:/a\n")
        << QByteArray("35 21 0:32 / /cg rw shared:9 - cgroup cgroup rw,cpu,memory\n")
        << QStringList{"1 /cg/a", "1 /cg"};
    QTest::newRow("mounted from the process's own group")
        << QByteArray("5:memory:/docker/abc\n")
        << QByteArray("35 21 0:32 /docker/abc /sys/fs/cgroup/memory ro - cgroup cgroup rw,memory\n")
        << QStringList{"1 /sys/fs/cgroup/memory"};
    QTest::newRow("group outside the mount")
        << QByteArray("0::/other\n")
        << QByteArray("30 24 0:26 /docker/abc /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n")
        << QStringList{};
    QTest::newRow("blank in the mount point")
        << QByteArray("0::/a\n")
        << QByteArray("30 24 0:26 / /mnt/my\\040groups rw - cgroup2 cgroup2 rw\n")
        << QStringList{"2 /mnt/my groups/a", "2 /mnt/my groups"};
    QTest::newRow("nothing mounted") << QByteArray("0::/a\n") << QByteArray() << QStringList{};
}

void TestTextFileLines::memoryGroups() {
    QFETCH(QByteArray, cgroup);
    QFETCH(QByteArray, mountInfo);
    QFETCH(QStringList, folders);
    QList<MemoryGroupFiles> expected;
    for (const QString& folder : folders) {
        const QString path = folder.mid(2);
        if (folder.startsWith(u'1'))
            expected.append({path + "/memory.limit_in_bytes", path + "/memory.usage_in_bytes"});
        else
            expected.append({path + "/memory.max", path + "/memory.current"});
    }
    const QList<MemoryGroupFiles> files = memoryGroupFiles(cgroup, mountInfo);
    QCOMPARE(files.size(), expected.size());
    for (qsizetype i = 0; i < files.size(); ++i) {
        QCOMPARE(files[i].limit, expected[i].limit);
        QCOMPARE(files[i].usage, expected[i].usage);
    }
}

void TestTextFileLines::memoryFileValue_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("value");
    QTest::newRow("limit") << QByteArray("536870912\n") << qint64(536870912);
    QTest::newRow("no limit, version 2") << QByteArray("max\n") << qint64(-1);
    QTest::newRow("unreadable") << QByteArray() << qint64(-1);
}

void TestTextFileLines::memoryFileValue() {
    QFETCH(QByteArray, content);
    QFETCH(qint64, value);
    QCOMPARE(varnel::memoryFileValue(content), value);
}

QTEST_GUILESS_MAIN(TestTextFileLines)
#include "tst_textfilelines.moc"

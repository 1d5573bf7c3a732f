// The folders are layers: a file includes headers of its own folder and of those listed above
// it in the architecture document's table, and no file includes itself through others.
// Includes are resolved as the compiler resolves them: beside the including file first, then
// from the source root, the one include folder the targets give.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

struct Tree {
    QStringList layers;                   // lowest first
    QHash<QString, QStringList> includes; // a product file and the product files it includes
};

// The folders of the layer table, in its order: rows that start with a folder in backquotes.
QStringList layersOf(const QString& architecture) {
    QFile file(architecture);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression row(QStringLiteral("^\\| `([a-z]+)/` \\|"),
                                        QRegularExpression::MultilineOption);
    QStringList layers;
    for (auto it = row.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext();)
        layers << it.next().captured(1);
    return layers;
}

Tree readTree(const QString& root) {
    Tree tree;
    tree.layers = layersOf(root + QStringLiteral("/docs/architecture.md"));
    const QDir base(root);
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*\"([^\"]+)\""),
                                            QRegularExpression::MultilineOption);
    for (const QString& layer : std::as_const(tree.layers)) {
        QDirIterator it(root + u'/' + layer, {QStringLiteral("*.h"), QStringLiteral("*.cpp")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QStringList& targets = tree.includes[base.relativeFilePath(path)];
            const QString beside = QFileInfo(path).absolutePath();
            for (auto m = include.globalMatch(QString::fromUtf8(file.readAll())); m.hasNext();) {
                const QString name = m.next().captured(1);
                for (const QString& from : {beside, root}) {
                    const QString candidate = QDir::cleanPath(from + u'/' + name);
                    if (QFileInfo::exists(candidate)) {
                        targets << base.relativeFilePath(candidate);
                        break;
                    }
                }
            }
        }
    }
    return tree;
}

// "FILE includes TARGET", for every include that reaches a folder listed below its own or
// outside the table, and every include that comes back to where it started.
QStringList faultsOf(const Tree& tree) {
    QStringList faults;
    const auto rank = [&](const QString& file) {
        return tree.layers.indexOf(file.section(u'/', 0, 0));
    };
    for (auto it = tree.includes.cbegin(); it != tree.includes.cend(); ++it) {
        for (const QString& target : it.value()) {
            const int to = rank(target);
            if (to < 0 || to > rank(it.key()))
                faults << it.key() + QStringLiteral(" includes ") + target;
        }
    }
    // A depth-first walk: a file met again while its own includes are walked is in a circle.
    enum Mark { Unseen, Open, Done };
    QHash<QString, Mark> marks;
    std::function<void(const QString&)> walk = [&](const QString& file) {
        marks[file] = Open;
        for (const QString& target : tree.includes.value(file)) {
            if (marks.value(target) == Open)
                faults << file + QStringLiteral(" includes ") + target + QStringLiteral(" again");
            else if (marks.value(target) == Unseen)
                walk(target);
        }
        marks[file] = Done;
    };
    QStringList files = tree.includes.keys();
    files.sort();
    for (const QString& file : std::as_const(files)) {
        if (marks.value(file) == Unseen)
            walk(file);
    }
    faults.sort();
    return faults;
}

void writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class TestLayers : public QObject {
    Q_OBJECT
private slots:
    void sourceTreeKeepsItsLayers() {
        const Tree tree = readTree(QStringLiteral(VARNEL_SOURCE_DIR));
        QCOMPARE(tree.layers, (QStringList{"core", "order", "files", "text", "lists", "check",
                                           "output", "commands", "cli", "app"}));
        QVERIFY(tree.includes.size() > 100);
        QCOMPARE(faultsOf(tree), QStringList());
    }

    void faultsFound_data() {
        QTest::addColumn<QByteArray>("lowerHeader");
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("downward, from the root")
            << QByteArray("#include \"low/b.h\"\n") << QStringList();
        QTest::newRow("upward, from the root")
            << QByteArray("#include \"high/c.h\"\n") << QStringList{"low/a.h includes high/c.h"};
        QTest::newRow("upward, beside the file")
            << QByteArray("#include \"../high/c.h\"\n") << QStringList{"low/a.h includes high/c.h"};
        QTest::newRow("outside the table")
            << QByteArray("#include \"tests/t.h\"\n") << QStringList{"low/a.h includes tests/t.h"};
        QTest::newRow("in a circle within the folder")
            << QByteArray("#include \"d.h\"\n") << QStringList{"low/d.h includes low/a.h again"};
        QTest::newRow("a system header or one made by the build")
            << QByteArray("#include <vector>\n#include \"made_by_build.h\"\n") << QStringList();
    }
    void faultsFound() {
        QFETCH(QByteArray, lowerHeader);
        QFETCH(QStringList, faults);
        QTemporaryDir root;
        writeFile(root.filePath("docs/architecture.md"),
                  "| Folder | What |\n|---|---|\n| `low/` | below |\n| `high/` | above |\n");
        writeFile(root.filePath("low/a.h"), lowerHeader);
        writeFile(root.filePath("low/b.h"), "");
        writeFile(root.filePath("low/d.h"), "#include \"a.h\"\n");
        writeFile(root.filePath("high/c.h"), "#include \"low/b.h\"\n");
        writeFile(root.filePath("tests/t.h"), "");
        QCOMPARE(faultsOf(readTree(root.path())), faults);
    }
};

QTEST_GUILESS_MAIN(TestLayers)
#include "tst_layers.moc"

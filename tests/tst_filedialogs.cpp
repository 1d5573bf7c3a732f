#include "app/mainwindow.h"
#include "tests/support/modaldialogs.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace varnel;
using namespace varnel::testing;

namespace {

// Types into the dialog's file-name box, as a person does, and presses Enter.
void typeName(QFileDialog* dialog, const QString& text) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    QApplication::setActiveWindow(dialog);
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

// The names the dialog offers in its list, leaving out the ones it shows greyed.
QStringList offered(QFileDialog* dialog) {
    auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
    QStringList names;
    if (!view)
        return names;
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row) {
        const QModelIndex index = view->model()->index(row, 0, root);
        if (index.flags() & Qt::ItemIsEnabled)
            names.append(index.data().toString());
    }
    names.sort();
    return names;
}

QStringList filterChoices(QFileDialog* dialog) {
    QStringList choices;
    if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
        for (int i = 0; i < combo->count(); ++i)
            choices.append(combo->itemText(i));
    return choices;
}

// Answers the next modal dialog, a file dialog, with `answer`; one that a failed check left
// open is closed, so the command goes on and the test reports the failure.
std::unique_ptr<ModalAnswerer> answerFileDialog(std::function<void(QFileDialog*)> answer) {
    return std::make_unique<ModalAnswerer>([answer](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        if (dialog)
            answer(dialog);
        else
            QFAIL("not a file dialog");
        if (auto* open = qobject_cast<QDialog*>(widget); open && open->isVisible())
            open->reject();
    });
}

const QStringList textFilters{"Text Files (*.txt)", "All Files (*.*)"};

} // namespace

class TestFileDialogs : public QObject {
    Q_OBJECT
private slots:
    void init();
    void openSeveralAndMissingNames();
    void allFilesShowsEveryFile_data();
    void allFilesShowsEveryFile();
    void save_data();
    void save();
    void clipboard_data();
    void clipboard();

private:
    std::unique_ptr<MainWindow> showWindow();
    std::unique_ptr<QTemporaryDir> m_dir;         // the user's files
    std::unique_ptr<QTemporaryDir> m_application; // beside the program: nothing
};

void TestFileDialogs::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    m_application = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    writeFile(m_dir->filePath("a.txt"), "a1\r\na2\r\n");
    writeFile(m_dir->filePath("b.txt"), "b1");
    writeFile(m_dir->filePath("README"), "r1");
}

std::unique_ptr<MainWindow> TestFileDialogs::showWindow() {
    auto window = std::make_unique<MainWindow>(nullptr, m_application->path());
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("the main window was not shown");
    return window;
}

void TestFileDialogs::openSeveralAndMissingNames() {
    const auto window = showWindow();
    window->state().input().append(QStringLiteral("old"));
    const QString folder = m_dir->path();
    QString notFound;
    std::unique_ptr<ModalAnswerer> message;
    const auto pick = answerFileDialog([&](QFileDialog* dialog) {
        QCOMPARE(dialog->windowTitle(),
                 QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"));
        QCOMPARE(filterChoices(dialog), textFilters);
        QCOMPARE(dialog->selectedNameFilter(), textFilters.first());
        typeName(dialog, folder);
        QTRY_COMPARE(dialog->directory().absolutePath(), folder);
        QVERIFY(dialog->isVisible());
        message = answerMessageBox(notFound);
        typeName(dialog, QStringLiteral("\"b.txt\" \"missing.txt\" \"README\" \"a.txt\""));
    });
    QTest::mouseClick(window->button("PushButton4"), Qt::LeftButton);
    QVERIFY(pick->answered());
    QVERIFY(message && message->answered());
    QCOMPARE(notFound, QStringLiteral("Varnel|File not found|no icon|OK"));
    QCOMPARE(itemsOf(window->state().input()), (QStringList{"old", "b1", "r1", "a1", "a2"}));
    QCOMPARE(window->state().pointer(), Pointer::Default);
}

void TestFileDialogs::allFilesShowsEveryFile_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::newRow("open") << QByteArray("PushButton4");
    QTest::newRow("save") << QByteArray("PushButton6");
}

void TestFileDialogs::allFilesShowsEveryFile() {
    QFETCH(QByteArray, button);
    const auto window = showWindow();
    const QString folder = m_dir->path();
    const auto look = answerFileDialog([&](QFileDialog* dialog) {
        typeName(dialog, folder);
        QTRY_COMPARE(offered(dialog), (QStringList{"a.txt", "b.txt"}));
        auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        QVERIFY(combo);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(dialog->selectedNameFilter(), textFilters.last());
        QTRY_COMPARE(offered(dialog), (QStringList{"README", "a.txt", "b.txt"}));
        clickButton(dialog, QStringLiteral("Cancel"));
    });
    QTest::mouseClick(window->button(button.constData()), Qt::LeftButton);
    QVERIFY(look->answered());
    QCOMPARE(window->state().input().count(), 0);
}

void TestFileDialogs::save_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("answer"); // to the question about overwriting; empty: none asked
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Pointer>("pointer");
    QTest::newRow("typed name taken as typed")
        << "out"
        << "" << QByteArray::fromHex("626574610D0A616C7068610D0A") << Pointer::Arrow;
    QTest::newRow("over a file, Yes") << "b.txt"
                                      << "Yes" << QByteArray("beta\r\nalpha\r\n") << Pointer::Arrow;
    QTest::newRow("over a file, No") << "b.txt"
                                     << "No" << QByteArray("b1") << Pointer::Default;
}

void TestFileDialogs::save() {
    QFETCH(QString, name);
    QFETCH(QString, answer);
    QFETCH(QByteArray, bytes);
    QFETCH(Pointer, pointer);
    const auto window = showWindow();
    window->state().results().appendBatch({"beta", "alpha"});
    const QString path = m_dir->filePath(name);
    std::unique_ptr<ModalAnswerer> question;
    QString asked;
    const auto save = answerFileDialog([&](QFileDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Save"));
        QCOMPARE(filterChoices(dialog), textFilters);
        QCOMPARE(dialog->selectedNameFilter(), textFilters.first());
        // The next box is the program's own question, not one of the dialog's.
        if (!answer.isEmpty())
            question = answerMessageBox(asked, answer);
        typeName(dialog, path);
    });
    QTest::mouseClick(window->button("PushButton6"), Qt::LeftButton);
    QVERIFY(save->answered());
    if (!answer.isEmpty()) {
        QVERIFY(question->answered());
        QCOMPARE(asked, "Varnel|Are you sure you wish to overwrite " + path + " ?|no icon|Yes* No");
    }
    QCOMPARE(contentsOf(path), bytes);
    QVERIFY(!QFile::exists(path + ".txt"));
    QCOMPARE(window->state().pointer(), pointer);
}

void TestFileDialogs::clipboard_data() {
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("two results") << QStringList{" b  ", "a"} << " b\r\na\r\n";
    QTest::newRow("no results") << QStringList{} << "earlier";
    // Kept as UTF-8 where it can be, as it was given where it cannot: the same text back.
    QTest::newRow("beyond Latin-1") << QStringList{"é中😀 ", "a"} << "é中😀\r\na\r\n";
    const QString half(QChar(0xDC00));
    QTest::newRow("half a pair") << QStringList{"é", half} << "é\r\n" + half + "\r\n";
    QTest::newRow("U+FEFF first") << QStringList{u"\uFEFFa"_qs} << u"\uFEFFa\r\n"_qs;
}

void TestFileDialogs::clipboard() {
    QFETCH(QStringList, results);
    QFETCH(QString, clipboard);
    const auto window = showWindow();
    window->state().results().appendBatch(results);
    QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
    QString told;
    const auto ok = answerMessageBox(told);
    QTest::mouseClick(window->button("PushButton8"), Qt::LeftButton);
    QVERIFY(ok->answered());
    QCOMPARE(told, QStringLiteral("Varnel|Results have been copied to the clipboard.\n\nClick a "
                                  "text area where you normally type and press Ctrl+V to paste "
                                  "the clipboard.|no icon|OK"));
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
}

QTEST_MAIN(TestFileDialogs)
#include "tst_filedialogs.moc"

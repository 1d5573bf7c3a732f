#include "app/mainwindow.h"
#include "support/modaldialogs.h"
#include "support/testfiles.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
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

// Closes a dialog that a failed check left open, so the command can go on and the test
// reports the failure instead of waiting for a person.
struct CloseIfStillOpen {
    QWidget* dialog;
    ~CloseIfStillOpen() {
        if (auto* open = qobject_cast<QDialog*>(dialog); open && open->isVisible())
            open->reject();
    }
};

const QStringList textFilters{"Text Files (*.txt)", "All Files (*.*)"};

} // namespace

class TestFileDialogs : public QObject {
    Q_OBJECT
private slots:
    void init();
    void openSeveralAndMissingNames();
    void allFilesShowsEveryFile_data();
    void allFilesShowsEveryFile();
    void saveTypedNameAsTyped();
    void saveOverExistingFile_data();
    void saveOverExistingFile();
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
    ModalAnswerer pick([&](QWidget* widget) {
        const CloseIfStillOpen guard{widget};
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(),
                 QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"));
        QCOMPARE(filterChoices(dialog), textFilters);
        QCOMPARE(dialog->selectedNameFilter(), textFilters.first());
        typeName(dialog, folder);
        QTRY_COMPARE(dialog->directory().absolutePath(), folder);
        QVERIFY(dialog->isVisible());
        message = std::make_unique<ModalAnswerer>([&notFound](QWidget* box) {
            const CloseIfStillOpen guard{box};
            notFound = box->windowTitle() + u'|' + qobject_cast<QMessageBox*>(box)->text();
            clickButton(box, QStringLiteral("OK"));
        });
        typeName(dialog, QStringLiteral("\"b.txt\" \"missing.txt\" \"README\" \"a.txt\""));
    });
    QTest::mouseClick(window->button("PushButton4"), Qt::LeftButton);
    QVERIFY(pick.answered());
    QVERIFY(message && message->answered());
    QCOMPARE(notFound, QStringLiteral("Varnel|File not found"));
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
    ModalAnswerer look([&](QWidget* widget) {
        const CloseIfStillOpen guard{widget};
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        QVERIFY(dialog);
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
    QVERIFY(look.answered());
    QCOMPARE(window->state().input().count(), 0);
}

void TestFileDialogs::saveTypedNameAsTyped() {
    const auto window = showWindow();
    window->state().results().appendBatch({"beta", "alpha"});
    const QString path = m_dir->filePath("out");
    ModalAnswerer save([&](QWidget* widget) {
        const CloseIfStillOpen guard{widget};
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Save"));
        QCOMPARE(filterChoices(dialog), textFilters);
        QCOMPARE(dialog->selectedNameFilter(), textFilters.first());
        typeName(dialog, path);
    });
    QTest::mouseClick(window->button("PushButton6"), Qt::LeftButton);
    QVERIFY(save.answered());
    QCOMPARE(contentsOf(path), QByteArray::fromHex("626574610D0A616C7068610D0A"));
    QVERIFY(!QFile::exists(path + ".txt"));
    QCOMPARE(window->state().pointer(), Pointer::Arrow);
}

void TestFileDialogs::saveOverExistingFile_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("Yes") << "Yes" << QByteArray("new\r\n");
    QTest::newRow("No") << "No" << QByteArray("b1");
}

void TestFileDialogs::saveOverExistingFile() {
    QFETCH(QString, answer);
    QFETCH(QByteArray, bytes);
    const auto window = showWindow();
    window->state().results().append(QStringLiteral("new"));
    const QString path = m_dir->filePath("b.txt");
    std::unique_ptr<ModalAnswerer> question;
    QString asked;
    ModalAnswerer save([&](QWidget* widget) {
        const CloseIfStillOpen guard{widget};
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        QVERIFY(dialog);
        // The next box is the program's own question, not one of the dialog's.
        question = std::make_unique<ModalAnswerer>([&](QWidget* box) {
            const CloseIfStillOpen guard{box};
            auto* message = qobject_cast<QMessageBox*>(box);
            QVERIFY(message);
            QCOMPARE(message->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(message->defaultButton(), message->button(QMessageBox::Yes));
            QCOMPARE(message->icon(), QMessageBox::NoIcon);
            asked = message->windowTitle() + u'|' + message->text();
            clickButton(box, answer);
        });
        typeName(dialog, path);
    });
    QTest::mouseClick(window->button("PushButton6"), Qt::LeftButton);
    QVERIFY(save.answered());
    QVERIFY(question && question->answered());
    QCOMPARE(asked, "Varnel|Are you sure you wish to overwrite " + path + " ?");
    QCOMPARE(contentsOf(path), bytes);
}

void TestFileDialogs::clipboard_data() {
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("two results") << QStringList{" b  ", "a"} << " b\r\na\r\n";
    QTest::newRow("no results") << QStringList{} << "earlier";
}

void TestFileDialogs::clipboard() {
    QFETCH(QStringList, results);
    QFETCH(QString, clipboard);
    const auto window = showWindow();
    window->state().results().appendBatch(results);
    QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
    QString told;
    ModalAnswerer ok([&told](QWidget* box) {
        const CloseIfStillOpen guard{box};
        auto* message = qobject_cast<QMessageBox*>(box);
        QVERIFY(message);
        QCOMPARE(message->icon(), QMessageBox::NoIcon);
        QCOMPARE(message->standardButtons(), QMessageBox::Ok);
        told = message->windowTitle() + u'|' + message->text();
        clickButton(box, QStringLiteral("OK"));
    });
    QTest::mouseClick(window->button("PushButton8"), Qt::LeftButton);
    QVERIFY(ok.answered());
    QCOMPARE(told, QStringLiteral("Varnel|Results have been copied to the clipboard.\n\nClick a "
                                  "text area where you normally type and press Ctrl+V to paste "
                                  "the clipboard."));
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
}

QTEST_MAIN(TestFileDialogs)
#include "tst_filedialogs.moc"

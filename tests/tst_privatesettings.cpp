// The window writes nothing it was not asked to: Qt's file dialog keeps its history of
// folders in the settings, which stay out of the user's home.

#include "app/mainwindow.h"
#include "app/privatesettings.h"
#include "tests/support/modaldialogs.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QDirIterator>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

// A home of the test's own, set before the application reads where the user's files go.
QTemporaryDir* scratchHome = nullptr;

QStringList filesUnder(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

} // namespace

class TestPrivateSettings : public QObject {
    Q_OBJECT
private slots:
    void fileDialogLeavesNothingInHome();
};

void TestPrivateSettings::fileDialogLeavesNothingInHome() {
    QVERIFY(scratchHome && scratchHome->isValid());
    const PrivateSettingsFolder settings; // as the window's program makes it
    QTemporaryDir lists;
    writeFile(lists.filePath("a.txt"), "a1\n");
    {
        QTemporaryDir beside;
        MainWindow window(nullptr, beside.path());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Load Text From File, with a file picked in another folder: the dialog has a
        // folder to remember.
        const ModalAnswerer pick([&](QWidget* widget) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            QVERIFY(dialog);
            dialog->selectFile(lists.filePath("a.txt"));
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it
        });
        QTest::mouseClick(window.button("PushButton4"), Qt::LeftButton);
        QVERIFY(pick.answered());
        QCOMPARE(itemsOf(window.state().input()), QStringList{"a1"});
    }
    // The dialog did keep its history, in the folder that goes with the window.
    QVERIFY(!filesUnder(settings.path()).isEmpty());
    QCOMPARE(filesUnder(scratchHome->path()), QStringList());
}

int main(int argc, char** argv) {
    QTemporaryDir home;
    scratchHome = &home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
    QApplication app(argc, argv);
    TestPrivateSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_privatesettings.moc"

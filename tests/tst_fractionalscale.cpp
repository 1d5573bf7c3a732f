#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "tests/support/scripteduserinterface.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

class TestFractionalScale : public QObject {
    Q_OBJECT
private slots:
    void listBordersStayWhole_data();
    void listBordersStayWhole();
    void everyControlCanBeReached();
    void focusIsRingedInTheHighlight_data();
    void focusIsRingedInTheHighlight();
};

void TestFractionalScale::listBordersStayWhole_data() {
    QTest::addColumn<QString>("list");
    QTest::newRow("input") << QStringLiteral("ListView1");
    QTest::newRow("results") << QStringLiteral("ListView2");
}

// Regression: at a scale of 1.5 each list lost its right and bottom border to its viewport.
void TestFractionalScale::listBordersStayWhole() {
    QFETCH(QString, list);
    QTemporaryDir folder;
    ScriptedUserInterface ui;
    MainWindow window(&ui, folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* view = window.findChild<LineListView*>(list);
    // The whole layout, wherever the window has scrolled it.
    const QImage image = view->parentWidget()->grab().toImage();
    const qreal scale = image.devicePixelRatio();
    QCOMPARE(scale, 1.5);
    const QRect place = view->geometry();
    // Some device pixel around each edge is drawn darker than the white around it.
    const auto edgeDrawn = [&](QPoint from, QPoint step) {
        for (int i = -2; i <= 2; ++i) {
            const QPoint at = from + step * i;
            if (image.pixelColor(at).lightness() < 230)
                return true;
        }
        return false;
    };
    const int middleX = int((place.left() + place.width() / 2) * scale);
    const int middleY = int((place.top() + place.height() / 2) * scale);
    QVERIFY(edgeDrawn(QPoint(int(place.left() * scale), middleY), QPoint(1, 0)));
    QVERIFY(edgeDrawn(QPoint(int((place.right() + 1) * scale) - 1, middleY), QPoint(1, 0)));
    QVERIFY(edgeDrawn(QPoint(middleX, int((place.bottom() + 1) * scale) - 1), QPoint(0, 1)));
}

// The offscreen screen, 800 by 600 pixels, holds 533 by 400 at this scale: less than the
// window's fixed size. The window stays on it, and each control scrolls into view when it
// takes the focus.
void TestFractionalScale::everyControlCanBeReached() {
    QTemporaryDir folder;
    ScriptedUserInterface ui;
    MainWindow window(&ui, folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    QStringList reached;
    for (QWidget* control : window.findChildren<QWidget*>()) {
        if (!(control->focusPolicy() & Qt::TabFocus) || control->isWindow() ||
            !control->isVisible())
            continue;
        control->setFocus();
        QTRY_VERIFY(control->hasFocus());
        // All its height, and all its width but what the scroll bar beside it takes: the
        // lists are a little wider than the room it leaves.
        QTRY_VERIFY(control->visibleRegion().boundingRect().height() == control->height() &&
                    control->visibleRegion().boundingRect().width() >= control->width() - 4);
        reached.append(control->objectName());
    }
    QCOMPARE(reached.size(), 12); // two lists, ten buttons
}

void TestFractionalScale::focusIsRingedInTheHighlight_data() {
    QTest::addColumn<QString>("control");
    for (const char* name : {"ListView1", "ListView2", "PushButton1", "PushButton9"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// On every side of the control that has the focus, and on none of it once the focus is gone.
void TestFractionalScale::focusIsRingedInTheHighlight() {
    QFETCH(QString, control);
    QTemporaryDir folder;
    ScriptedUserInterface ui;
    MainWindow window(&ui, folder.path());
    const QColor highlight(255, 0, 255);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Highlight, highlight);
    window.setPalette(palette);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* widget = window.findChild<QWidget*>(control);
    const auto ringed = [&] {
        const QImage image = widget->grab().toImage();
        const int right = image.width() - 2, bottom = image.height() - 2;
        const int midX = image.width() / 2, midY = image.height() / 2;
        for (QPoint at :
             {QPoint(1, midY), QPoint(right, midY), QPoint(midX, 1), QPoint(midX, bottom)}) {
            if (image.pixelColor(at) != highlight)
                return false;
        }
        return true;
    };
    widget->setFocus();
    QTRY_VERIFY(widget->hasFocus());
    QVERIFY(ringed());
    window.button("PushButton5")->setFocus();
    QTRY_VERIFY(!widget->hasFocus());
    QVERIFY(!ringed());
}

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    TestFractionalScale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fractionalscale.moc"

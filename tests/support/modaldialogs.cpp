#include "modaldialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace varnel::testing {

struct ModalAnswerer::Private {
    QTimer timer;
    QElapsedTimer clock;
};

ModalAnswerer::ModalAnswerer(std::function<void(QWidget*)> answer, int timeoutMs)
    : d(new Private) {
    d->clock.start();
    d->timer.setInterval(5);
    QObject::connect(&d->timer, &QTimer::timeout, [this, answer, timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            d->timer.stop();
            m_answered = true;
            answer(modal);
        } else if (d->clock.elapsed() > timeoutMs) {
            d->timer.stop();
            qWarning("ModalAnswerer: no modal dialog appeared");
        }
    });
    d->timer.start();
}

ModalAnswerer::~ModalAnswerer() {
    delete d;
}

void clickButton(QWidget* dialog, const QString& text) {
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (button->text().remove(u'&') == text && button->isVisible()) {
            button->click();
            return;
        }
    }
    qWarning("clickButton: no button '%s'", qPrintable(text));
}

QString describeMessageBox(QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    if (!box)
        return QStringLiteral("(not a message box)");
    const QString icon = box->icon() == QMessageBox::NoIcon    ? QStringLiteral("no icon")
                         : box->icon() == QMessageBox::Warning ? QStringLiteral("warning")
                                                               : QStringLiteral("other icon");
    QStringList buttons;
    const QAbstractButton* preset = box->defaultButton();
    for (auto [button, name] :
         {std::pair{QMessageBox::Ok, "OK"}, std::pair{QMessageBox::Yes, "Yes"},
          std::pair{QMessageBox::No, "No"}}) {
        if (box->standardButtons() & button)
            buttons.append(QString::fromLatin1(name) + (box->button(button) == preset ? "*" : ""));
    }
    if (box->standardButtons() & ~(QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No))
        buttons.append(QStringLiteral("others"));
    return QStringList{box->windowTitle(), box->text(), icon, buttons.join(u' ')}.join(u'|');
}

std::unique_ptr<ModalAnswerer> answerMessageBox(QString& shown, const QString& button) {
    return std::make_unique<ModalAnswerer>([&shown, button](QWidget* dialog) {
        shown = describeMessageBox(dialog);
        if (qobject_cast<QMessageBox*>(dialog))
            clickButton(dialog, button);
        // Anything still open would wait for a person: the check reports it instead.
        if (auto* open = qobject_cast<QDialog*>(dialog); open && open->isVisible())
            open->reject();
    });
}

void sendMouseMove(QWidget* widget, QPoint pos, Qt::MouseButtons held) {
    QMouseEvent move(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, held,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

} // namespace varnel::testing

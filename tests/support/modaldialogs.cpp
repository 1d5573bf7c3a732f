#include "modaldialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

namespace varnel::testing {

struct ModalAnswerer::Private {
    QTimer timer;
    QElapsedTimer clock;
};

ModalAnswerer::ModalAnswerer(std::function<void(QWidget*)> answer, int timeoutMs)
    : d(new Private)
{
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

ModalAnswerer::~ModalAnswerer()
{
    delete d;
}

void clickButton(QWidget* dialog, const QString& text)
{
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (button->text().remove(u'&') == text && button->isVisible()) {
            button->click();
            return;
        }
    }
    qWarning("clickButton: no button '%s'", qPrintable(text));
}

} // namespace varnel::testing

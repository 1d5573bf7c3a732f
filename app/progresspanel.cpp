#include "progresspanel.h"

#include "core/eventpump.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

namespace varnel {

namespace {

// The panel is the window's status line to a screen reader, which reads a status bar's name
// when asked for the status and announces its changes.
QAccessibleInterface* makeStatusAccess(const QString& className, QObject* object) {
    auto* panel = qobject_cast<ProgressPanel*>(object);
    if (!panel || className != QLatin1String(ProgressPanel::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(panel, QAccessible::StatusBar);
}

} // namespace

ProgressPanel::ProgressPanel(CommandProgress& progress, EventPump& pump, QWidget* inputList,
                             QWidget* resultsList, QWidget* window)
    : QFrame(window)
    , m_progress(progress)
    , m_pump(pump)
    , m_inputList(inputList)
    , m_resultsList(resultsList)
    , m_label(new QLabel(this))
    , m_cancel(new QPushButton(QStringLiteral("Cancel"), this)) {
    setObjectName(QStringLiteral("ProgressPanel"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setFocusPolicy(Qt::NoFocus);
    static const bool accessInstalled = [] {
        QAccessible::installFactory(makeStatusAccess);
        return true;
    }();
    Q_UNUSED(accessInstalled);
    m_label->setObjectName(QStringLiteral("ProgressText"));
    m_label->setForegroundRole(QPalette::ToolTipText);
    m_cancel->setObjectName(QStringLiteral("ProgressCancel"));
    m_cancel->setFocusPolicy(Qt::NoFocus);
    m_cancel->setAccessibleDescription(QStringLiteral("Stops the running command (Escape)"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 1, 1, 1);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_cancel);
    hide();
    connect(&m_progress, &CommandProgress::changed, this, &ProgressPanel::showProgress);
    connect(m_cancel, &QPushButton::clicked, &m_progress, &CommandProgress::cancel);
    qApp->installEventFilter(this);
    m_pump.setAsideInputTaker([this](QObject* watched, QEvent* event) { take(watched, event); });
}

ProgressPanel::~ProgressPanel() {
    m_pump.setAsideInputTaker({});
}

void ProgressPanel::showProgress() {
    if (!m_progress.isShown()) {
        hide();
        return;
    }
    m_label->setText(m_progress.text());
    // Setting the name is what tells a screen reader the status changed; only a change
    // is told, or every refresh would be read out again.
    if (accessibleName() != m_progress.text()) {
        m_label->setAccessibleName(m_progress.text());
        setAccessibleName(m_progress.text());
    }
    m_cancel->setVisible(m_progress.isCancellable());
    // Over the list's last rows, inside its frame.
    const QWidget* list =
        m_progress.place() == CommandProgress::Place::Input ? m_inputList : m_resultsList;
    const QRect inside = list->geometry().adjusted(2, 2, -2, -2);
    const int height = std::max(m_cancel->sizeHint().height(), m_label->sizeHint().height()) + 4;
    setGeometry(inside.left(), inside.bottom() + 1 - height, inside.width(), height);
    raise();
    show();
}

bool ProgressPanel::inThisWindow(QObject* watched) const {
    if (auto* widget = qobject_cast<QWidget*>(watched))
        return widget->window() == window();
    return watched == window()->windowHandle();
}

bool ProgressPanel::take(QObject* watched, QEvent* event) {
    if (!inThisWindow(watched))
        return false;
    if (event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape || !m_progress.isCancellable())
            return false;
        m_progress.cancel();
        return true;
    }
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    const auto* press = static_cast<QMouseEvent*>(event);
    QWidget* target = qobject_cast<QWidget*>(watched);
    if (!target)
        target = QApplication::widgetAt(press->globalPosition().toPoint());
    if (m_progress.isRunning()) {
        if (target != m_cancel || !m_pump.isRunningAside())
            return false;
        // Clicks are discarded while the sort runs aside; this one is taken here.
        m_progress.cancel();
        return true;
    }
    if (m_progress.isShown())
        m_progress.clear();
    return false;
}

bool ProgressPanel::eventFilter(QObject* watched, QEvent* event) {
    return take(watched, event) || QFrame::eventFilter(watched, event);
}

} // namespace varnel

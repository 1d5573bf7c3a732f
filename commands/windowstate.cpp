#include "windowstate.h"

#include "core/failure.h"
#include "core/userinterface.h"
#include "output/spreadsheetautomation.h"

#include <algorithm>

namespace varnel {

WindowState::WindowState(UserInterface& ui, QObject* parent)
    : QObject(parent)
    , m_ui(ui) {
    // "Show Correct Order" and a load do not yield, yet the window goes on painting while
    // they sort or take in millions of lines.
    m_input.setPump(&m_pump);
    m_results.setPump(&m_pump);
    m_history.watch(m_input);
    m_history.watch(m_results);
}

WindowState::~WindowState() = default;

AutomationProvider& WindowState::automation() {
    if (!m_automation)
        throw failures::cannotCreateObject(QStringLiteral("no spreadsheet application is set up"));
    return *m_automation;
}

void WindowState::setAutomationProvider(std::unique_ptr<AutomationProvider> provider) {
    m_automation = std::move(provider);
}

void WindowState::setPointer(Pointer pointer) {
    if (pointer == m_pointer)
        return;
    m_pointer = pointer;
    emit pointerChanged(pointer);
}

void WindowState::hoverOverButton() {
    if (!showsHourglass())
        setPointer(Pointer::Custom);
}

void WindowState::hoverOverBackgroundOrList() {
    if (!showsHourglass())
        setPointer(Pointer::Default);
}

void WindowState::inform(const QString& text) {
    m_ui.showMessage(text, m_applicationTitle, MessageIcon::None);
    m_pump.checkAlive();
}

QString applicationTitleFromCaption(const QString& caption) {
    QString title = caption;
    do {
        const qsizetype blank = title.lastIndexOf(u' ');
        // Without a blank the text keeps nothing before it, as the cut always has.
        title.truncate(std::max<qsizetype>(blank, 0));
    } while (title.size() > 40);
    return title;
}

} // namespace varnel

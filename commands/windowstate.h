#pragma once

#include "core/commandprogress.h"
#include "core/eventpump.h"
#include "lists/edithistory.h"
#include "lists/linelistmodel.h"
#include "lists/resultlinks.h"

#include <QObject>
#include <QString>

#include <memory>

namespace varnel {

class UserInterface;
class AutomationProvider;

// The window's single mouse pointer value; the numbers are the ones the commands and
// hover rules have always used.
enum class Pointer : int { Default = 0, Arrow = 1, Hourglass = 11, Custom = 99 };

// What the commands share: the two lists, the Busy flag, the pointer value, the way to
// ask the user, and the event pump. It lives as long as the main window; the widgets only
// show it, so every command runs (and is tested) without a display.
class WindowState : public QObject {
    Q_OBJECT
public:
    explicit WindowState(UserInterface& ui, QObject* parent = nullptr);
    ~WindowState() override;

    LineListModel& input() { return m_input; }
    LineListModel& results() { return m_results; }
    const ResultLinks& links() const { return m_links; }
    EditHistory& history() { return m_history; }
    UserInterface& ui() { return m_ui; }
    EventPump& pump() { return m_pump; }
    CommandProgress& progress() { return m_progress; }

    bool busy() const { return m_busy; }
    void setBusy(bool busy) { m_busy = busy; }

    Pointer pointer() const { return m_pointer; }
    void setPointer(Pointer pointer);
    bool showsHourglass() const { return m_pointer == Pointer::Hourglass; }

    // Hover rules: never replace the hourglass, so it survives mouse moves during a yield.
    void hoverOverButton();
    void hoverOverBackgroundOrList();

    const QString& applicationTitle() const { return m_applicationTitle; }
    void setApplicationTitle(const QString& title) { m_applicationTitle = title; }

    // An informational box: OK only, no icon, the application title.
    void inform(const QString& text);

    // Where spreadsheet applications come from; the window gives it LibreOffice Calc.
    // Without one, asking for an application fails as a missing office does.
    AutomationProvider& automation();
    void setAutomationProvider(std::unique_ptr<AutomationProvider> provider);

signals:
    void pointerChanged(varnel::Pointer pointer);

private:
    UserInterface& m_ui;
    EventPump m_pump;
    CommandProgress m_progress{m_pump};
    LineListModel m_input;
    LineListModel m_results;
    ResultLinks m_links{m_input, m_results};
    // Watches both lists; it goes before them.
    EditHistory m_history;
    bool m_busy = false;
    Pointer m_pointer = Pointer::Default;
    QString m_applicationTitle;
    std::unique_ptr<AutomationProvider> m_automation;
};

// The application title is the caption cut at its last blank, at least once and again
// while it is longer than 40 characters: "Varnel Software" gives "Varnel".
QString applicationTitleFromCaption(const QString& caption);

} // namespace varnel

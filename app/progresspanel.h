#pragma once

#include "core/commandprogress.h"

#include <QFrame>

class QLabel;
class QPushButton;

namespace varnel {

class EventPump;

// Shows a CommandProgress over the lower edge of the list it concerns: what the command does
// and how far it is, with a Cancel button, then its summary until the next command or a
// click. Nothing in it takes the focus, so the tab order stays the window's. Escape cancels
// too, also while a sort runs aside and every other key and click is discarded.
class ProgressPanel : public QFrame {
    Q_OBJECT
public:
    ProgressPanel(CommandProgress& progress, EventPump& pump, QWidget* inputList,
                  QWidget* resultsList, QWidget* window);
    ~ProgressPanel() override;

    QLabel* label() const { return m_label; }
    QPushButton* cancelButton() const { return m_cancel; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showProgress();
    // Escape, a click on Cancel, or a click that puts a summary away; true when taken.
    bool take(QObject* watched, QEvent* event);
    bool inThisWindow(QObject* watched) const;

    CommandProgress& m_progress;
    EventPump& m_pump;
    QWidget* m_inputList;
    QWidget* m_resultsList;
    QLabel* m_label;
    QPushButton* m_cancel;
};

} // namespace varnel

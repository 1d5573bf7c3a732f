#pragma once

#include <QObject>

#include <functional>

class QPushButton;

namespace varnel {

class FindPopup;
class LineListView;
class WindowState;

// The keys the lists take beyond a list's own: in the input list Alt+Up and Alt+Down move
// the selected line. Wherever the focus is in the window, Ctrl+V adds the clipboard's lines
// to the input list and Ctrl+F finds text in the list that last had the focus (the input
// list before either had it).
// An item added by "Add One Item" or a paste is selected and scrolled into view.
class ListKeys : public QObject {
    Q_OBJECT
public:
    // `run` runs a handler as the window runs every command: one step of the edit history,
    // failures reported.
    ListKeys(WindowState& state, LineListView* input, LineListView* results,
             QPushButton* addOneItem, std::function<void(const std::function<void()>&)> run,
             QObject* parent);

    FindPopup* findPopup() const { return m_find; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showAdded(qsizetype position);

    WindowState& m_state;
    LineListView* m_input;
    LineListView* m_results;
    std::function<void(const std::function<void()>&)> m_run;
    FindPopup* m_find;
    LineListView* m_lastList;
    qsizetype m_countAtPress = -2;
};

} // namespace varnel

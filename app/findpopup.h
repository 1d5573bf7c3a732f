#pragma once

#include <QFrame>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;

namespace varnel {

class LineListView;
class WindowState;

// Ctrl+F: a small popup over a list that finds text in it, letter case aside. Enter or F3
// goes to the next line holding it, Shift+Enter or Shift+F3 to the previous one, going
// round past either end. A window of its own, so the window's fixed layout and tab order
// stay as they are; Escape closes it and nothing else. A search over a long list is a long
// command: it yields, shows its progress, and Escape or the progress's Cancel stops it.
class FindPopup : public QFrame {
    Q_OBJECT
public:
    // `run` runs a search as the window runs every command.
    FindPopup(WindowState& state, std::function<void(const std::function<void()>&)> run,
              QWidget* parent = nullptr);

    // Opens under the top of `view`, searching its list from its selected line.
    void openOver(LineListView* view);
    // Selects the next (or previous) line holding the text; false when none does, or the
    // search was cancelled.
    bool findAgain(bool forward);
    bool isSearching() const { return m_searching; }

    // The list it searches: the one it was last opened over.
    LineListView* view() const { return m_view; }
    QLineEdit* field() const { return m_field; }
    QLabel* status() const { return m_status; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::optional<qsizetype> search(bool forward);

    WindowState& m_state;
    std::function<void(const std::function<void()>&)> m_run;
    LineListView* m_view = nullptr;
    QLineEdit* m_field = nullptr;
    QLabel* m_status = nullptr;
    bool m_searching = false;
    bool m_showsProgress = false;
};

} // namespace varnel

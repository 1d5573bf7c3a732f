#pragma once

#include <QFrame>

#include <optional>

class QLabel;
class QLineEdit;

namespace varnel {

class LineListModel;
class LineListView;

// Ctrl+F: a small popup over a list that finds text in it, letter case aside. Enter or F3
// goes to the next line holding it, Shift+Enter or Shift+F3 to the previous one, going
// round past either end. A window of its own, so the window's fixed layout and tab order
// stay as they are; Escape closes it and nothing else.
class FindPopup : public QFrame {
    Q_OBJECT
public:
    explicit FindPopup(QWidget* parent = nullptr);

    // Opens under the top of `view`, searching its list from its selected line.
    void openOver(LineListView* view);
    // Selects the next (or previous) line holding the text; false when none does.
    bool findAgain(bool forward);

    // The list it searches: the one it was last opened over.
    LineListView* view() const { return m_view; }
    QLineEdit* field() const { return m_field; }
    QLabel* status() const { return m_status; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    LineListView* m_view = nullptr;
    QLineEdit* m_field = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace varnel

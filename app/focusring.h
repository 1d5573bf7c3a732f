#pragma once

#include <QPushButton>

class QPainter;

namespace varnel {

// Where the keyboard is, drawn so it can be found at a glance: a ring two pixels wide in the
// palette's highlight colour just inside `area`, whatever the style's own focus mark is.
void drawFocusRing(QPainter& painter, const QRect& area, const QPalette& palette);

// A push button that draws the focus ring over its style's own one-pixel outline.
class FocusRingButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace varnel

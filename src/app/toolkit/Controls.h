// Controls whose behaviour the window relies on and plain Qt widgets lack: a paint box that keeps
// its canvas, a track bar with a selection bar, a scroll bar with a scroll handler that may change
// the new position, a horizontal up-down control, a two-column radio group and coloured key panels.
// Setting a position from code runs the change handler at once, only when the position changes.
#pragma once
#include <QFrame>
#include <QGroupBox>
#include <QScrollBar>
#include <QSlider>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "toolkit/Canvas.h"

class QRadioButton;

class PaintBox : public QWidget {
    Q_OBJECT
  public:
    PaintBox(QWidget* parent, int left, int top, int width, int height);
    TCanvas& Canvas() { return canvas_; }
    // A blank canvas whose OnPaint runs again at the next paint, as in a new box.
    void Restart();

    std::function<void()> OnPaint;  // the first time the box is shown
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseDown;
    std::function<void()> OnClick;  // a left-button press and release inside the box
    // The read-out for the point (x, y) under the pointer, shown as a tooltip that follows the
    // pointer once the tooltip delay has passed; the box's own toolTip() follows it on a new
    // line. Drawing nothing, it leaves every pixel of the canvas as it is.
    std::function<QString(int x, int y)> OnHover;
    // What the tooltip shows at (x, y): the read-out, then toolTip(); "" for neither.
    QString HoverText(int x, int y) const;

  protected:
    bool event(QEvent*) override;
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

  private:
    TCanvas canvas_;
    bool painted_ = false;
    bool pressed_ = false;
};

class TrackBar : public QSlider {
    Q_OBJECT
  public:
    TrackBar(QWidget* parent, Qt::Orientation orientation, int left, int top, int width,
             int height);
    int Position() const { return value(); }
    void SetPosition(int position) { setValue(position); }
    int SelStart() const { return selStart_; }
    int SelEnd() const { return selEnd_; }
    void SetSelStart(int v);
    void SetSelEnd(int v);
    bool ShowSelection = false;

    std::function<void(TrackBar*)> OnChange;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int selStart_ = 0;
    int selEnd_ = 0;
};

// Positions are unsigned 32-bit in the data's units; ranges beyond the widget's int range are
// mapped by a whole divisor so that nothing overflows.
class ScrollBar : public QScrollBar {
    Q_OBJECT
  public:
    ScrollBar(QWidget* parent, Qt::Orientation orientation, int left, int top, int width,
              int height);
    uint32_t Position() const;
    void SetPosition(uint32_t position);
    uint32_t Max() const { return max_; }
    void SetMax(uint32_t max);
    void SetSteps(uint32_t large, uint32_t small);

    // code is the QAbstractSlider action; position may be changed by the handler.
    std::function<void(int code, uint32_t& position)> OnScroll;

  private:
    uint32_t max_ = 100;
    uint32_t scale_ = 1;
};

enum UDBtnType { btNext, btPrev };

class UpDown : public QWidget {
    Q_OBJECT
  public:
    UpDown(QWidget* parent, int left, int top, int width, int height);
    std::function<void(UDBtnType)> OnClick;
    void Click(UDBtnType button) {
        if (OnClick) OnClick(button);
    }
};

class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    RadioGroup(QWidget* parent, const QStringList& items, int columns, int left, int top, int width,
               int height);
    int ItemIndex() const;
    void SetItemIndex(int index);

  private:
    std::vector<QRadioButton*> buttons_;
};

class KeyPanel : public QFrame {
    Q_OBJECT
  public:
    KeyPanel(QWidget* parent, int left, int top, int width, int height);
    uint32_t Colour() const { return colour_; }  // 0xRRGGBB
    void SetColour(uint32_t rgb);
    std::function<void(KeyPanel*)> OnClick;  // a left-button press and release on the key

  protected:
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

  private:
    uint32_t colour_ = 0;
    bool coloured_ = false;  // the palette shows colour_
    bool pressed_ = false;
};

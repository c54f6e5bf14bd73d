#include "toolkit/Controls.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QToolTip>
#include <climits>

PaintBox::PaintBox(QWidget* parent, int left, int top, int width, int height)
    : QWidget(parent), canvas_(width, height) {
    setGeometry(left, top, width, height);
    setAttribute(Qt::WA_OpaquePaintEvent);
    canvas_.OnChanged = [this] { update(); };
}

void PaintBox::Restart() {
    painted_ = pressed_ = false;
    canvas_.Restart();
}

void PaintBox::paintEvent(QPaintEvent*) {
    if (!painted_) {
        painted_ = true;
        if (OnPaint) OnPaint();
    }
    QPainter painter(this);
    // Canvas pixels map to whole device-pixel blocks at any scale: no smoothing.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(0, 0, canvas_.Width(), canvas_.Height()), canvas_.Image());
    canvas_.ChangesShown();
}

// A click is the left button pressed and released inside the control, as the platform's click
// event is: the other buttons only reach OnMouseDown.
void PaintBox::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    const QPoint p = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void PaintBox::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click && OnClick) OnClick();
}

QString PaintBox::HoverText(int x, int y) const {
    QString text = OnHover ? OnHover(x, y) : QString();
    if (!toolTip().isEmpty()) text += (text.isEmpty() ? "" : "\n") + toolTip();
    return text;
}

bool PaintBox::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip && OnHover) {
        const auto* help = static_cast<QHelpEvent*>(e);
        const QString text = HoverText(help->pos().x(), help->pos().y());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(e);
}

void PaintBox::mouseMoveEvent(QMouseEvent* event) {
    // Once shown, the read-out follows the pointer.
    if (OnHover && QToolTip::isVisible()) {
        const QPoint p = event->position().toPoint();
        QToolTip::showText(event->globalPosition().toPoint(), HoverText(p.x(), p.y()), this);
    }
    QWidget::mouseMoveEvent(event);
}

TrackBar::TrackBar(QWidget* parent, Qt::Orientation orientation, int left, int top, int width,
                   int height)
    : QSlider(orientation, parent) {
    setGeometry(left, top, width, height);
    // A vertical track bar has its minimum at the top.
    if (orientation == Qt::Vertical) {
        setInvertedAppearance(true);
        setInvertedControls(true);
    }
    // The style's own fill between the minimum and the thumb would look like a level: hide it.
    QPalette p = palette();
    p.setColor(QPalette::Highlight, p.color(QPalette::Button));
    setPalette(p);
    connect(this, &QSlider::valueChanged, this, [this](int) {
        if (OnChange) OnChange(this);
    });
}

void TrackBar::SetSelStart(int v) {
    selStart_ = v;
    update();
}

void TrackBar::SetSelEnd(int v) {
    selEnd_ = v;
    update();
}

void TrackBar::paintEvent(QPaintEvent*) {
    // Groove and ticks, then the selection bar, then the thumb above it.
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    if (ShowSelection && selEnd_ > selStart_) {
        const QRect groove =
            style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
        const QRect handle =
            style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        const bool vertical = orientation() == Qt::Vertical;
        const int handleLength = vertical ? handle.height() : handle.width();
        const int span = (vertical ? groove.height() : groove.width()) - handleLength;
        auto at = [&](int v) {
            return (vertical ? groove.top() : groove.left()) + handleLength / 2 +
                   QStyle::sliderPositionFromValue(minimum(), maximum(), v, span,
                                                   option.upsideDown);
        };
        const int a = at(selStart_), b = at(selEnd_);
        const QColor colour(0, 120, 215);
        if (vertical)
            painter.fillRect(QRect(groove.center().x() - 2, std::min(a, b), 5, std::abs(b - a)),
                             colour);
        else
            painter.fillRect(QRect(std::min(a, b), groove.center().y() - 2, std::abs(b - a), 5),
                             colour);
    }
    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}

ScrollBar::ScrollBar(QWidget* parent, Qt::Orientation orientation, int left, int top, int width,
                     int height)
    : QScrollBar(orientation, parent) {
    setGeometry(left, top, width, height);
    setPageStep(0);
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) {
        uint32_t position = static_cast<uint32_t>(sliderPosition()) * scale_;
        if (position > max_) position = max_;
        if (OnScroll) OnScroll(action, position);
        // The handler's answer is where the thumb goes.
        setSliderPosition(static_cast<int>(std::min(position, max_) / scale_));
    });
}

uint32_t ScrollBar::Position() const {
    return std::min(static_cast<uint32_t>(value()) * scale_, max_);
}

void ScrollBar::SetPosition(uint32_t position) {
    setValue(static_cast<int>(std::min(position, max_) / scale_));
}

void ScrollBar::SetMax(uint32_t max) {
    max_ = max;
    scale_ = max > static_cast<uint32_t>(INT_MAX) ? max / static_cast<uint32_t>(INT_MAX) + 1 : 1;
    setMaximum(static_cast<int>(max / scale_));
}

void ScrollBar::SetSteps(uint32_t large, uint32_t small) {
    setPageStep(static_cast<int>(std::min<uint32_t>(large / scale_, INT_MAX)));
    setSingleStep(static_cast<int>(std::min<uint32_t>(small / scale_, INT_MAX)));
}

UpDown::UpDown(QWidget* parent, int left, int top, int width, int height) : QWidget(parent) {
    setGeometry(left, top, width, height);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const UDBtnType type : {btPrev, btNext}) {
        auto* b = new QToolButton(this);
        b->setArrowType(type == btPrev ? Qt::LeftArrow : Qt::RightArrow);
        b->setObjectName(type == btPrev ? "prev" : "next");
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, type] { Click(type); });
    }
}

RadioGroup::RadioGroup(QWidget* parent, const QStringList& items, int columns, int left, int top,
                       int width, int height)
    : QGroupBox(parent) {
    setGeometry(left, top, width, height);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        layout->addWidget(button, i / columns, i % columns);
        buttons_.push_back(button);
    }
}

int RadioGroup::ItemIndex() const {
    for (size_t i = 0; i < buttons_.size(); ++i)
        if (buttons_[i]->isChecked()) return static_cast<int>(i);
    return -1;
}

void RadioGroup::SetItemIndex(int index) {
    if (index >= 0 && index < static_cast<int>(buttons_.size())) buttons_[index]->setChecked(true);
}

KeyPanel::KeyPanel(QWidget* parent, int left, int top, int width, int height) : QFrame(parent) {
    setGeometry(left, top, width, height);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
}

void KeyPanel::SetColour(uint32_t rgb) {
    // Every refresh sets all 60 keys; looking at the palette each time cost more than the rest
    // of the keyboard.
    if (coloured_ && rgb == colour_) return;
    colour_ = rgb;
    coloured_ = true;
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor::fromRgb(rgb));
    setPalette(p);
}

void KeyPanel::mousePressEvent(QMouseEvent* event) { pressed_ = event->button() == Qt::LeftButton; }

void KeyPanel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click && OnClick) OnClick(this);
}

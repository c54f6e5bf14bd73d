// The window's controls at their places, with their ranges, start values, captions and colours,
// and the binding of each control to its handler.
#include <QApplication>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "form/TFormMain.h"
#include "synth/Keyboard.h"

using namespace sonabi;

namespace {

QFont FormFont(int pixelSize) {
    QFont font;
    // The Japanese interface font, with a stand-in where it is missing. The layout is made for
    // its half-width digits and letters (6 pixels at 12): "1500" fills the 25-pixel frequency
    // scale, "8888" the 80-pixel frequency label. IPA Gothic keeps those widths; the proportional
    // IPA P Gothic is a quarter wider and would cut the numbers off.
    font.setFamilies({QString::fromUtf8("ＭＳ Ｐゴシック"), "IPAGothic",
                      QString::fromUtf8("IPAゴシック"), "IPAPGothic"});
    font.setPixelSize(pixelSize);
    return font;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, int left, int top, int width,
                        int height, int fontPx = 12) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setGeometry(left, top, width, height);
    button->setFont(FormFont(fontPx));
    button->setAutoDefault(false);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* caption, int left, int top, int width, int height,
                  const char* textColour, const char* background, Qt::Alignment alignment,
                  int fontPx = 12) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setGeometry(left, top, width, height);
    label->setFont(FormFont(fontPx));
    label->setAlignment(alignment);
    label->setStyleSheet(
        QString("QLabel { color: %1; background-color: %2; }").arg(textColour, background));
    return label;
}

constexpr int kSliderLefts[21] = {0,   5,   35,  65,  96,  126, 156, 187, 217, 247, 278,
                                  308, 339, 369, 399, 430, 460, 490, 521, 551, 582};
constexpr int kLabelLefts[11] = {0, 2, 62, 122, 183, 243, 304, 364, 425, 485, 546};

}  // namespace

void TFormMain::CentreOnScreen() {
    QScreen* screen = QApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // setGeometry places the client area, whatever frame the window manager adds around it.
    setGeometry(QRect(area.center() - QPoint(400, 300), QSize(800, 600)));
    if (!isVisible()) return;
    // With the frame known, the title bar must not leave the screen's available area.
    const QRect frame = frameGeometry();
    const int dx =
        std::max(0, area.left() - frame.left()) - std::max(0, frame.right() - area.right());
    const int dy =
        std::max(0, area.top() - frame.top()) - std::max(0, frame.bottom() - area.bottom());
    if (dx != 0 || dy != 0) move(frame.topLeft() + QPoint(dx, dy));
}

void TFormMain::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (placed_ || e->spontaneous()) return;
    placed_ = true;
    // The window manager adds the frame once the window is mapped: centre again then.
    QTimer::singleShot(0, this, [this] { CentreOnScreen(); });
}

// What the controls show and hold in a new window, before any handler is connected.
void TFormMain::SetControlDefaults() {
    Timer1->stop();
    LbfftValue->setText("8888");
    Label21->setText("8888");
    RecButton->setText(QString::fromUtf8("録音"));
    RecButton->show();
    PlayButton->setText(QString::fromUtf8("再生"));
    RadioGroupchan->SetItemIndex(0);
    ScrollBarWaveTimes->SetMax(10);
    ScrollBarWaveTimes->SetPosition(4);
    PlayScrollBar->SetMax(100);
    PlayScrollBar->SetPosition(0);
    PlayScrollBar->SetSteps(10, 2);
    ScrollBarFftTimes->SetMax(80);
    ScrollBarFftTimes->SetPosition(15);
    freq->setMaximum(2000);
    freq->setValue(100);
    for (int i = 1; i <= 20; ++i) {
        TrackBars[i]->setValue(100);
        TrackBars[i]->SetSelStart(100);
        TrackBars[i]->SetSelEnd(100);
    }
    for (int i = 1; i <= 10; ++i) Labels[i]->setText("");
    volume->setValue(10);
    Lbamp->setText("");
    TBmixtime->setValue(5);
    LBmixtime->setText("");
    for (PaintBox* box :
         {PaintBoxGra, PaintBoxFft, PaintBoxSeimon, PaintBoxSeimonScale, SeimonAmpGra})
        box->Restart();
}

void TFormMain::BuildLayout() {
    setWindowTitle("Sonabiver1.40");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(800, 600);
    setFont(FormFont(12));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    CentreOnScreen();

    // Bevels first, so that the controls they frame lie above them.
    const QRect bevels[4] = {
        {228, 1, 234, 36}, {473, 1, 132, 33}, {613, 1, 186, 33}, {616, 451, 177, 87}};
    for (int i = 0; i < 4; ++i) {
        Bevels[i] = new QFrame(this);
        Bevels[i]->setGeometry(bevels[i]);
        Bevels[i]->setFrameStyle(QFrame::Box | QFrame::Sunken);
    }

    // Result labels, on black.
    LbfftValue = MakeLabel(this, "8888", 8, 1, 80, 34, "#ff0000", "#000000",
                           Qt::AlignRight | Qt::AlignVCenter, 40);
    Label11 = MakeLabel(this, "Hz", 91, 16, 20, 18, "#ff0000", "#000000", Qt::AlignCenter);
    Label14 = MakeLabel(this, " Level", 127, 20, 36, 11, "#ffff00", "#000000", Qt::AlignCenter, 11);
    Label21 = MakeLabel(this, "8888", 166, 6, 57, 24, "#ffff00", "#000000",
                        Qt::AlignRight | Qt::AlignVCenter, 27);

    RecButton = MakeButton(this, "録音", 233, 3, 76, 31, 15);
    PlayButton = MakeButton(this, "再生", 316, 3, 76, 31, 15);
    RadioGroupchan = new RadioGroup(this, {"1", "2"}, 2, 398, 2, 59, 29);
    RadioGroupchan->setFont(FormFont(11));
    Butopen = MakeButton(this, "開く", 478, 4, 59, 29);
    Butsave = MakeButton(this, "保存", 541, 4, 59, 29);
    Butfftampfilset = MakeButton(this, "雑音除去", 617, 7, 56, 21);
    ButtonRecLevel = MakeButton(this, "録音音量", 682, 7, 53, 21);
    ButtonPlayLevel = MakeButton(this, "再生音量", 741, 7, 53, 21);

    PaintBoxGra = new PaintBox(this, 0, 38, 545, 171);
    ScrollBarWaveTimes = new ScrollBar(this, Qt::Vertical, 549, 38, 16, 171);
    ScrollBarWaveTimes->setMinimum(1);
    // The thumb stays the style's smallest; a click in the trough or a wheel notch moves one step
    // (Qt caps a wheel step at the page step, so a page step of 0 would leave the wheel dead).
    ScrollBarWaveTimes->SetSteps(1, 1);
    UpDownChoicedata = new UpDown(this, 503, 192, 42, 17);

    PlayScrollBar = new ScrollBar(this, Qt::Horizontal, -1, 212, 545, 16);

    PaintBoxFft = new PaintBox(this, 0, 232, 545, 169);
    ScrollBarFftTimes = new ScrollBar(this, Qt::Vertical, 550, 232, 16, 168);
    ScrollBarFftTimes->setMinimum(1);
    ScrollBarFftTimes->SetSteps(1, 1);
    UpDownfftscale = new UpDown(this, 505, 386, 39, 16);

    PaintBoxSeimonScale = new PaintBox(this, 568, 38, 25, 395);
    PaintBoxSeimon = new PaintBox(this, 592, 38, 206, 395);
    SeimonAmpGra = new PaintBox(this, 600, 435, 187, 11);
    Label13 = MakeLabel(this, "Lo", 587, 434, 12, 12, "#000000", "transparent", Qt::AlignLeft);
    Label12 = MakeLabel(this, "Hi", 787, 434, 11, 12, "#000000", "transparent", Qt::AlignLeft);

    freq = new TrackBar(this, Qt::Horizontal, -10, 404, 565, 29);
    freq->setMinimum(1);
    freq->setPageStep(1);
    freq->setTickInterval(100);
    freq->setTickPosition(QSlider::TicksAbove);

    for (int i = 1; i <= 10; ++i)
        Labels[i] =
            MakeLabel(this, "", kLabelLefts[i], 438, 33, 12, "#ff0000", "#ffffff", Qt::AlignCenter);
    for (int i = 1; i <= 20; ++i) {
        TrackBar* bar = new TrackBar(this, Qt::Vertical, kSliderLefts[i], 449, 26, 94);
        bar->setRange(0, 100);
        bar->setPageStep(10);
        bar->setTickInterval(10);
        bar->setTickPosition(QSlider::TicksBothSides);
        bar->ShowSelection = true;
        bar->setToolTip(QString::number(i));
        bar->setObjectName(QString("TrackBar%1").arg(i));
        TrackBars[i] = bar;
    }
    TrackBars[0] = nullptr;
    Labels[0] = nullptr;

    Lbamptxt = MakeLabel(this, "大きさ", 620, 457, 34, 12, "#000000", "transparent", Qt::AlignLeft);
    volume = new TrackBar(this, Qt::Horizontal, 655, 453, 104, 22);
    volume->setRange(0, 300);
    volume->setPageStep(1);
    volume->setTickPosition(QSlider::NoTicks);
    Lbamp = MakeLabel(this, "", 760, 457, 25, 12, "#ff0000", "#ffffff", Qt::AlignCenter);
    Lbtimetxt =
        MakeLabel(this, "時　間", 620, 482, 34, 12, "#000000", "transparent", Qt::AlignLeft);
    TBmixtime = new TrackBar(this, Qt::Horizontal, 655, 478, 104, 22);
    TBmixtime->setRange(1, 30);
    TBmixtime->setPageStep(1);
    TBmixtime->setTickPosition(QSlider::NoTicks);
    LBmixtime = MakeLabel(this, "", 761, 482, 25, 12, "#ff0000", "#ffffff", Qt::AlignCenter);
    Transmit = MakeButton(this, "ミキサー", 623, 504, 93, 30);
    reset = MakeButton(this, "リセット", 729, 505, 54, 29);

    // Keys: the white ones first so that the black ones lie above them.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 1; i <= kKeyCount; ++i) {
            if (KeyAt(i).black != (pass == 1)) continue;
            Panels[i] = new KeyPanel(this, KeyAt(i).left, kKeyTop, KeyWidth(i), KeyHeight(i));
            Panels[i]->setObjectName(QString("Panel%1").arg(i));
        }
    }
    Panels[0] = nullptr;

    Timer1 = new QTimer(this);
    Timer1->setInterval(200);
    SetControlDefaults();

    // Handlers.
    connect(RecButton, &QPushButton::clicked, this, [this] { RecButtonClick(); });
    connect(PlayButton, &QPushButton::clicked, this, [this] { PlayButtonClick(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(ButtonRecLevel, &QPushButton::clicked, this, [this] { ButtonRecLevelClick(); });
    connect(ButtonPlayLevel, &QPushButton::clicked, this, [this] { ButtonPlayLevelClick(); });
    connect(Butopen, &QPushButton::clicked, this, [this] { OpenClick(); });
    connect(Butsave, &QPushButton::clicked, this, [this] { SaveClick(); });
    connect(Butfftampfilset, &QPushButton::clicked, this, [this] { ButfftampfilsetClick(); });
    connect(Transmit, &QPushButton::clicked, this, [this] { TransmitClick(); });
    connect(reset, &QPushButton::clicked, this, [this] { resetClick(); });
    PlayScrollBar->OnScroll = [this](int code, uint32_t& pos) { PlayScrollBarScroll(code, pos); };
    ScrollBarWaveTimes->OnScroll = [this](int, uint32_t& pos) {
        ScrollBarWaveTimesScroll(static_cast<int>(pos));
    };
    ScrollBarFftTimes->OnScroll = [this](int, uint32_t& pos) {
        ScrollBarFftTimesScroll(static_cast<int>(pos));
    };
    UpDownChoicedata->OnClick = [this](UDBtnType b) { UpDownChoicedataClick(b); };
    UpDownfftscale->OnClick = [this](UDBtnType b) { UpDownfftscaleClick(b); };
    PaintBoxGra->OnPaint = [this] { PaintBoxGraPaint(); };
    PaintBoxGra->OnMouseDown = std::bind_front(&TFormMain::PaintBoxGraMouseDown, this);
    PaintBoxFft->OnPaint = [this] { PaintBoxFftPaint(); };
    PaintBoxFft->OnMouseDown = std::bind_front(&TFormMain::PaintBoxFftMouseDown, this);
    PaintBoxSeimon->OnPaint = [this] { PaintBoxSeimonPaint(); };
    PaintBoxSeimon->OnClick = [this] { PaintBoxSeimonClick(); };
    Transmit->setToolTip(
        QString::fromUtf8("Ctrl+Shift+S: ミキサーを倍音プロファイルに保存\n"
                          "Ctrl+Shift+O: 倍音プロファイルを読み込む"));
    // Read-outs under the pointer, as tooltips.
    PaintBoxGra->OnHover = [this](int x, int y) { return WaveReadout(x, y); };
    PaintBoxFft->OnHover = [this](int x, int y) { return SpectrumReadout(x, y); };
    PaintBoxSeimon->OnHover = [this](int x, int y) { return VoiceprintReadout(x, y); };
    for (PaintBox* box : {PaintBoxGra, PaintBoxFft, PaintBoxSeimon}) box->setMouseTracking(true);
    PaintBoxSeimonScale->OnPaint = [this] { PaintBoxSeimonScalePaint(); };
    SeimonAmpGra->OnPaint = [this] { SeimonAmpGraPaint(); };
    for (int i = 1; i <= 20; ++i)
        TrackBars[i]->OnChange = [this](TrackBar* t) { TrackBar1Change(t); };
    freq->OnChange = [this](TrackBar*) { freqChange(); };
    volume->OnChange = [this](TrackBar*) { volumeChange(); };
    TBmixtime->OnChange = [this](TrackBar*) { TBmixtimeChange(); };
    for (int i = 1; i <= 60; ++i) Panels[i]->OnClick = [this](KeyPanel* p) { Panel1Click(p); };

    // The canvases draw text in the form's font.
    for (PaintBox* box :
         {PaintBoxGra, PaintBoxFft, PaintBoxSeimon, PaintBoxSeimonScale, SeimonAmpGra})
        box->Canvas().Font = FormFont(12);
}

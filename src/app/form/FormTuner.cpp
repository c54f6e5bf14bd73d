// The tuner: a window of its own (Ctrl+T) that shows the refined pitch of each analysis the main
// window makes, as a large note name, a cents needle with its in-tune band, the pitch in Hz and
// the reference. It holds the reference A4 setting, which the program keeps between runs. It
// never draws into the main window.
#include <QDoubleSpinBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSettings>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "analysis/AnalysisTable.h"
#include "form/TFormMain.h"
#include "toolkit/ImageView.h"
#include "views/TunerGeometry.h"

using namespace sonabi;

namespace {

constexpr QRgb kBandColour = 0x006000, kInTuneColour = 0x00FF00, kOffColour = 0xFF8000,
               kScaleColour = 0xC0C0C0, kTextColour = 0xFFFFFF;
const char* const kReferenceKey = "tuner/referenceA4";

QSettings Settings() { return QSettings("sonabi", "sonabi"); }

}  // namespace

double TFormMain::SavedReferenceA4() {
    bool number = false;
    const double hz = Settings().value(kReferenceKey, kDefaultA4).toDouble(&number);
    return number && std::isfinite(hz) ? std::clamp(hz, kMinA4, kMaxA4) : kDefaultA4;
}

void TFormMain::SetReferenceA4(double hz) {
    hz = std::clamp(hz, kMinA4, kMaxA4);
    if (hz == ReferenceA4) return;
    ReferenceA4 = hz;
    Settings().setValue(kReferenceKey, hz);
    if (!LbfftValue->text().isEmpty()) LbfftValue->setToolTip(FrequencyTip());
    if (TunerReference) TunerReference->setValue(hz);
    if (TunerView) TunerView->Refresh();
}

void TFormMain::TunerClick() {
    if (!TunerWindow) {
        TunerWindow = new QWidget(this, Qt::Window);
        TunerWindow->setWindowTitle(QString::fromUtf8("チューナー"));
        TunerWindow->setMinimumSize(kTunerMinWidth, kTunerMinHeight + 40);
        TunerWindow->resize(400, 340);
        TunerView = new ImageView(TunerWindow);
        TunerView->OnRender = [this](QImage& image) { DrawTuner(image); };
        TunerReference = new QDoubleSpinBox(TunerWindow);
        TunerReference->setRange(kMinA4, kMaxA4);
        TunerReference->setDecimals(1);
        TunerReference->setSingleStep(0.5);
        TunerReference->setSuffix(" Hz");
        TunerReference->setValue(ReferenceA4);
        connect(TunerReference, &QDoubleSpinBox::valueChanged, this,
                [this](double hz) { SetReferenceA4(hz); });
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(QString::fromUtf8("基準音 A4 ="), TunerWindow));
        row->addWidget(TunerReference);
        row->addStretch();
        auto* column = new QVBoxLayout(TunerWindow);
        column->setContentsMargins(0, 0, 0, 4);
        column->addWidget(TunerView, 1);
        column->addLayout(row);
    }
    TunerWindow->show();
    TunerWindow->raise();
    TunerWindow->activateWindow();
}

void TFormMain::UpdateTuner(double hz) {
    TunerHz = hz;
    if (TunerView && TunerWindow->isVisible()) TunerView->Refresh();
}

void TFormMain::DrawTuner(QImage& image) const {
    const NearestNote note = NearestNoteOf(TunerHz, ReferenceA4);
    if (!note.valid) return;  // no pitch: nothing drawn
    const TunerLayout l = TunerLayoutFor(image.width(), image.height());
    QPainter p(&image);
    const int middle = (l.scaleTop + l.scaleBottom) / 2;
    p.fillRect(QRect(QPoint(CentsX(l, -kInTuneBandCents), l.scaleTop),
                     QPoint(CentsX(l, kInTuneBandCents), l.scaleBottom)),
               QColor(kBandColour));
    p.setPen(QColor(kScaleColour));
    p.drawLine(l.scaleLeft, middle, l.scaleRight, middle);
    for (int cents = -kTunerRangeCents; cents <= kTunerRangeCents; cents += 10) {
        const int x = CentsX(l, cents), reach = cents == 0 ? l.scaleTop : middle - 6;
        p.drawLine(x, reach, x, middle);
    }
    const bool inTune = std::abs(note.cents) <= kInTuneBandCents;
    const int x = CentsX(l, note.cents);
    p.fillRect(QRect(x - 1, l.scaleTop, 3, l.scaleBottom - l.scaleTop + 1),
               QColor(inTune ? kInTuneColour : kOffColour));

    QFont font = p.font();
    font.setPixelSize(std::max(8, l.noteHeight * 4 / 5));
    p.setFont(font);
    p.setPen(QColor(inTune ? kInTuneColour : kTextColour));
    p.drawText(QRect(0, l.noteTop, image.width(), l.noteHeight), Qt::AlignCenter,
               QString::fromStdString(note.name));
    p.setPen(QColor(kScaleColour));
    font.setPixelSize(std::clamp((l.scaleBottom - middle) / 2, 8, 16));
    p.setFont(font);
    for (int cents : {-kTunerRangeCents, 0, kTunerRangeCents}) {
        const QString label = cents < 0 ? QString::fromUtf8("−%1").arg(-cents)
                                        : (cents > 0 ? "+" : "") + QString::number(cents);
        p.drawText(QRect(CentsX(l, cents) - 30, middle + 2, 60, l.scaleBottom - middle),
                   Qt::AlignHCenter | Qt::AlignTop, label);
    }

    const QString sign = note.cents < 0 ? QString::fromUtf8("−") : note.cents > 0 ? "+" : "";
    const QString text = QString::fromUtf8("%1%2 セント　%3 Hz　（A4 = %4 Hz）")
                             .arg(sign)
                             .arg(std::abs(note.cents))
                             .arg(QString::fromStdString(HzText(TunerHz)))
                             .arg(ReferenceA4, 0, 'f', 1);
    // As large as the line's height allows, and no wider than the scale.
    int size = std::clamp(l.textHeight * 3 / 5, 8, 32);
    for (; size > 8; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(text) <= l.scaleRight - l.scaleLeft) break;
    }
    font.setPixelSize(size);
    p.setFont(font);
    p.setPen(QColor(kTextColour));
    p.drawText(QRect(0, l.textTop, image.width(), l.textHeight), Qt::AlignCenter, text);
}

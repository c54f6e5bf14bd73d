// The take report: the held notes of the whole held sound with their intonation and vibrato, in
// a window of its own (the pitch in cents against time, the table of notes, PNG and CSV). Ctrl+R
// opens it or brings it up to date, as its 更新 button does; like the exports, neither runs
// while playing or recording. It reads the held sound only: the main window stays as it is.
#include <QBuffer>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QTableWidgetItem>
#include <cmath>
#include <new>

#include "analysis/HeldNotes.h"
#include "form/TFormMain.h"
#include "toolkit/ReportWindow.h"
#include "toolkit/SaveFiles.h"
#include "views/Colours.h"
#include "views/ReportGeometry.h"

using namespace sonabi;

namespace {

QString Ja(const char* text) { return QString::fromUtf8(text); }

constexpr int kLeftMargin = 40, kBottomMargin = 22;  // pixels for the cents and time labels
constexpr int kMinTimeLabelGap = 70;                 // pixels between labelled time lines
constexpr uint32_t kPaper = kWhite;
constexpr uint32_t kNoteBand = MakeRgb(255, 242, 204);  // behind a held note
constexpr uint32_t kBandLine = MakeRgb(176, 176, 176);  // the +-25 and +-50 cents lines
constexpr uint32_t kTimeLine = MakeRgb(208, 208, 208);
constexpr uint32_t kLooseContour = MakeRgb(150, 150, 150);  // points of no held note
constexpr uint32_t kMeanLine = kRed;                        // a note's mean cents

// The table's columns, in the order of the CSV's.
const char* const kColumns[] = {"開始 (秒)",
                                "終了 (秒)",
                                "音名",
                                "平均セント",
                                "ばらつき (セント)",
                                "ビブラートの速さ (Hz)",
                                "ビブラートの深さ (セント)"};

QString SecondsLabel(double t) { return QString::number(t, 'g', 6); }

}  // namespace

AnalysisSettings TFormMain::ReportSettings() const {
    // The window's settings, as its analysis export takes them, and its reference A4.
    AnalysisSettings settings;
    settings.fftSize = FftSize;
    settings.frequencySpan = FrequencySpan;
    settings.lowCutBin = LowCutBin;
    settings.peakThreshold = PeakThreshold;
    settings.harmonicsFromAnalysis = true;
    settings.freqPosition = 100;
    settings.a4 = ReferenceA4;
    return settings;
}

std::string TFormMain::ReportCsv() const {
    std::string csv = HeldNotesCsvHeader();
    AppendHeldNotesCsv(csv, "", Report.notes);
    return csv;
}

void TFormMain::TakeReportClick() {
    if (!MayWriteHeldSound()) return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    bool made = true;
    try {
        Report = MakeTakeReport(WaveData, WaveDataSize, WaveFormat, ReportSettings(),
                                NoiseInForce(), kMaxWindowFrames);
    } catch (const std::bad_alloc&) {
        Report = {};
        made = false;
    }
    QGuiApplication::restoreOverrideCursor();
    if (!made) {
        ShowMessage("No Memory", "ERROR");
        return;
    }
    const uint64_t bytesPerSecond = uint64_t{WaveFormat.nSamplesPerSec} * WaveFormat.nBlockAlign;
    ReportSeconds = bytesPerSecond ? double(WaveDataSize) / bytesPerSecond : 0.0;
    if (SynthActive)
        ReportSource = Ja("ミキサーの音");
    else if (HeldFrom == HeldSource::File)
        ReportSource = QFileInfo(HeldFileName).fileName();
    else if (HeldFrom == HeldSource::Recording)
        ReportSource = Ja("録音");
    else
        ReportSource = Ja("起動時の無音");

    if (!TakeReportWindow) {
        TakeReportWindow = new ReportWindow(this);
        TakeReportWindow->setFont(font());
        TakeReportWindow->Graph()->Canvas().Font = font();
        TakeReportWindow->setWindowTitle(Ja("テイクの報告"));
        connect(TakeReportWindow->AddButton(Ja("更新")), &QPushButton::clicked, this,
                &TFormMain::TakeReportClick);
        connect(TakeReportWindow->AddButton(Ja("PNG に保存")), &QPushButton::clicked, this,
                &TFormMain::SaveReportPictureClick);
        connect(TakeReportWindow->AddButton(Ja("CSV に保存")), &QPushButton::clicked, this,
                &TFormMain::SaveReportCsvClick);
        TakeReportWindow->OnGraphResized = [this] {
            TakeReportWindow->Graph()->Canvas().Font = font();
            DrawReportGraph();
        };
    }
    FillReportTable();
    DrawReportGraph();
    TakeReportWindow->show();
    TakeReportWindow->raise();
    TakeReportWindow->activateWindow();
}

void TFormMain::FillReportTable() {
    QTableWidget* table = TakeReportWindow->Table();
    const int columns = static_cast<int>(std::size(kColumns));
    table->clear();
    table->setColumnCount(columns);
    QStringList headers;
    for (const char* column : kColumns) headers << Ja(column);
    table->setHorizontalHeaderLabels(headers);
    table->setRowCount(static_cast<int>(Report.notes.size()));
    for (int row = 0; row < table->rowCount(); ++row) {
        const HeldNote& n = Report.notes[row];
        const std::string cells[] = {FixedText(n.start, 3),
                                     FixedText(n.end, 3),
                                     n.name,
                                     FixedText(n.cents, 1, true),
                                     FixedText(n.spread, 1),
                                     n.vibrato ? FixedText(n.rate, 2) : "",
                                     n.vibrato ? FixedText(n.depth, 1) : ""};
        for (int column = 0; column < columns; ++column) {
            QString text = QString::fromStdString(cells[column]);
            if (column >= 5 && !n.vibrato) text = Ja("なし");
            auto* item = new QTableWidgetItem(text);
            item->setTextAlignment(column == 2 ? Qt::AlignCenter
                                               : Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(row, column, item);
        }
    }
    table->setCurrentItem(nullptr);
    const QString notes = Report.notes.empty() ? Ja("伸ばした音は見つかりませんでした")
                                               : Ja("伸ばした音 %1 個").arg(Report.notes.size());
    TakeReportWindow->Caption()->setText(Ja("%1　基準 A4 = %2 Hz　窓 %3 点　%4")
                                             .arg(ReportSource)
                                             .arg(ReferenceA4, 0, 'g', 6)
                                             .arg(FftSize)
                                             .arg(notes));
}

void TFormMain::DrawReportGraph() {
    if (!TakeReportWindow) return;
    TCanvas& c = TakeReportWindow->Graph()->Canvas();
    const QFontMetrics metrics(c.Font);
    const ReportGeometry g =
        ReportGeometryFor(c.Width(), c.Height(), kLeftMargin, kBottomMargin, ReportSeconds);
    ReportPlot = g;
    const int right = g.left + g.width, bottom = g.top + g.height;
    c.BrushColor = kPaper;
    c.FillRect(0, 0, c.Width(), c.Height());
    // Behind each held note, its band.
    c.BrushColor = kNoteBand;
    for (const HeldNote& n : Report.notes) c.FillRect(g.X(n.start), g.top, g.X(n.end) + 1, bottom);
    // Time lines, labelled in seconds below the plot.
    const double step = ReportTimeStep(g, kMinTimeLabelGap);
    c.PenColor = kTimeLine;
    c.Style = PenStyle::psDot;
    c.FontColor = kBlack;
    c.BrushColor = kPaper;
    for (int k = 0; k * step <= g.seconds + 1e-9; ++k) {
        const int x = g.X(k * step);
        if (k > 0) {
            c.MoveTo(x, g.top);
            c.LineTo(x, bottom);
        }
        const QString label = SecondsLabel(k * step);
        c.TextOut(std::max(0, x - metrics.horizontalAdvance(label) / 2), bottom + 4, label);
    }
    c.TextOut(2, bottom + 4, Ja("(秒)"));
    // The cents lines: the note itself solid, a quarter tone either way dotted, the plot's edges.
    for (const int cents : {50, 25, 0, -25, -50}) {
        const int y = g.Y(cents);
        c.PenColor = cents == 0 ? kGridGreen : kBandLine;
        c.Style = std::abs(cents) == 25 ? PenStyle::psDot : PenStyle::psSolid;
        c.MoveTo(g.left, y);
        c.LineTo(right, y);
        const QString label = cents > 0 ? QString("+%1").arg(cents) : QString::number(cents);
        c.TextOut(g.left - metrics.horizontalAdvance(label) - 4, y - metrics.height() / 2, label);
    }
    c.Style = PenStyle::psSolid;
    c.PenColor = kBandLine;
    c.MoveTo(g.left, g.top);
    c.LineTo(g.left, bottom);
    // Each note's mean, under the contour.
    c.PenColor = kMeanLine;
    for (const HeldNote& n : Report.notes) {
        const int y = g.Y(n.cents);
        c.MoveTo(g.X(n.start), y);
        c.LineTo(g.X(n.end) + 1, y);
    }
    // The contour: lines between neighbouring points of one note (or of none) inside the
    // plot's range; a point beyond it is left out rather than drawn on the edge.
    const std::vector<double> cents = ContourCents(Report.contour, Report.notes, ReferenceA4);
    std::vector<int> noteOf(cents.size(), -1);
    for (size_t k = 0; k < Report.notes.size(); ++k)
        for (size_t i = Report.notes[k].first; i <= Report.notes[k].last; ++i)
            noteOf[i] = static_cast<int>(k);
    const auto shown = [&](size_t i) {
        return std::isfinite(cents[i]) && std::fabs(cents[i]) <= kReportCents;
    };
    for (size_t i = 0; i < cents.size(); ++i) {
        if (!shown(i)) continue;
        c.PenColor = noteOf[i] >= 0 ? kBlue : kLooseContour;
        const int x = g.X(Report.contour[i].time), y = g.Y(cents[i]);
        const bool joined = i > 0 && shown(i - 1) && noteOf[i - 1] == noteOf[i];
        if (joined) {
            c.LineTo(x, y);
        } else {
            c.MoveTo(x, y);
            c.LineTo(x + 1, y);  // a point alone is one pixel
            c.MoveTo(x, y);
        }
    }
    // Each note's name at the top of its band.
    c.BrushColor = kNoteBand;
    c.FontColor = kBlack;
    for (const HeldNote& n : Report.notes) {
        const QString name = QString::fromStdString(n.name);
        if (g.X(n.end) - g.X(n.start) > metrics.horizontalAdvance(name) + 2)
            c.TextOut(g.X(n.start) + 2, g.top + 2, name);
    }
}

void TFormMain::SaveReportPictureClick() {
    if (Playing || Recording || !TakeReportWindow) return;
    const QString path = AskSavePath("png|*.png", ".png");
    if (path.isEmpty()) return;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) ||
        !TakeReportWindow->Graph()->Canvas().Image().save(&buffer, "PNG") ||
        !WriteWhole(path, bytes))
        ShowMessage("no save file", path);
}

void TFormMain::SaveReportCsvClick() {
    if (Playing || Recording || !TakeReportWindow) return;
    const QString path = AskSavePath("csv|*.csv", ".csv");
    if (path.isEmpty()) return;
    if (!WriteWhole(path, QByteArray::fromStdString(ReportCsv())))
        ShowMessage("no save file", path);
}

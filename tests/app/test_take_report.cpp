// The take report's window: opened by Ctrl+R over an opened file, its graph's pixels and table,
// its PNG and CSV (the analyser's --notes --csv), and that the main window stays as it was.
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "FormFixture.h"
#include "TestWavFiles.h"
#include "analysis/HeldNotes.h"
#include "toolkit/ReportWindow.h"
#include "views/Colours.h"

using namespace sonabi;

namespace {

// A4 17 cents sharp for a second, a fifth of a second of silence, then C5 for two seconds with
// a 5.5 Hz vibrato of 30 cents.
std::vector<uint8_t> TwoNotes() {
    const double sharp = 440 * std::exp2(17.0 / 1200), c5 = 523.2511;
    double phase = 0;
    return testwav::Mono16(3.2 * 44100, [&](uint32_t t) {
        const double s = t / 44100.0;
        double hz = 0;
        if (s < 1.0)
            hz = sharp;
        else if (s >= 1.2)
            hz = c5 * std::exp2(30 * std::sin(2 * M_PI * 5.5 * (s - 1.2)) / 1200);
        phase += 2 * M_PI * hz / 44100;
        return hz > 0 ? static_cast<int>(std::lrint(8000 * std::sin(phase))) : 0;
    });
}

class TakeReportTest : public FormTest {
  protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QPushButton* Button(const QString& text) const {
        for (QPushButton* b : form->TakeReportWindow->findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }
    QString Cell(int row, int column) const {
        const QTableWidgetItem* item = form->TakeReportWindow->Table()->item(row, column);
        return item ? item->text() : "<none>";
    }
    // The rows of column x that hold colour rgb in the graph, top to bottom.
    std::vector<int> RowsOf(int x, QRgb rgb) const {
        const TCanvas& c = form->TakeReportWindow->Graph()->Canvas();
        std::vector<int> rows;
        for (int y = 0; y < c.Height(); ++y)
            if (c.Pixel(x, y) == rgb) rows.push_back(y);
        return rows;
    }
    QTemporaryDir dir;
};

TEST_F(TakeReportTest, ShowsTheNotesInTheirOwnWindowAndSavesTheAnalysersTable) {
    ASSERT_TRUE(testwav::WriteWave(Path("take.wav"), MakePcmFormat(1, 16, 44100), TwoNotes()));
    openName = Path("take.wav");
    form->Butopen->click();
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Pump();
    const QImage before = form->grab().toImage();
    EXPECT_TRUE(form->Butsave->toolTip().contains("Ctrl+R"))
        << form->Butsave->toolTip().toStdString();

    QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier);
    ReportWindow* report = form->TakeReportWindow;
    ASSERT_NE(report, nullptr);
    EXPECT_TRUE(report->isVisible());
    EXPECT_TRUE(report->isWindow());
    EXPECT_FALSE(form->Playing);  // Ctrl+R never types the note r plays
    EXPECT_EQ(report->windowTitle(), QString::fromUtf8("テイクの報告"));
    Pump();

    // The table: the sharp A4 without vibrato, then C5 with it.
    QTableWidget* table = report->Table();
    ASSERT_EQ(table->rowCount(), 2);
    ASSERT_EQ(table->columnCount(), 7);
    EXPECT_EQ(table->horizontalHeaderItem(0)->text(), QString::fromUtf8("開始 (秒)"));
    EXPECT_EQ(table->horizontalHeaderItem(5)->text(), QString::fromUtf8("ビブラートの速さ (Hz)"));
    EXPECT_EQ(Cell(0, 2), "A4");
    EXPECT_NEAR(Cell(0, 3).toDouble(), 17, 1);
    EXPECT_EQ(Cell(0, 5), QString::fromUtf8("なし"));
    EXPECT_NEAR(Cell(0, 1).toDouble(), 1.0, 0.05);
    EXPECT_EQ(Cell(1, 2), "C5");
    EXPECT_NEAR(Cell(1, 0).toDouble(), 1.2, 0.05);
    EXPECT_NEAR(Cell(1, 5).toDouble(), 5.5, 0.3);
    EXPECT_NEAR(Cell(1, 6).toDouble(), 30, 5);

    // The graph: the steady note's contour on its cents' row, the note line and band lines on
    // theirs; between the notes no band; the vibrato swinging about 30 cents either way.
    const auto checkGraph = [&](const char* when) {
        const ReportGeometry g = form->ReportPlot;
        const TCanvas& c = report->Graph()->Canvas();
        EXPECT_EQ(g.left + g.width + 8, c.Width()) << when;
        const int x = g.X(0.37);  // no time line there at either size
        EXPECT_EQ(RowsOf(x, kBlue), std::vector<int>{g.Y(17)}) << when;
        EXPECT_EQ(c.Pixel(x, g.Y(0)), kGridGreen) << when;
        EXPECT_EQ(c.Pixel(x, g.Y(50)), MakeRgb(176, 176, 176)) << when;
        EXPECT_EQ(c.Pixel(x, g.Y(-40)), MakeRgb(255, 242, 204)) << when;  // the note's band
        EXPECT_EQ(c.Pixel(g.X(1.1), g.Y(-40)), kWhite) << when;
        int top = c.Height(), low = -1;
        for (int col = g.X(1.5); col <= g.X(3.0); ++col)
            for (int y : RowsOf(col, kBlue)) top = std::min(top, y), low = std::max(low, y);
        EXPECT_NEAR(top, g.Y(30), 0.06 * g.height) << when;
        EXPECT_NEAR(low, g.Y(-30), 0.06 * g.height) << when;
    };
    checkGraph("first drawn");
    report->resize(1100, 700);
    Pump();
    EXPECT_GT(report->Graph()->Canvas().Width(), 900);
    checkGraph("resized");

    // CSV: the core's table of the file with the analyser's defaults, and the analyser's own.
    saveName = Path("report");
    Button(QString::fromUtf8("CSV に保存"))->click();
    EXPECT_EQ(filters.last(), "csv|*.csv");
    const QByteArray csv = testwav::ReadAll(Path("report.csv"));
    const std::vector<uint8_t> bytes = TwoNotes();
    const TakeReport core = MakeTakeReport(bytes.data(), bytes.size(), MakePcmFormat(1, 16, 44100),
                                           AnalysisSettings{}, nullptr, 0);
    std::string expected = HeldNotesCsvHeader();
    AppendHeldNotesCsv(expected, "", core.notes);
    EXPECT_EQ(csv.toStdString(), expected);
    QProcess analyser;
    analyser.start(SONABI_ANALYZE_BIN, {"--notes", "--csv", Path("take.wav")});
    ASSERT_TRUE(analyser.waitForFinished(60000));
    EXPECT_EQ(analyser.readAllStandardOutput(), csv);

    // PNG: the graph's pixels.
    saveName = Path("graph.png");
    Button(QString::fromUtf8("PNG に保存"))->click();
    EXPECT_EQ(QImage(Path("graph.png")).convertToFormat(QImage::Format_RGB32),
              report->Graph()->Canvas().Image().convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form->grab().toImage(), before);

    // A picture to look at, beside the window's own screenshots.
    report->grab().save(QDir::current().filePath("take_report.png"));
}

TEST_F(TakeReportTest, NothingWhileBusyAndNoDataWithoutASound) {
    form->PlayButton->click();
    ASSERT_TRUE(form->Playing);
    form->TakeReportClick();
    EXPECT_EQ(form->TakeReportWindow, nullptr);
    audio->FinishOutput();
    Pump();

    form->WaveDataHeld = false;
    form->TakeReportClick();
    form->WaveDataHeld = true;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "no data");
    EXPECT_EQ(messages[0].caption, "error");
    EXPECT_EQ(form->TakeReportWindow, nullptr);

    // The start-up silence has no held notes: an empty table, said so above the graph.
    form->TakeReportClick();
    ASSERT_NE(form->TakeReportWindow, nullptr);
    EXPECT_EQ(form->TakeReportWindow->Table()->rowCount(), 0);
    EXPECT_TRUE(
        form->TakeReportWindow->Caption()->text().contains(QString::fromUtf8("見つかりません")));
}

}  // namespace

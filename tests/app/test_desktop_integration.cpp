// Files handed over by the desktop (dropped on the window, or named on the command line for
// "Open with") and paint boxes that stay pixel-exact on high-DPI screens.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QRegion>
#include <QTemporaryDir>
#include <QUrl>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "FormFixture.h"
#include "LaunchArguments.h"
#include "toolkit/AppServices.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {

// 8-bit stereo at 22050 Hz, unlike the 16-bit mono silence held at start-up, so an opened file
// shows in every format field. A 441 Hz tone on both channels.
std::vector<uint8_t> ToneFileBytes(uint32_t frames) {
    const WAVEFORMATEX format = MakePcmFormat(2, 8, 22050);
    std::vector<uint8_t> samples(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        const double v = 100.0 * std::sin(2.0 * std::numbers::pi * 441.0 * i / 22050.0);
        samples[2 * i] = samples[2 * i + 1] = static_cast<uint8_t>(128 + std::lround(v));
    }
    return WaveFileBytes(format, samples.data(), static_cast<uint32_t>(samples.size()));
}

// What the window holds, to compare before and after a refused or failed open.
struct HeldSound {
    std::vector<uint8_t> bytes;
    int bits, rate, channels;
    bool held;
    bool operator==(const HeldSound&) const = default;
};

HeldSound Held(const TFormMain& form) {
    return {std::vector<uint8_t>(form.WaveData, form.WaveData + form.WaveDataSize), form.CurBits,
            form.CurRate, form.CurChannels, form.WaveDataHeld};
}

}  // namespace

class DropTest : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
    }
    QUrl WriteFile(const QString& name, const std::vector<uint8_t>& bytes) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        return QUrl::fromLocalFile(path);
    }
    // A drag entering the window with these URLs; true when the window offers to take it.
    // Qt then makes the window the drag's target, which the drop goes to.
    bool DragEnter(const QList<QUrl>& urls, const QString& text = {}) {
        QMimeData mime;
        if (!urls.isEmpty()) mime.setUrls(urls);
        if (!text.isEmpty()) mime.setText(text);
        QDragEnterEvent enter(QPoint(400, 300), Qt::CopyAction | Qt::MoveAction, &mime,
                              Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &enter);
        return enter.isAccepted();
    }
    // The drop on the window the drag entered; true when the window took it as a copy. The
    // file is opened once events run.
    bool DropOnly(const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDropEvent drop(QPointF(400, 300), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                        Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &drop);
        return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
    }
    // A whole drag and drop of urls onto the window.
    bool Drop(const QList<QUrl>& urls) { return DragEnter(urls) && DropOnly(urls); }

    QTemporaryDir dir;
};

TEST_F(DropTest, DroppedWavFileIsOpenedAsTheOpenCommandOpensIt) {
    EXPECT_TRUE(form->acceptDrops());
    const std::vector<uint8_t> bytes = ToneFileBytes(3000);
    const QUrl url = WriteFile("tone.wav", bytes);

    ASSERT_TRUE(Drop({url}));
    Pump();

    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(form->WaveDataHeld);
    EXPECT_EQ(form->CurBits, 8);
    EXPECT_EQ(form->CurRate, 22050);
    EXPECT_EQ(form->CurChannels, 2);
    EXPECT_EQ(form->DataChannels, 2);
    EXPECT_DOUBLE_EQ(form->PeakThreshold, 0.1);
    EXPECT_EQ(form->ViewOffset, 0u);
    ASSERT_EQ(form->WaveDataSize, 6000u);
    EXPECT_TRUE(std::equal(form->WaveData, form->WaveData + 6000, bytes.begin() + 46));
    const HeldSound dropped = Held(*form);

    // The open button with the same file chosen in its dialog ends in the same state.
    openName = url.toLocalFile();
    form->OpenClick();
    EXPECT_TRUE(Held(*form) == dropped);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, BadFileDroppedKeepsTheHeldSoundAndShowsItsMessage) {
    ASSERT_TRUE(Drop({WriteFile("tone.wav", ToneFileBytes(3000))}));
    Pump();
    const HeldSound before = Held(*form);
    ASSERT_TRUE(before.held);

    std::vector<uint8_t> notPcm = ToneFileBytes(3000);
    notPcm[20] = 3;  // wFormatTag: IEEE float
    const std::vector<uint8_t> notRiff = {'R', 'I', 'F', 'X', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    const struct {
        QUrl url;
        const char* error;
    } cases[] = {{WriteFile("float.wav", notPcm), "No fmttag"},
                 {WriteFile("junk.wav", notRiff), "No Wave"},
                 {QUrl::fromLocalFile(dir.filePath("gone.wav")), "No File"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        messages.clear();
        ASSERT_TRUE(Drop({c.url}));
        Pump();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].text, c.error);
        EXPECT_EQ(messages[0].caption, "ERROR");
        EXPECT_EQ(messages[1].text, "stop");
        EXPECT_EQ(messages[1].caption, AppServices::Instance().Title);
        EXPECT_TRUE(Held(*form) == before);
    }
}

TEST_F(DropTest, DropIsRefusedWhilePlayingOrRecording) {
    const QUrl url = WriteFile("tone.wav", ToneFileBytes(3000));
    const HeldSound before = Held(*form);

    form->PlayButtonClick();
    ASSERT_TRUE(form->Playing);
    EXPECT_FALSE(DragEnter({url}));
    form->PlayButtonClick();
    ASSERT_FALSE(form->Playing);

    // Entered while idle, dropped after playback started.
    ASSERT_TRUE(DragEnter({url}));
    form->PlayButtonClick();
    ASSERT_TRUE(form->Playing);
    EXPECT_FALSE(DropOnly({url}));
    Pump();
    EXPECT_TRUE(Held(*form) == before);
    form->PlayButtonClick();
    ASSERT_FALSE(form->Playing);

    form->RecButtonClick();
    ASSERT_TRUE(form->Recording);
    EXPECT_FALSE(DragEnter({url}));
    EXPECT_FALSE(DropOnly({url}));
    Pump();
    EXPECT_EQ(form->CurRate, 44100);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, DropTakenBeforePlaybackStartsIsNotOpenedUnderThePlayer) {
    const QUrl url = WriteFile("tone.wav", ToneFileBytes(3000));
    const HeldSound before = Held(*form);
    ASSERT_TRUE(Drop({url}));
    form->PlayButtonClick();  // before the queued open runs
    ASSERT_TRUE(form->Playing);
    Pump();
    EXPECT_EQ(form->CurRate, 44100);
    EXPECT_EQ(form->WaveDataSize, before.bytes.size());
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, OnlyOneLocalFileIsOffered) {
    const QUrl a = WriteFile("a.wav", ToneFileBytes(3000));
    const QUrl b = WriteFile("b.wav", ToneFileBytes(3000));
    EXPECT_FALSE(DragEnter({a, b}));
    EXPECT_FALSE(DragEnter({QUrl("https://example.org/a.wav")}));
    EXPECT_FALSE(DragEnter({}, "a.wav"));
    EXPECT_FALSE(Drop({a, b}));
    Pump();
    EXPECT_EQ(form->CurRate, 44100);
    EXPECT_TRUE(messages.empty());
}

TEST(LaunchArguments, OnePathIsTakenAndEverythingElseIgnored) {
    EXPECT_TRUE(ParseLaunchArguments({}).path.isEmpty());
    EXPECT_TRUE(ParseLaunchArguments({}).ignored.isEmpty());

    const LaunchArguments one = ParseLaunchArguments({"/music/a4.wav"});
    EXPECT_EQ(one.path, "/music/a4.wav");
    EXPECT_TRUE(one.ignored.isEmpty());

    const LaunchArguments mixed =
        ParseLaunchArguments({"--verbose", "a.wav", "-x", "b.wav", "--config=c"});
    EXPECT_EQ(mixed.path, "a.wav");
    EXPECT_EQ(mixed.ignored, QStringList({"--verbose", "-x", "b.wav", "--config=c"}));

    // After "--" a name starting with a dash is a path; a second "--" is a second path.
    const LaunchArguments dashed = ParseLaunchArguments({"--", "-take1.wav", "--"});
    EXPECT_EQ(dashed.path, "-take1.wav");
    EXPECT_EQ(dashed.ignored, QStringList({"--"}));

    // Desktops that pass URLs.
    EXPECT_EQ(ParseLaunchArguments({"file:///home/u/my%20take.wav"}).path, "/home/u/my take.wav");
    const LaunchArguments remote = ParseLaunchArguments({"file://server/share/a.wav", "b.wav"});
    EXPECT_EQ(remote.path, "//server/share/a.wav");
}

TEST(LaunchArguments, IgnoredArgumentsMakeOneStderrLine) {
    const QString line = IgnoredArgumentsLine({"--verbose", "b.wav"});
    EXPECT_TRUE(line.startsWith("sonabi: ignored \"--verbose\" \"b.wav\""));
    EXPECT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
}

// ---- High DPI ----

namespace {

// Counts the device pixels of shot that differ from the canvas pixel they lie in: each canvas
// pixel must be an exact dpr x dpr block, its top-left one at origin + dpr * (x, y). Only canvas
// pixels in `part` are looked at.
int CanvasBlockMismatches(const QImage& shot, QPoint origin, int dpr, const TCanvas& canvas,
                          const QRegion& part) {
    int mismatches = 0;
    for (const QRect& r : part) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const QRgb want = canvas.Pixel(x, y);
                for (int d = 0; d < dpr * dpr; ++d) {
                    const QPoint p = origin + QPoint(x * dpr + d % dpr, y * dpr + d / dpr);
                    if ((shot.pixel(p) & 0xFFFFFF) != want) ++mismatches;
                }
            }
        }
    }
    return mismatches;
}

// The part of box that no control stacked above it covers (the small arrow controls sit on the
// corners of the waveform and spectrum views), in the box's own coordinates.
QRegion UncoveredPart(const QWidget& window, const PaintBox& box) {
    QRegion part(box.geometry());
    bool above = false;
    for (const QObject* child : window.children()) {
        const auto* widget = qobject_cast<const QWidget*>(child);
        if (widget == &box)
            above = true;
        else if (above && widget && widget->isVisible())
            part -= widget->geometry();
    }
    return part.translated(-box.pos());
}

std::vector<PaintBox*> PaintBoxes(TFormMain& form) {
    return {form.PaintBoxGra, form.PaintBoxFft, form.PaintBoxSeimon, form.PaintBoxSeimonScale,
            form.SeimonAmpGra};
}

int Area(const QRegion& region) {
    int area = 0;
    for (const QRect& r : region) area += r.width() * r.height();
    return area;
}

}  // namespace

TEST_F(DropTest, PaintBoxesShowTheirCanvasAsExactBlocksAtPixelRatioOneAndTwo) {
    // Something in every box: a waveform, spectrum peaks, a voiceprint column.
    ASSERT_TRUE(Drop({WriteFile("tone.wav", ToneFileBytes(3000))}));
    form->show();
    Pump();
    ASSERT_TRUE(messages.empty());
    for (PaintBox* box : PaintBoxes(*form)) {
        for (int dpr : {1, 2}) {
            SCOPED_TRACE(testing::Message()
                         << "box at " << box->x() << "," << box->y() << ", ratio " << dpr);
            QImage shot(box->width() * dpr, box->height() * dpr, QImage::Format_RGB32);
            shot.setDevicePixelRatio(dpr);
            shot.fill(0xFF00FF);
            box->render(&shot);
            EXPECT_EQ(CanvasBlockMismatches(shot, {0, 0}, dpr, box->Canvas(), box->rect()), 0);
        }
    }
}

// The whole window under QT_SCALE_FACTOR=2, which must be set before the application object
// exists: run in a child process of this test binary.
class HighDpiChild : public FormTest {
  public:
    void TestBody() override {
        form->show();
        Pump();
        EXPECT_DOUBLE_EQ(form->devicePixelRatioF(), 2.0);
        EXPECT_EQ(form->size(), QSize(800, 600));
        EXPECT_EQ(form->PaintBoxGra->size(),
                  QSize(form->PaintBoxGra->Canvas().Width(), form->PaintBoxGra->Canvas().Height()));
        const QImage shot = form->grab().toImage();
        ASSERT_EQ(shot.size(), QSize(1600, 1200));
        for (PaintBox* box : PaintBoxes(*form)) {
            SCOPED_TRACE(testing::Message() << "box at " << box->x() << "," << box->y());
            const QRegion part = UncoveredPart(*form, *box);
            // The arrow controls cover only a small corner.
            EXPECT_GT(Area(part), box->width() * box->height() * 9 / 10);
            EXPECT_EQ(CanvasBlockMismatches(shot, box->pos() * 2, 2, box->Canvas(), part), 0);
        }
    }
};

namespace {
[[maybe_unused]] const bool kHighDpiChildRegistered =
    std::getenv("SONABI_HIGHDPI_CHILD") != nullptr &&
    (::testing::RegisterTest("HighDpiChild", "WindowAtScaleFactorTwo", nullptr, nullptr, __FILE__,
                             __LINE__, []() -> FormTest* { return new HighDpiChild; }),
     true);
}  // namespace

TEST(HighDpi, WindowKeepsItsLogicalSizeAndExactCanvasBlocksAtScaleFactorTwo) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SONABI_HIGHDPI_CHILD", "1");
    env.insert("QT_SCALE_FACTOR", "2");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=HighDpiChild.*", "--gtest_brief=1"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("1 test")) << output.toStdString();
}

// The toolkit's own dialogs speak the interface's language: Qt's Japanese translations.
TEST(ToolkitTranslations, DialogButtonsAndFileDialogsAreJapanese) {
    ASSERT_TRUE(LoadToolkitTranslations()) << "qt6-translations-l10n is not installed";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QString::fromUtf8("はい(&Y)"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"),
              QString::fromUtf8("キャンセル"));
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "File &name:"), "File &name:");
}

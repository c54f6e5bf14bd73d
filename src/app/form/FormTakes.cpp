// The take of a recording: everything the device records is also written, block by block, to a
// WAV file in the takes folder, so that what was recorded outlives the window, its 90 seconds
// of held sound and a crash. A take that cannot be written never stops the recording.
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "form/TFormMain.h"

using namespace sonabi;

void TFormMain::StartTake() {
    TakeFailureShown = false;
    const std::string failed =
        Take.Start(TakesFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")),
                   TakeStem(std::time(nullptr)), WaveFormat);
    if (!failed.empty()) TakeFailed(failed);
}

void TFormMain::AppendTake(const uint8_t* data, uint32_t bytes) {
    if (!Take.IsOpen()) return;
    const std::string failed = Take.Append(data, bytes);
    if (failed.empty()) return;
    // What was written stays a readable take; nothing more is tried for this recording.
    Take.Finish();
    TakeFailed(failed);
}

void TFormMain::FinishTake() {
    if (!Take.IsOpen()) return;
    const std::string failed = Take.Finish();
    if (!failed.empty()) return TakeFailed(failed);
    KeepNewestTakes(Take.Path().parent_path());
}

void TFormMain::TakeFailed(const std::string& reason) {
    std::fprintf(stderr, "sonabi: take not saved: %s\n", reason.c_str());
    if (TakeFailureShown || Closing) return;
    TakeFailureShown = true;
    // Said from the event loop, not from inside the block handler that found it: the box's own
    // loop goes on taking the recording's blocks.
    const QString text =
        QString::fromUtf8(Recording ? "録音をテイクのフォルダに保存できません"
                                      "（録音は続きます）。\n%1"
                                    : "録音をテイクのフォルダに保存できません。\n%1")
            .arg(QString::fromStdString(reason));
    QTimer::singleShot(0, this, [this, text] { ShowMessage(text, "ERROR"); });
}

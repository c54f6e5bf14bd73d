// The on-screen keyboard: key colours at rest, the highlight of the detected pitch, notes played
// by clicking a key or typing a character.
#include <QKeyEvent>

#include "form/TFormMain.h"
#include "synth/Keyboard.h"

using namespace sonabi;

void TFormMain::BuildKeyTables() {
    BuildKeyFrequencies(KeyFrequencies);
    SetKeyTips();
}

void TFormMain::ResetKeyColours() {
    uint32_t colours[kKeyCount + 1];
    sonabi::ResetKeyColours(colours);
    for (int i = 1; i <= kKeyCount; ++i) KeyPanels[i]->SetColour(colours[i]);
}

void TFormMain::HighlightNearestKey() {
    uint32_t colours[kKeyCount + 1];
    for (int i = 1; i <= kKeyCount; ++i) colours[i] = KeyPanels[i]->Colour();
    const KeyColourChanges changes =
        sonabi::HighlightNearestKey(DetectedFrequency, KeyFrequencies, colours);
    for (int i = 0; i < changes.count; ++i)
        KeyPanels[changes.items[i].key]->SetColour(changes.items[i].colour);
}

void TFormMain::Panel1Click(KeyPanel* sender) {
    HarmonicCount = MaxHarmonicCount();
    if (HarmonicLevels[1] == 0) {
        HarmonicSliders[1]->SetPosition(0);
        HarmonicSliders[1]->SetSelStart(HarmonicSliders[1]->Position());
        HarmonicLevels[1] = 100;
    }
    for (int i = 1; i <= kKeyCount; ++i)
        if (KeyPanels[i] == sender) {
            PlayNote(KeyFrequencies[i]);
            return;
        }
}

void TFormMain::FormKeyPress(QChar key) {
    if (const int hz = TypedNoteFrequency(key.unicode())) PlayNote(hz);
}

void TFormMain::keyPressEvent(QKeyEvent* e) { QWidget::keyPressEvent(e); }

namespace {
// The key press being delivered. The application's filter sees one press once for the control
// that has the focus and again for each parent it travels up to when a control ignores it.
const QEvent* pressSeen = nullptr;
}  // namespace

bool TFormMain::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
        case QEvent::ShortcutOverride:  // sent ahead of every new press
        case QEvent::KeyRelease:
            // A later press may be built at the same address: it must not pass for this one.
            pressSeen = nullptr;
            break;
        case QEvent::KeyPress:
            // The window sees typed characters before the focused control, which still
            // receives them: the event is looked at, never consumed.
            if (e != pressSeen && watched->isWidgetType() &&
                (watched == this || isAncestorOf(static_cast<QWidget*>(watched)))) {
                pressSeen = e;
                // A press with Ctrl, Alt or Meta is a shortcut or a menu key, never a typed
                // character (AltGr, which types characters, is not Alt).
                const auto* key = static_cast<QKeyEvent*>(e);
                const QString text = key->text();
                constexpr auto kShortcut = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
                if (text.size() == 1 && !(key->modifiers() & kShortcut)) FormKeyPress(text[0]);
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, e);
}

// The on-screen keyboard: key colours at rest, the highlight of the detected pitch, notes played
// by clicking a key or typing a character.
#include <QKeyEvent>

#include "main/TFormMain.h"
#include "synth/Keyboard.h"

void TFormMain::BuildKeyTables() { BuildKeyFrequencies(KeyFrequencies); }

void TFormMain::ResetKeyColours() {
    uint32_t colours[kKeyCount + 1];
    ::ResetKeyColours(colours);
    for (int i = 1; i <= kKeyCount; ++i) KeyPanels[i]->SetColour(colours[i]);
}

void TFormMain::HighlightNearestKey() {
    uint32_t colours[kKeyCount + 1];
    for (int i = 1; i <= kKeyCount; ++i) colours[i] = KeyPanels[i]->Colour();
    const KeyColourChanges changes = ::HighlightNearestKey(DetectedFrequency, KeyFrequencies, colours);
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

bool TFormMain::eventFilter(QObject* watched, QEvent* e) {
    // The window sees typed characters before the focused control, which still receives them.
    if (e->type() == QEvent::KeyPress && watched->isWidgetType() &&
        (watched == this || isAncestorOf(static_cast<QWidget*>(watched)))) {
        const auto* key = static_cast<QKeyEvent*>(e);
        // An event that travels up from a child to its parents is seen once.
        static const QEvent* lastEvent = nullptr;
        static quint64 lastStamp = 0;
        const bool seen = lastEvent == e && lastStamp == key->timestamp();
        lastEvent = e;
        lastStamp = key->timestamp();
        const QString text = key->text();
        if (!seen && text.size() == 1) FormKeyPress(text[0]);
    }
    return QWidget::eventFilter(watched, e);
}

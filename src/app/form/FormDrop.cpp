// A WAV file dropped on the window is opened as the open button opens the file its dialog chose.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "form/TFormMain.h"

using namespace sonabi;

namespace {

// The local file a drag carries, or an empty string when it carries anything else (text,
// remote URLs, several files).
QString DraggedFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) return {};
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
    return urls.front().toLocalFile();
}

}  // namespace

void TFormMain::dragEnterEvent(QDragEnterEvent* e) {
    // While sound runs the open command is refused, so the drop is not offered either.
    if (Playing || Recording || StopRequested) return;
    if (DraggedFile(e->mimeData()).isEmpty() || !(e->possibleActions() & Qt::CopyAction)) return;
    e->setDropAction(Qt::CopyAction);
    e->accept();
}

void TFormMain::dropEvent(QDropEvent* e) {
    const QString path = DraggedFile(e->mimeData());
    if (Playing || Recording || StopRequested || path.isEmpty()) return;
    e->setDropAction(Qt::CopyAction);
    e->accept();
    // The other program's drag waits until the drop returns: open the file (which may show
    // message boxes) once the event loop runs again, not inside the drop.
    QTimer::singleShot(0, this, [this, path] { OpenPath(path); });
}

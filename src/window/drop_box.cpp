#include "window/drop_box.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace sorvin::window {

std::vector<std::filesystem::path> LocalPaths(const QMimeData* data)
{
    static const QString uriList = QStringLiteral("text/uri-list");
    if (!data || !data->hasFormat(uriList)) return {};

    std::vector<std::filesystem::path> paths;
    for (const QByteArray& line : data->data(uriList).split('\n')) {
        QByteArray entry = line.trimmed();
        if (entry.isEmpty() || entry.startsWith('#')) continue;
        QUrl url = QUrl::fromEncoded(entry);
        if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
            return {};
        // The encoded path keeps bytes that are not UTF-8 as %XX; decoding it by hand gives them
        // back unchanged, where QUrl::toLocalFile would go through a QString.
        QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (bytes.isEmpty()) return {};
        paths.emplace_back(bytes.toStdString());
    }
    return paths;
}

DropBox::DropBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
}

bool DropBox::takes(const QMimeData* data) const
{
    return takesDrops_ && !LocalPaths(data).empty();
}

void DropBox::dragEnterEvent(QDragEnterEvent* event) { dragMoveEvent(event); }

void DropBox::dragMoveEvent(QDragMoveEvent* event)
{
    if (!takes(event->mimeData())) {
        event->ignore();
        return;
    }
    // Always a copy as far as the file manager knows: moving is our job, never its.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropBox::dropEvent(QDropEvent* event)
{
    auto paths = takesDrops_ ? LocalPaths(event->mimeData()) : std::vector<std::filesystem::path>{};
    if (paths.empty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (handler_) handler_(paths);
}

}  // namespace sorvin::window

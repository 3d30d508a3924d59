// A text box that takes lists of local files dropped from a file manager and refuses every other
// drag, so a refused drag never reaches the window.
#pragma once

#include <QPlainTextEdit>

#include <filesystem>
#include <functional>
#include <vector>

class QMimeData;

namespace sorvin::window {

// The local paths a drag carries, as native bytes (a name that is not UTF-8 survives), in the
// order the drag lists them. Empty unless the drag is a text/uri-list of local files only.
std::vector<std::filesystem::path> LocalPaths(const QMimeData* data);

class DropBox : public QPlainTextEdit {
public:
    using Handler = std::function<void(const std::vector<std::filesystem::path>&)>;

    explicit DropBox(QWidget* parent = nullptr);

    void setTakesDrops(bool takes) { takesDrops_ = takes; }
    bool takesDrops() const { return takesDrops_; }
    void onDrop(Handler handler) { handler_ = std::move(handler); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool takes(const QMimeData* data) const;

    bool takesDrops_ = true;
    Handler handler_;
};

}  // namespace sorvin::window

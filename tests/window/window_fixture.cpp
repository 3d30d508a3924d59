#include "window_fixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QDropEvent>
#include <QPlainTextEdit>

namespace sorvin::test {

WindowTest::WindowTest() : previousFolder_(std::filesystem::current_path())
{
    std::filesystem::current_path(tree.root());
}

WindowTest::~WindowTest()
{
    window.reset();
    std::filesystem::current_path(previousFolder_);
}

TestWindow& WindowTest::open()
{
    window = std::make_unique<TestWindow>(fs);
    window->show();
    return *window;
}

QAction* WindowTest::action(const char* name) { return child<QAction>(name); }

std::unique_ptr<QMimeData> WindowTest::FileList(const std::vector<std::filesystem::path>& paths)
{
    QByteArray list;
    for (const auto& p : paths) {
        QByteArray bytes(p.native().data(), qsizetype(p.native().size()));
        list += "file://" + bytes.toPercentEncoding("/") + "\r\n";
    }
    auto data = std::make_unique<QMimeData>();
    data->setData(QStringLiteral("text/uri-list"), list);
    return data;
}

bool WindowTest::takesDrag(const char* box, const QMimeData& data)
{
    QWidget* target = child<QAbstractScrollArea>(box)->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
}

void WindowTest::drop(const char* box, const std::vector<std::filesystem::path>& paths)
{
    auto data = FileList(paths);
    QWidget* target = child<QAbstractScrollArea>(box)->viewport();
    if (takesDrag(box, *data)) {
        QDropEvent dropEvent(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                             Qt::NoModifier);
        QCoreApplication::sendEvent(target, &dropEvent);
    }
    settle();
}

void WindowTest::settle()
{
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

QString WindowTest::pane() { return child<QPlainTextEdit>("rtfSorvinfile")->toPlainText(); }

std::string WindowTest::settingsFile() const
{
    return std::filesystem::exists(tree / "sorvin.ini") ? ReadFile(tree / "sorvin.ini") : std::string("(none)");
}

}  // namespace sorvin::test

#include "WindowStart.h"

#include "MainWindow.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <TarvoCenterVendor/CenterVendor.h>
#include <cstdio>
#include <utility>

namespace tarvo::desk {

namespace {

class FirstExposure : public QObject
{
public:
    FirstExposure(QWindow *window, std::function<void()> run)
        : QObject(window), m_run(std::move(run))
    {
        window->installEventFilter(this);
        QTimer::singleShot(2000, this, [this] { fire(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            // The expose comes before the window's first paint: let that happen first.
            QTimer::singleShot(0, this, [this] { fire(); });
        }
        return false;
    }

private:
    void fire()
    {
        if (m_run) {
            std::exchange(m_run, nullptr)();
            deleteLater();
        }
    }

    std::function<void()> m_run;
};

} // namespace

void whenPlaced(QWidget &window, std::function<void()> run)
{
    window.winId(); // makes the native window, so that its exposure can be watched
    new FirstExposure(window.windowHandle(), std::move(run));
}

void screenshotAfterFirstLoad(MainWindow &window, const QString &file)
{
    auto write = [&window, file] {
        const bool saved = window.grab().save(file, "PNG");
        std::fprintf(saved ? stdout : stderr, "%s %s\n",
                     saved ? "screenshot written to" : "could not write", qUtf8Printable(file));
        QApplication::exit(saved ? 0 : 1);
    };
    // Painting the loaded lists takes a turn of the event loop after the load.
    QObject::connect(
        window.control(), &CenterVendor::loadFinished, &window,
        [&window, write] { QTimer::singleShot(200, &window, write); }, Qt::SingleShotConnection);
    QTimer::singleShot(60'000, &window, [] {
        std::fprintf(stderr, "nothing was loaded within a minute\n");
        QApplication::exit(1);
    });
}

} // namespace tarvo::desk

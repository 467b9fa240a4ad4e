// How the application starts its window: once it is placed, and (for screenshots) until the
// first load has ended.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tarvo::desk {

class MainWindow;

// Runs `run` once the window manager has placed `window` (its first exposure, or after two
// seconds without one), so that dialogs it opens can be centred on it.
void whenPlaced(QWidget &window, std::function<void()> run);

// Writes the window to `file` (PNG) once the first load has ended, then quits the
// application with 0, or 1 when the file could not be written or nothing loaded in time.
void screenshotAfterFirstLoad(MainWindow &window, const QString &file);

} // namespace tarvo::desk

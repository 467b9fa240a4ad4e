// centervendor-desk: the back-office window around the CenterVendor control.
#include "KeychainStore.h"
#include "MainWindow.h"
#include "WindowStart.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QSettings>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tarvo"));
    QApplication::setApplicationName(QStringLiteral("centervendor-desk"));
    // Ties the windows to the menu entry and its icon (Wayland asks by this name).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tarvo.CenterVendorDesk"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.tarvo.CenterVendorDesk")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Decides which vendors serve a center and at what handling fee."));
    parser.addHelpOption();
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Server name, e.g. http://127.0.0.1:8080."),
                                    QStringLiteral("URL"));
    const QCommandLineOption center(QStringLiteral("center"), QStringLiteral("Center id to open."),
                                    QStringLiteral("N"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Write the window to a PNG after the first load and exit."),
        QStringLiteral("FILE"));
    parser.addOptions({server, center, screenshot});
    parser.process(app);

    std::optional<qint32> centerId;
    if (parser.isSet(center)) {
        bool ok = false;
        centerId = parser.value(center).toInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "--center needs a whole number\n");
            return 2;
        }
    }

    QSettings settings;
    tarvo::desk::KeychainStore passwords(QStringLiteral("centervendor-desk"));
    tarvo::desk::MainWindow window(settings, passwords);
    window.show();
    if (parser.isSet(screenshot)) {
        tarvo::desk::screenshotAfterFirstLoad(window, parser.value(screenshot));
    }
    tarvo::desk::whenPlaced(window, [&] { window.start(parser.value(server), centerId); });
    return QApplication::exec();
}

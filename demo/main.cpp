// Demo host: a main window that embeds the CenterVendor control and loads one center.
#include <QApplication>
#include <QCommandLineParser>
#include <QMainWindow>
#include <QTimer>
#include <TarvoCenterVendor/CenterVendor.h>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("centervendor-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Hosts the CenterVendor control."));
    parser.addHelpOption();
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Server name, e.g. http://127.0.0.1:8080."),
                                    QStringLiteral("URL"));
    const QCommandLineOption center(QStringLiteral("center"), QStringLiteral("Center id to load."),
                                    QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Render the window to a PNG after the first load and exit."),
        QStringLiteral("FILE"));
    parser.addOptions({server, center, screenshot});
    parser.process(app);

    bool ok = false;
    const qint32 centerId = parser.value(center).toInt(&ok);
    if (!ok) {
        std::fprintf(stderr, "--center needs a whole number\n");
        return 2;
    }

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Center %1 - Vendors").arg(centerId));
    auto *control = new CenterVendor(&window);
    window.setCentralWidget(control);
    window.setFixedSize(control->size());
    window.show();

    if (parser.isSet(server)) {
        control->LetDataFromDatabase(centerId, parser.value(server));
    }

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(200, &window, [&window, file] {
            const bool saved = window.grab().save(file, "PNG");
            std::fprintf(saved ? stdout : stderr, "%s %s\n",
                         saved ? "screenshot written to" : "could not write", qUtf8Printable(file));
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}

// A host outside the tree: creates the control from the installed package and prints the
// version caption it shows.
#include <QApplication>
#include <QLabel>
#include <TarvoCenterVendor/CenterVendor.h>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    CenterVendor control;
    const QVariant result = control.LetDataFromDatabase(1, QString());
    auto *caption = control.findChild<QLabel *>(QStringLiteral("lblVersionNumber"));
    if (!caption || result.isValid()) {
        return 1;
    }
    std::printf("%s\n", qPrintable(caption->text()));
    return 0;
}

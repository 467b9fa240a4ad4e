// The Designer plugin as Designer and hosts use it: its widget box entry, and forms holding the
// control built by QUiLoader with the plugin on the loader's path.
#include "support/TestHttpServer.h"

#include <QAbstractItemView>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPluginLoader>
#include <QUiLoader>
#include <QXmlStreamReader>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <TarvoCenterVendor/CenterVendor.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>

using tarvo::test::TestHttpServer;

namespace {

QString pluginFile()
{
    return QString::fromUtf8(TARVO_DESIGNER_PLUGIN_FILE);
}

// A loader that looks for custom widgets only where the plugin was built, so what it builds
// cannot come from an installed copy.
std::unique_ptr<QUiLoader> loaderWithPlugin()
{
    auto loader = std::make_unique<QUiLoader>();
    loader->clearPluginPaths();
    loader->addPluginPath(QString::fromUtf8(TARVO_DESIGNER_PLUGIN_DIR));
    return loader;
}

std::unique_ptr<QUiLoader> loaderWithoutPlugins()
{
    auto loader = std::make_unique<QUiLoader>();
    loader->clearPluginPaths();
    return loader;
}

std::unique_ptr<QWidget> loadForm(QUiLoader &loader, QIODevice &form)
{
    return std::unique_ptr<QWidget>(loader.load(&form));
}

// Null when the form does not load; the caller reports loader.errorString().
std::unique_ptr<QWidget> loadHostForm(QUiLoader &loader)
{
    QFile form(QStringLiteral(":/forms/HostForm.ui"));
    if (!form.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    return loadForm(loader, form);
}

bool hasOpaquePixel(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                return true;
            }
        }
    }
    return false;
}

// The plugin loaded on its own, as Designer loads it.
class PluginEntry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(loader.load()) << qPrintable(loader.errorString());
        plugin = qobject_cast<QDesignerCustomWidgetInterface *>(loader.instance());
        ASSERT_NE(plugin, nullptr) << "the plugin does not offer a custom widget";
    }

    QPluginLoader loader{pluginFile()};
    QDesignerCustomWidgetInterface *plugin = nullptr;
};

TEST_F(PluginEntry, describesTheControlForTheWidgetBox)
{
    EXPECT_EQ(plugin->name(), "CenterVendor");
    EXPECT_EQ(plugin->group(), "TarvoCenterVendor");
    EXPECT_EQ(plugin->includeFile(), "TarvoCenterVendor/CenterVendor.h");
    EXPECT_FALSE(plugin->isContainer());
    EXPECT_FALSE(plugin->toolTip().trimmed().isEmpty());
    EXPECT_TRUE(plugin->whatsThis().contains("LetDataFromDatabase"));
}

TEST_F(PluginEntry, drawsItsIconFromItsOwnResources)
{
    const QIcon icon = plugin->icon();
    ASSERT_FALSE(icon.isNull());
    struct Case
    {
        int side;
        qreal scale;
    };
    for (const Case c : {Case{16, 1.0}, Case{32, 1.0}, Case{32, 2.0}}) {
        const QImage image = icon.pixmap(QSize(c.side, c.side), c.scale).toImage();
        ASSERT_FALSE(image.isNull()) << c.side << " at " << c.scale;
        const int pixels = qRound(c.side * c.scale);
        EXPECT_EQ(image.size(), QSize(pixels, pixels)) << "sharp at " << c.scale;
        EXPECT_TRUE(hasOpaquePixel(image)) << "blank icon at " << c.side << " x" << c.scale;
    }
}

TEST_F(PluginEntry, offersAWellFormedSnippetNamingTheControlAndItsHeader)
{
    QXmlStreamReader xml(plugin->domXml());
    QString widgetClass;
    QString widgetName;
    std::map<QString, QString> customWidget;
    QString element;
    bool inCustomWidget = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            element = xml.name().toString();
            if (element == "widget" && widgetClass.isEmpty()) {
                widgetClass = xml.attributes().value("class").toString();
                widgetName = xml.attributes().value("name").toString();
            }
            inCustomWidget = inCustomWidget || element == "customwidget";
        } else if (xml.isEndElement() && xml.name() == QLatin1String("customwidget")) {
            inCustomWidget = false;
        } else if (xml.isCharacters() && inCustomWidget && !xml.isWhitespace()) {
            customWidget[element] = xml.text().toString();
        }
    }
    ASSERT_FALSE(xml.hasError()) << qPrintable(xml.errorString());
    EXPECT_EQ(widgetClass, plugin->name());
    EXPECT_EQ(widgetName, "centerVendor");
    EXPECT_EQ(customWidget["class"], plugin->name());
    EXPECT_EQ(customWidget["extends"], "QWidget");
    EXPECT_EQ(customWidget["header"], plugin->includeFile());
}

TEST_F(PluginEntry, dropsTheControlOnAFormAtItsLaidOutSize)
{
    auto formLoader = loaderWithPlugin();
    QBuffer snippet;
    snippet.setData(plugin->domXml().toUtf8());
    ASSERT_TRUE(snippet.open(QIODevice::ReadOnly));
    const auto dropped = loadForm(*formLoader, snippet);
    ASSERT_NE(dropped, nullptr) << qPrintable(formLoader->errorString());
    ASSERT_NE(qobject_cast<CenterVendor *>(dropped.get()), nullptr);
    const CenterVendor reference;
    EXPECT_EQ(dropped->size(), reference.size());
}

TEST_F(PluginEntry, createsAControlUnderTheGivenParent)
{
    plugin->initialize(nullptr);
    EXPECT_TRUE(plugin->isInitialized());
    QWidget parent;
    QWidget *created = plugin->createWidget(&parent);
    ASSERT_NE(qobject_cast<CenterVendor *>(created), nullptr);
    EXPECT_EQ(created->parentWidget(), &parent);
    EXPECT_NE(created->findChild<QAbstractItemView *>("lstVendors"), nullptr);
}

TEST(FormLoading, listsTheControlAmongAvailableWidgetsOnlyWithThePlugin)
{
    const QStringList withPlugin = loaderWithPlugin()->availableWidgets();
    EXPECT_TRUE(withPlugin.contains("CenterVendor")) << qPrintable(withPlugin.join(' '));
    EXPECT_TRUE(withPlugin.contains("QLabel"));
    EXPECT_FALSE(loaderWithoutPlugins()->availableWidgets().contains("CenterVendor"));
}

TEST(FormLoading, createsTheControlByClassName)
{
    auto loader = loaderWithPlugin();
    QWidget parent;
    QWidget *created = loader->createWidget("CenterVendor", &parent, "byName");
    ASSERT_NE(qobject_cast<CenterVendor *>(created), nullptr);
    EXPECT_EQ(created->objectName(), "byName");
    EXPECT_EQ(created->parentWidget(), &parent);
}

TEST(FormLoading, buildsTheControlWhereTheFormPlacesIt)
{
    auto loader = loaderWithPlugin();
    const auto form = loadHostForm(*loader);
    ASSERT_NE(form, nullptr) << qPrintable(loader->errorString());
    auto *control = form->findChild<CenterVendor *>("centerVendor");
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parentWidget(), form.get());
    EXPECT_EQ(control->geometry(), QRect(10, 40, 583, 348));
    EXPECT_EQ(control->toolTip(), "Vendors of center 12");
    auto *caption = form->findChild<QLabel *>("lblCenter");
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->text(), "Center 12");
}

TEST(FormLoading, withoutThePluginTheFormHoldsOnlyAPlainWidget)
{
    auto loader = loaderWithoutPlugins();
    const auto form = loadHostForm(*loader);
    ASSERT_NE(form, nullptr) << qPrintable(loader->errorString());
    auto *placeholder = form->findChild<QWidget *>("centerVendor");
    ASSERT_NE(placeholder, nullptr);
    EXPECT_EQ(qobject_cast<CenterVendor *>(placeholder), nullptr);
    EXPECT_EQ(form->findChild<QAbstractItemView *>("lstVendors"), nullptr);
}

TEST(FormLoading, aHostReachesTheLoadByNameOnAFormBuiltControl)
{
    TestHttpServer server; // answers 404 to every query, which ends the load after its first
    auto loader = loaderWithPlugin();
    const auto form = loadHostForm(*loader);
    ASSERT_NE(form, nullptr) << qPrintable(loader->errorString());
    QWidget *control = form->findChild<QWidget *>("centerVendor");
    ASSERT_NE(control, nullptr);

    QVariant result(1);
    ASSERT_TRUE(QMetaObject::invokeMethod(control, "LetDataFromDatabase",
                                          Q_RETURN_ARG(QVariant, result), Q_ARG(qint32, 12),
                                          Q_ARG(QString, QString::fromStdString(server.url()))));
    EXPECT_FALSE(result.isValid());
    const auto requests = server.requestsTo("/CenterVendor.asp");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/CenterVendor.asp?count=1&centerID=12");
}

// Each list of the control, reached by name through a form-built control.
class FormChildList : public ::testing::TestWithParam<const char *>
{
};

TEST_P(FormChildList, isAViewOverTheSevenColumns)
{
    auto loader = loaderWithPlugin();
    const auto form = loadHostForm(*loader);
    ASSERT_NE(form, nullptr) << qPrintable(loader->errorString());
    auto *control = form->findChild<CenterVendor *>("centerVendor");
    ASSERT_NE(control, nullptr);
    auto *list = control->findChild<QAbstractItemView *>(GetParam());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(form->findChild<QAbstractItemView *>(GetParam()), list);
    ASSERT_NE(list->model(), nullptr);
    EXPECT_EQ(list->model()->columnCount(), 7);
    EXPECT_EQ(list->model()->rowCount(), 0) << "nothing is loaded before the host asks";
}

INSTANTIATE_TEST_SUITE_P(Lists, FormChildList, ::testing::Values("lstVendors", "lstVendorCenter"));

} // namespace

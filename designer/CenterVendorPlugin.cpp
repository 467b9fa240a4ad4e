#include "CenterVendorPlugin.h"

#include <QIcon>
#include <TarvoCenterVendor/CenterVendor.h>

CenterVendorPlugin::CenterVendorPlugin(QObject *parent) : QObject(parent) {}

QString CenterVendorPlugin::name() const
{
    return QStringLiteral("CenterVendor");
}

QString CenterVendorPlugin::group() const
{
    return QStringLiteral("TarvoCenterVendor");
}

QString CenterVendorPlugin::toolTip() const
{
    return QStringLiteral("Chooses the vendors that serve a center and their handling fees");
}

QString CenterVendorPlugin::whatsThis() const
{
    return QStringLiteral(
        "Two lists: the active vendors not yet serving a center and the vendors that serve it. "
        "Vendors move between them with the arrow buttons, a double click or the pop-up menu; "
        "each selected vendor carries a handling fee and a default-duty flag. Changes stay "
        "marked on the rows until \"Commit to Database\" sends them to the server page. Call "
        "LetDataFromDatabase(centerId, \"http://host:port\") to load a center.");
}

QString CenterVendorPlugin::includeFile() const
{
    return QStringLiteral("TarvoCenterVendor/CenterVendor.h");
}

QIcon CenterVendorPlugin::icon() const
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/tarvocentervendor/designer/centervendor.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/tarvocentervendor/designer/centervendor@2x.png"), QSize(64, 64));
    return icon;
}

bool CenterVendorPlugin::isContainer() const
{
    return false;
}

QString CenterVendorPlugin::domXml() const
{
    // The control places its children by absolute geometry and has no size hint, so the form
    // gets the size of the laid-out screen (8745 x 5220 twips).
    return QStringLiteral(R"(<ui language="c++" displayname="CenterVendor">
 <widget class="CenterVendor" name="centerVendor">
  <property name="geometry">
   <rect><x>0</x><y>0</y><width>583</width><height>348</height></rect>
  </property>
 </widget>
 <customwidgets>
  <customwidget>
   <class>CenterVendor</class>
   <extends>QWidget</extends>
   <header>TarvoCenterVendor/CenterVendor.h</header>
  </customwidget>
 </customwidgets>
</ui>
)");
}

QWidget *CenterVendorPlugin::createWidget(QWidget *parent)
{
    return new CenterVendor(parent);
}

void CenterVendorPlugin::initialize(QDesignerFormEditorInterface *core)
{
    Q_UNUSED(core);
    m_initialized = true;
}

bool CenterVendorPlugin::isInitialized() const
{
    return m_initialized;
}

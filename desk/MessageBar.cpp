#include "MessageBar.h"

#include <QAccessible>
#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarvo::desk {

namespace {

// Tints of the window's own palette, so that a dark theme stays readable.
QColor tint(MessageBar::Kind kind, const QPalette &palette)
{
    const QColor accent = kind == MessageBar::Kind::Error     ? QColor(0xda, 0x44, 0x53)
                          : kind == MessageBar::Kind::Warning ? QColor(0xf6, 0x74, 0x00)
                                                              : QColor(0x3d, 0xae, 0xe9);
    const QColor base = palette.color(QPalette::Window);
    constexpr double share = 0.2;
    return QColor::fromRgbF(float(base.redF() * (1 - share) + accent.redF() * share),
                            float(base.greenF() * (1 - share) + accent.greenF() * share),
                            float(base.blueF() * (1 - share) + accent.blueF() * share));
}

} // namespace

MessageBar::MessageBar(QWidget *parent)
    : QFrame(parent), m_icon(new QLabel(this)), m_text(new QLabel(this)),
      m_details(new QLabel(this)), m_detailsButton(new QToolButton(this)),
      m_close(new QToolButton(this)), m_actions(new QHBoxLayout)
{
    setObjectName(QStringLiteral("messageBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_text->setObjectName(QStringLiteral("messageText"));
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details->setObjectName(QStringLiteral("messageDetails"));
    m_details->setWordWrap(true);
    m_details->setTextFormat(Qt::PlainText);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_details->setAccessibleName(tr("Details"));
    m_details->hide();
    m_detailsButton->setObjectName(QStringLiteral("messageDetailsButton"));
    m_detailsButton->setText(tr("&Details"));
    m_detailsButton->setCheckable(true);
    m_detailsButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(m_detailsButton, &QToolButton::toggled, this, &MessageBar::showDetails);
    m_close->setObjectName(QStringLiteral("messageClose"));
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setAutoRaise(true);
    m_close->setToolTip(tr("Close this message"));
    m_close->setAccessibleName(tr("Close message"));
    connect(m_close, &QToolButton::clicked, this, [this] { clear(); });

    auto *row = new QHBoxLayout;
    row->addWidget(m_icon, 0, Qt::AlignTop);
    row->addWidget(m_text, 1);
    row->addLayout(m_actions);
    row->addWidget(m_detailsButton, 0, Qt::AlignTop);
    row->addWidget(m_close, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 4, 4);
    layout->addLayout(row);
    layout->addWidget(m_details);
    hide();
}

void MessageBar::showMessage(Topic topic, Kind kind, const QString &text,
                             const QList<QAction *> &actions, const QString &details)
{
    m_topic = topic;
    m_kind = kind;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window,
                     tint(kind, parentWidget() ? parentWidget()->palette() : QPalette()));
    setPalette(palette);
    const QStyle::StandardPixmap icon = kind == Kind::Error     ? QStyle::SP_MessageBoxCritical
                                        : kind == Kind::Warning ? QStyle::SP_MessageBoxWarning
                                                                : QStyle::SP_MessageBoxInformation;
    const int size = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    m_icon->setPixmap(style()->standardIcon(icon).pixmap(size, size));
    m_text->setText(text);

    qDeleteAll(m_buttons);
    m_buttons.clear();
    for (QAction *action : actions) {
        auto *button = new QToolButton(this);
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        m_actions->addWidget(button, 0, Qt::AlignTop);
        // At once, not when the layout gets round to it: the window may give it the focus now.
        button->show();
        m_buttons << button;
    }
    m_details->setText(details);
    m_detailsButton->setVisible(!details.isEmpty());
    m_detailsButton->setChecked(false);
    setAccessibleName(text);
    setAccessibleDescription(details);
    show();
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void MessageBar::clear(Topic topic)
{
    if (m_topic == topic) {
        clear();
    }
}

void MessageBar::clear()
{
    m_topic = Topic::None;
    hide();
    m_detailsButton->setChecked(false);
    m_text->clear();
    m_details->clear();
    qDeleteAll(m_buttons);
    m_buttons.clear();
}

QString MessageBar::text() const
{
    return isHidden() ? QString() : m_text->text();
}

QString MessageBar::details() const
{
    return isHidden() ? QString() : m_details->text();
}

void MessageBar::showDetails(bool shown)
{
    m_details->setVisible(shown);
}

} // namespace tarvo::desk

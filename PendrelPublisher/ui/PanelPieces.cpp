#include "ui/PanelPieces.h"

#include "ui/PanelLook.h"

#include <QAccessible>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>

#include <cmath>

namespace pendrel {

namespace {

QString toneName(PanelTexts::Tone tone)
{
    switch (tone) {
    case PanelTexts::Tone::info:
        return QStringLiteral("info");
    case PanelTexts::Tone::success:
        return QStringLiteral("success");
    case PanelTexts::Tone::danger:
        return QStringLiteral("danger");
    case PanelTexts::Tone::muted:
        break;
    }
    return QStringLiteral("muted");
}

} // namespace

bool sendAtSpiStateChange(QWidget *widget, const QString &state, bool on)
{
    if (!QAccessible::isActive())
        return false;
    // The connection Qt's AT-SPI bridge made to the accessibility bus, by the
    // name it gave it: a reader takes an event for an object's only when it
    // comes from the name that serves the object.
    QDBusConnection bus(QStringLiteral("a11y"));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    if (!bus.isConnected() || !iface)
        return false;
    const QString path = QStringLiteral("/org/a11y/atspi/accessible/") + QString::number(QAccessible::uniqueId(iface));
    // The signature the bridge's own events have: kind, two details, a value
    // and the application's root object.
    QDBusArgument root;
    root.beginStructure();
    root << bus.baseService() << QDBusObjectPath(QStringLiteral("/org/a11y/atspi/accessible/root"));
    root.endStructure();
    QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.a11y.atspi.Event.Object"),
                                                     QStringLiteral("StateChanged"));
    signal << state << int(on ? 1 : 0) << 0 << QVariant::fromValue(QDBusVariant(QVariant(0)))
           << QVariant::fromValue(root);
    return bus.send(signal);
}

void describeControl(QWidget *control, const QLabel *help)
{
    const QString before = control->accessibleDescription();
    control->setAccessibleDescription(before.isEmpty() || before == help->text() ? help->text()
                                                                                 : before + u' ' + help->text());
}

QImage tintedImage(const QImage &source, QSize size, const QColor &color)
{
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), size), source);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(QRect(QPoint(0, 0), size), color);
    return out;
}

double relativeLuminance(const QColor &color)
{
    const auto channel = [](float c) { return c <= 0.04045f ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor legibleOn(const QColor &background)
{
    // White where it is legible, else the panel's ink, else black: the
    // brand's mid blues hold white text only at large sizes.
    for (const QColor &ink : {QColor(Qt::white), QColor(0x1d, 0x29, 0x39), QColor(Qt::black)})
        if (contrastRatio(ink, background) >= 4.5)
            return ink;
    return contrastRatio(Qt::white, background) >= contrastRatio(Qt::black, background) ? QColor(Qt::white)
                                                                                          : QColor(Qt::black);
}

QLabel *captionLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setProperty("role", QStringLiteral("caption"));
    return label;
}

QLabel *helpLabel(const QString &text, QWidget *parent, QWidget *describes)
{
    auto *label = new QLabel(parent);
    // The mark goes before the text: setting the text makes Qt create the
    // label's accessible object, which keeps the role it got then.
    if (describes)
        label->setProperty(accessibleDescribesProperty, true);
    label->setText(text);
    if (describes)
        describeControl(describes, label);
    label->setWordWrap(true);
    label->setProperty("role", QStringLiteral("help"));
    return label;
}

QLabel *roleLabel(const QString &text, const char *objectName, const char *role, QWidget *parent,
                  QWidget *describes)
{
    auto *label = new QLabel(parent);
    if (describes)
        label->setProperty(accessibleDescribesProperty, true); // before the text, as above
    label->setText(text);
    if (describes)
        describeControl(describes, label);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setProperty("role", QString::fromLatin1(role));
    label->setWordWrap(true);
    return label;
}

PanelCard::PanelCard(QWidget *parent) : QFrame(parent)
{
    setProperty("role", QStringLiteral("card"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);
}

QVBoxLayout *PanelCard::content() const
{
    return static_cast<QVBoxLayout *>(layout());
}

StatusPill::StatusPill(QWidget *parent) : QLabel(parent)
{
    setProperty("role", QStringLiteral("pill"));
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

void StatusPill::setPill(const PanelTexts::Pill &pill)
{
    if (styled_ && pill == pill_)
        return; // restyling re-polishes the widget; skip it when nothing changed
    styled_ = true;
    pill_ = pill;
    setText(pill.title);
    setAccessibleName(pill.title);
    // The tone's colours come from the panel's sheet, so a switch of looks
    // recolours the pill with everything else.
    setProperty("tone", toneName(pill.tone));
    style()->unpolish(this);
    style()->polish(this);
}

CompactActionButton::CompactActionButton(const QString &title, Prominence prominence, const char *objectName,
                                         QWidget *parent, int height)
    : QPushButton(title, parent)
{
    setObjectName(QString::fromLatin1(objectName));
    setAccessibleName(title);
    setProperty("prominence", prominence == Prominence::primary ? QStringLiteral("primary")
                                                                : QStringLiteral("secondary"));
    setFixedHeight(height);
    setCursor(Qt::PointingHandCursor);
}

ToggleSwitch::ToggleSwitch(QWidget *parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const
{
    return {36, 20};
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const PanelColors &colors = panelColors(panelLookOf(this));
    QColor on = colors.accent;
    QColor off = colors.outline; // 3:1 against the card, as a control's outline must be
    if (!isEnabled()) {
        on.setAlphaF(0.4f);
        off.setAlphaF(0.5f);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? on : off);
    p.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const double d = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - d : track.left() + 2;
    p.setBrush(isEnabled() ? colors.knob : colors.fieldDisabled);
    p.drawEllipse(QRectF(x, track.top() + 2, d, d));
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colors.accent, 1.5));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0, height() / 2.0);
    }
}

namespace {

QAccessible::UpdateHandler chainedHandler = nullptr;
void filterPanelEvents(QAccessibleEvent *event);

// Hands an event on to whoever was there before: the handler installed
// earlier, or Qt's own delivery to the accessibility bus.
void deliver(QAccessibleEvent *event)
{
    if (chainedHandler) {
        chainedHandler(event);
        return;
    }
    const QAccessible::UpdateHandler current = QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(current);
}

void installPanelEventFilter()
{
    static const bool installed = [] {
        chainedHandler = QAccessible::installUpdateHandler(filterPanelEvents);
        return true;
    }();
    Q_UNUSED(installed);
}

// Set on a field from the moment it takes the focus until Qt reports that.
constexpr char focusUnreportedProperty[] = "accessibleFocusUnreported";

// Every text change of a secret field goes out with its characters masked;
// a field's caret and selection wait for its focus to have been reported.
// Everything else passes as it is.
void filterPanelEvents(QAccessibleEvent *event)
{
    QObject *object = event->object();
    if (object && object->property(focusUnreportedProperty).toBool()) {
        if (event->type() == QAccessible::TextCaretMoved || event->type() == QAccessible::TextSelectionChanged)
            return; // the focus report that follows tells where the caret is
        if (event->type() == QAccessible::Focus)
            object->setProperty(focusUnreportedProperty, false);
    }
    const auto *field = qobject_cast<const SecretField *>(object);
    if (!field) {
        deliver(event);
        return;
    }
    switch (event->type()) {
    case QAccessible::TextInserted: {
        const auto *e = static_cast<QAccessibleTextInsertEvent *>(event);
        QAccessibleTextInsertEvent masked(object, e->changePosition(), field->masked(e->textInserted()));
        deliver(&masked);
        return;
    }
    case QAccessible::TextRemoved: {
        const auto *e = static_cast<QAccessibleTextRemoveEvent *>(event);
        QAccessibleTextRemoveEvent masked(object, e->changePosition(), field->masked(e->textRemoved()));
        deliver(&masked);
        return;
    }
    case QAccessible::TextUpdated: {
        const auto *e = static_cast<QAccessibleTextUpdateEvent *>(event);
        QAccessibleTextUpdateEvent masked(object, e->changePosition(), field->masked(e->textRemoved()),
                                          field->masked(e->textInserted()));
        deliver(&masked);
        return;
    }
    case QAccessible::ValueChanged: {
        // A line edit's value is its text: say that it changed, not to what.
        const auto *e = static_cast<QAccessibleValueChangeEvent *>(event);
        QAccessibleValueChangeEvent masked(object, field->masked(e->value().toString()));
        deliver(&masked);
        return;
    }
    default:
        deliver(event);
    }
}

class FocusFirst : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Before the field's own handling, which moves the caret; Qt reports
        // the focus after it. A reply that never comes holds nothing back
        // beyond this turn of the event loop.
        if (event->type() == QEvent::FocusIn) {
            watched->setProperty(focusUnreportedProperty, true);
            QTimer::singleShot(0, watched, [watched] { watched->setProperty(focusUnreportedProperty, false); });
        }
        return false;
    }
};

} // namespace

void reportFocusFirst(QLineEdit *field)
{
    installPanelEventFilter();
    field->installEventFilter(new FocusFirst(field));
}

SecretField::SecretField(QWidget *parent) : QLineEdit(parent)
{
    setEchoMode(QLineEdit::Password);
    installPanelEventFilter();
}

QChar SecretField::maskCharacter() const
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    return QChar(char16_t(style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, &option, this)));
}

QString SecretField::masked(const QString &text) const
{
    return QString(text.size(), maskCharacter());
}

LabeledField::LabeledField(const QString &title, QWidget *content, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    QLabel *caption = captionLabel(title, this);
    caption->setBuddy(content);
    layout->addWidget(caption);
    content->setParent(this);
    layout->addWidget(content);
}

InlineTextField::InlineTextField(const QString &title, QLineEdit *field, QWidget *parent)
    : LabeledField(title, field, parent)
{
    if (field->accessibleName().isEmpty())
        field->setAccessibleName(title);
}

DisclosureButton::DisclosureButton(const QString &title, const char *objectName, QWidget *parent)
    : QToolButton(parent)
{
    setObjectName(QString::fromLatin1(objectName));
    setAccessibleName(title);
    setText(title);
    setCheckable(true);
    setProperty("role", QStringLiteral("disclosure"));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setArrowType(Qt::RightArrow);
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QToolButton::toggled, this, [this](bool on) {
        setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
        announceExpanded();
    });
}

void DisclosureButton::setExpanded(bool expanded)
{
    if (expanded == isChecked())
        return;
    {
        const QSignalBlocker block(this);
        setChecked(expanded);
        setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    }
    announceExpanded();
}

void DisclosureButton::announceExpanded()
{
    // Screen readers present a disclosure by its expanded state
    // (shell/AccessibleTree.cpp); say when that changes.
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
    // Qt 6.4's AT-SPI bridge passes on only checked, active, enabled and
    // focused changes and drops this one, so Orca said nothing as the list
    // opened or closed: tell the accessibility bus ourselves. Collapsed
    // first: readers keep the states they were told of, and Orca, seeing
    // "collapsed" still set, said "collapsed" on opening as well.
    sendAtSpiStateChange(this, QStringLiteral("collapsed"), !isChecked());
    sendAtSpiStateChange(this, QStringLiteral("expanded"), isChecked());
}

PanelAnnouncer::PanelAnnouncer(QWidget *where) : QObject(where), where_(where) {}

void PanelAnnouncer::announce(const QString &message)
{
    emit announced(message);
    // A hidden panel says nothing now, and nothing stale when it opens.
    if (!where_->isVisible())
        return;
    auto *said = new PanelAnnouncement(message, where_);
    said->show();
    // Long enough for a reader to ask for the name after the event.
    QTimer::singleShot(10000, said, &QObject::deleteLater);
}

PanelAnnouncement::PanelAnnouncement(const QString &message, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("panelAnnouncement"));
    setAccessibleName(message);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 1, 1);
}

MetricBlock::MetricBlock(const QString &label, const char *objectName, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto *caption = new QLabel(label, this);
    caption->setProperty("role", QStringLiteral("caption"));
    value_ = new QLabel(this);
    value_->setObjectName(QString::fromLatin1(objectName));
    value_->setAccessibleName(label);
    value_->setProperty("role", QStringLiteral("metric"));
    layout->addWidget(caption);
    layout->addWidget(value_);
}

void MetricBlock::setValue(const QString &value)
{
    value_->setText(value);
}

QString MetricBlock::value() const
{
    return value_->text();
}

URLChip::URLChip(QWidget *parent) : QLabel(parent)
{
    setProperty("role", QStringLiteral("urlChip"));
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setMinimumWidth(40);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void URLChip::setURL(const QString &url)
{
    url_ = url;
    setToolTip(url);
    setAccessibleName(url);
    setText(fontMetrics().elidedText(url, Qt::ElideMiddle, std::max(40, width() - 20)));
}

void URLChip::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    setText(fontMetrics().elidedText(url_, Qt::ElideMiddle, std::max(40, width() - 20)));
}

SectionDivider::SectionDivider(const QString &title, QWidget *parent) : QLabel(title, parent)
{
    setProperty("role", QStringLiteral("divider"));
    setMinimumHeight(12);
}

void SectionDivider::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    // A hairline after the caption, across the rest of the width.
    QPainter p(this);
    const int start = text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text()) + 8;
    if (start >= width())
        return;
    p.setPen(panelColors(panelLookOf(this)).hairline);
    const int y = height() / 2;
    p.drawLine(start, y, width(), y);
}

HeaderActivityBadge::HeaderActivityBadge(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("activityBadge"));
    tick_.setInterval(125);
    connect(&tick_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

int HeaderActivityBadge::phase(double secondsSinceReferenceDate)
{
    return int(std::fmod(std::floor(secondsSinceReferenceDate * 4), 3.0));
}

void HeaderActivityBadge::setBadge(const PanelTexts::Badge &badge)
{
    badge_ = badge;
    setAccessibleName(badge.label);
    if (badge.active)
        tick_.start();
    else
        tick_.stop();
    updateGeometry();
    update();
}

QSize HeaderActivityBadge::sizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(badge_.label) + 46, fontMetrics().height() + 8);
}

void HeaderActivityBadge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const PanelColors &colors = panelColors(panelLookOf(this));
    const QColor accent = badge_.active ? colors.badgeActive : colors.badgeIdle;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(accent.red(), accent.green(), accent.blue(), 28));
    p.drawRoundedRect(rect(), height() / 2.0, height() / 2.0);
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    const int active = phase(reference.msecsTo(QDateTime::currentDateTimeUtc()) / 1000.0);
    for (int i = 0; i < 3; ++i) {
        const double scale = badge_.active ? (i == active ? 1.25 : 0.9) : 1.0;
        const double opacity = badge_.active ? (i == active ? 1.0 : 0.45) : 0.75;
        p.setOpacity(opacity);
        p.setBrush(accent);
        const double r = 2.5 * scale;
        p.drawEllipse(QPointF(10 + i * 8, height() / 2.0), r, r);
    }
    p.setOpacity(1.0);
    p.setPen(accent);
    p.drawText(rect().adjusted(36, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, badge_.label);
}

} // namespace pendrel

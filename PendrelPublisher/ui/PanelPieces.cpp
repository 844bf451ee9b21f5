#include "ui/PanelPieces.h"

#include <QDateTime>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace pendrel {

namespace {

QString css(const QColor &c)
{
    return c.name(QColor::HexRgb);
}

} // namespace

PanelCard::PanelCard(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("panelCard"));
    setStyleSheet(
        QStringLiteral("#panelCard { background: rgba(255,255,255,0.85); border: 1px solid #dde3ea; "
                       "border-radius: 12px; }"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);
}

StatusPill::StatusPill(QWidget *parent) : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

void StatusPill::setPill(const PanelTexts::Pill &pill)
{
    setText(pill.title);
    setAccessibleName(pill.title);
    setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 8px; padding: 2px 8px; "
                                 "font-weight: 600; }")
                      .arg(css(PanelTexts::toneText(pill.tone)), css(PanelTexts::toneBackground(pill.tone))));
}

CompactActionButton::CompactActionButton(const QString &title, Prominence prominence, const char *objectName,
                                         QWidget *parent)
    : QPushButton(title, parent)
{
    setObjectName(QString::fromLatin1(objectName));
    setAccessibleName(title);
    if (prominence == Prominence::primary)
        setStyleSheet(QStringLiteral("QPushButton { background: #1a5bbd; color: white; border-radius: 6px; "
                                     "padding: 4px 10px; } QPushButton:disabled { background: #9fb4d6; }"));
}

MetricBlock::MetricBlock(const QString &label, const char *objectName, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto *caption = new QLabel(label, this);
    caption->setStyleSheet(QStringLiteral("color: #667085; font-size: 11px;"));
    value_ = new QLabel(this);
    value_->setObjectName(QString::fromLatin1(objectName));
    value_->setAccessibleName(label);
    value_->setStyleSheet(QStringLiteral("font-weight: 600;"));
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
    setStyleSheet(QStringLiteral("QLabel { background: #eef2f7; border-radius: 8px; padding: 3px 8px; "
                                 "font-family: monospace; }"));
    setTextInteractionFlags(Qt::TextSelectableByMouse);
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
    setStyleSheet(QStringLiteral("color: #667085; font-size: 11px; font-weight: 600;"));
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
    const QColor accent = badge_.active ? QColor(0x1a, 0x5b, 0xbd) : QColor(0x66, 0x70, 0x85);
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

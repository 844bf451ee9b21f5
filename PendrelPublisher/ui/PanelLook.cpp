#include "ui/PanelLook.h"

#include "ui/PanelPieces.h"

#include <QWidget>

namespace pendrel {

namespace {

constexpr char lookProperty[] = "panelLook";

PanelColors makeLight()
{
    PanelColors c;
    c.look = PanelLook::light;
    c.text = QColor(0x1d, 0x29, 0x39);
    c.secondary = QColor(0x55, 0x5f, 0x73);
    c.log = QColor(0x34, 0x40, 0x54);
    c.disabledText = QColor(0x6b, 0x75, 0x88);
    c.window = QColor(0xf4, 0xf6, 0xf9);
    c.gradientTop = QColor::fromRgbF(0.97f, 0.98f, 0.99f);
    c.gradientBottom = QColor::fromRgbF(0.92f, 0.95f, 0.98f);
    c.card = QStringLiteral("rgba(255,255,255,0.9)");
    c.cardBorder = QColor(0xdd, 0xe3, 0xea);
    c.hairline = QColor(0xdd, 0xe3, 0xea);
    c.field = Qt::white;
    c.fieldHover = QColor(0xf2, 0xf5, 0xf9);
    c.fieldDisabled = QColor(0xf4, 0xf6, 0xf9);
    c.outline = QColor(0x7d, 0x87, 0x9a);
    c.disabledOutline = QColor(0xc4, 0xcb, 0xd6);
    c.chip = QColor(0xee, 0xf2, 0xf7);
    c.accent = PanelTexts::toneText(PanelTexts::Tone::info);
    c.accentText = QColor(0x14, 0x5c, 0xbd);
    c.primary = QColor(0x14, 0x5c, 0xbd);
    c.primaryHover = QColor(0x0f, 0x4f, 0xa6);
    c.primaryText = Qt::white;
    c.primaryDisabled = QColor(0xa9, 0xbd, 0xdb);
    c.primaryDisabledText = QColor(0xf4, 0xf6, 0xf9);
    c.primaryFocus = QColor(0x1d, 0x29, 0x39);
    c.focusRing = QColor(0x4d, 0x8e, 0xe8);
    c.error = QColor(0xc9, 0x29, 0x1f);
    c.warning = QColor(0xb5, 0x47, 0x08);
    c.knob = Qt::white;
    c.tooltip = QColor(0x1d, 0x29, 0x39);
    c.tooltipText = Qt::white;
    c.scrollHandle = QColor(0x7d, 0x87, 0x9a);
    c.scrollHandleHover = QColor(0x55, 0x5f, 0x73);
    c.badgeActive = QColor(0x1a, 0x5b, 0xbd);
    c.badgeIdle = QColor(0x55, 0x5f, 0x73);
    c.visitedLink = QColor(0x5b, 0x3f, 0xa8);
    c.chevron = QStringLiteral(":/panel/chevron-down.png");
    return c;
}

// A dark slate rather than black: cards a step lighter than the panel
// carry the hierarchy that shadows and white cards carry in the light look.
PanelColors makeDark()
{
    PanelColors c;
    c.look = PanelLook::dark;
    c.text = QColor(0xe6, 0xea, 0xf0);
    c.secondary = QColor(0xa3, 0xad, 0xbd);
    c.log = QColor(0xc3, 0xca, 0xd5);
    c.disabledText = QColor(0x7c, 0x86, 0x98);
    c.window = QColor(0x15, 0x1a, 0x23);
    c.gradientTop = QColor(0x18, 0x1e, 0x28);
    c.gradientBottom = QColor(0x11, 0x15, 0x1d);
    c.card = QStringLiteral("#1f2632");
    c.cardBorder = QColor(0x32, 0x3c, 0x4b);
    c.hairline = QColor(0x3a, 0x45, 0x56);
    c.field = QColor(0x26, 0x2e, 0x3b);
    c.fieldHover = QColor(0x2e, 0x37, 0x46);
    c.fieldDisabled = QColor(0x1f, 0x26, 0x32);
    c.outline = QColor(0x80, 0x8b, 0xa0);
    c.disabledOutline = QColor(0x3f, 0x49, 0x59);
    c.chip = QColor(0x2c, 0x35, 0x44);
    c.accent = QColor(0x6f, 0xa8, 0xff);
    c.accentText = QColor(0x8a, 0xb8, 0xff);
    c.primary = QColor(0x2f, 0x6f, 0xd6); // white on it: 4.8:1
    c.primaryHover = QColor(0x29, 0x63, 0xc2);
    c.primaryText = Qt::white;
    c.primaryDisabled = QColor(0x2c, 0x3a, 0x52);
    c.primaryDisabledText = QColor(0x8a, 0x94, 0xa6);
    c.primaryFocus = QColor(0xe6, 0xea, 0xf0);
    c.focusRing = QColor(0x8a, 0xb8, 0xff);
    c.error = QColor(0xff, 0x8f, 0x85);
    c.warning = QColor(0xf5, 0xb1, 0x5c);
    c.knob = QColor(0xf4, 0xf6, 0xf9);
    c.tooltip = QColor(0xe6, 0xea, 0xf0);
    c.tooltipText = QColor(0x1d, 0x29, 0x39);
    c.scrollHandle = QColor(0x80, 0x8b, 0xa0);
    c.scrollHandleHover = QColor(0xa3, 0xad, 0xbd);
    c.badgeActive = QColor(0x8a, 0xb8, 0xff);
    c.badgeIdle = QColor(0xa3, 0xad, 0xbd);
    c.visitedLink = QColor(0xc4, 0xa8, 0xff);
    c.chevron = QStringLiteral(":/panel/chevron-down-dark.png");
    return c;
}

QString css(const QColor &c)
{
    return c.name(QColor::HexRgb);
}

} // namespace

QColor PanelColors::toneText(PanelTexts::Tone tone) const
{
    if (look == PanelLook::light)
        return PanelTexts::toneText(tone);
    switch (tone) {
    case PanelTexts::Tone::info:
        return QColor(0x9c, 0xc3, 0xff);
    case PanelTexts::Tone::success:
        return QColor(0x7e, 0xe0, 0xa6);
    case PanelTexts::Tone::danger:
        return QColor(0xff, 0xa3, 0x9b);
    case PanelTexts::Tone::muted:
        break;
    }
    return QColor(0xc3, 0xca, 0xd5);
}

QColor PanelColors::toneBackground(PanelTexts::Tone tone) const
{
    if (look == PanelLook::light)
        return PanelTexts::toneBackground(tone);
    switch (tone) {
    case PanelTexts::Tone::info:
        return QColor(0x1b, 0x2f, 0x4f);
    case PanelTexts::Tone::success:
        return QColor(0x16, 0x36, 0x27);
    case PanelTexts::Tone::danger:
        return QColor(0x44, 0x1f, 0x1f);
    case PanelTexts::Tone::muted:
        break;
    }
    return QColor(0x2c, 0x35, 0x44);
}

PanelColors::Tile PanelColors::providerTile(const QColor &brand) const
{
    Tile tile{brand, legibleOn(brand), std::nullopt};
    if (look == PanelLook::light) {
        if (brand.lightness() > 160)
            tile.border = outline;
        return tile;
    }
    // On the dark panel a pale brand tile (Google's) would be the one light
    // slab: it takes the provider's own dark form instead. A tile as dark as
    // the card gets an outline, so it still reads as a button.
    if (brand.lightness() > 160)
        tile = {QColor(0x13, 0x13, 0x14), QColor(0xe3, 0xe3, 0xe3), QColor(0x8e, 0x91, 0x8f)};
    else if (contrastRatio(brand, QColor(card)) < 3.0)
        tile.border = outline;
    return tile;
}

PanelColors::Tile PanelColors::appleTile() const
{
    if (look == PanelLook::light)
        return {Qt::black, Qt::white, std::nullopt};
    return {Qt::black, Qt::white, outline};
}

PanelColors::Tile PanelColors::secondaryTile() const
{
    return {field, text, outline};
}

const PanelColors &panelColors(PanelLook look)
{
    static const PanelColors light = makeLight();
    static const PanelColors dark = makeDark();
    return look == PanelLook::dark ? dark : light;
}

PanelLook panelLookOf(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        const QVariant look = w->property(lookProperty);
        if (look.isValid())
            return look.toInt() == int(PanelLook::dark) ? PanelLook::dark : PanelLook::light;
    }
    return PanelLook::light;
}

void setPanelLook(QWidget *widget, PanelLook look)
{
    widget->setProperty(lookProperty, int(look));
}

PanelLook resolvePanelLook(PanelAppearance choice, bool desktopPrefersDark)
{
    switch (choice) {
    case PanelAppearance::light:
        return PanelLook::light;
    case PanelAppearance::dark:
        return PanelLook::dark;
    case PanelAppearance::automatic:
        break;
    }
    return desktopPrefersDark ? PanelLook::dark : PanelLook::light;
}

QPalette panelPalette(PanelLook look)
{
    const PanelColors &c = panelColors(look);
    QPalette palette(c.text, c.window, c.field, c.outline, c.disabledOutline, c.text, c.field);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor foreground = disabled ? c.disabledText : c.text;
        palette.setColor(group, QPalette::WindowText, foreground);
        palette.setColor(group, QPalette::Text, foreground);
        palette.setColor(group, QPalette::ButtonText, foreground);
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Window, c.window);
        palette.setColor(group, QPalette::Base, disabled ? c.fieldDisabled : c.field);
        palette.setColor(group, QPalette::AlternateBase, c.chip);
        palette.setColor(group, QPalette::Button, disabled ? c.fieldDisabled : c.field);
        palette.setColor(group, QPalette::Light, look == PanelLook::light ? QColor(Qt::white) : c.fieldHover);
        palette.setColor(group, QPalette::Midlight, look == PanelLook::light ? QColor(0xe4, 0xe9, 0xf0) : c.chip);
        palette.setColor(group, QPalette::Mid, c.disabledOutline);
        palette.setColor(group, QPalette::Dark, look == PanelLook::light ? QColor(0x8a, 0x94, 0xa6) : c.outline);
        palette.setColor(group, QPalette::Shadow, look == PanelLook::light ? QColor(0x34, 0x40, 0x54) : Qt::black);
        palette.setColor(group, QPalette::PlaceholderText, c.secondary);
        palette.setColor(group, QPalette::Highlight, disabled ? c.disabledOutline : c.primary);
        palette.setColor(group, QPalette::HighlightedText, c.primaryText);
        palette.setColor(group, QPalette::Link, c.accent);
        palette.setColor(group, QPalette::LinkVisited, c.visitedLink);
        palette.setColor(group, QPalette::ToolTipBase, c.tooltip);
        palette.setColor(group, QPalette::ToolTipText, c.tooltipText);
    }
    return palette;
}

QString panelStyleSheet(PanelLook look)
{
    const PanelColors &c = panelColors(look);
    QString sheet = QStringLiteral(R"(
QFrame[role="card"] { background: {card}; border: 1px solid {cardBorder}; border-radius: 12px; }
QLabel { background: transparent; color: {text}; }
QLabel[role="heading"] { font-size: 13pt; font-weight: 600; }
QLabel[role="title"] { font-size: 11pt; font-weight: 600; }
QLabel[role="rowTitle"], QLabel[role="fieldTitle"] { font-weight: 600; }
QLabel[role="wordMark"] { font-size: 15pt; font-weight: 700; color: {accentText}; }
QLabel[role="caption"], QLabel[role="divider"] { color: {secondary}; font-size: 8pt; font-weight: 600; }
QLabel[role="help"] { color: {secondary}; font-size: 8pt; }
QLabel[role="metric"] { font-size: 11pt; font-weight: 600; }
QLabel[role="error"] { color: {error}; }
QLabel[role="warning"] { color: {warning}; font-size: 8pt; }
QLabel[role="log"] { color: {log}; font-size: 8pt; }
QLabel[role="urlChip"] { background: {chip}; border-radius: 8px; padding: 3px 8px; color: {log}; }
QLabel[role="chip"] { background: {chip}; border-radius: 8px; padding: 2px 8px; color: {log}; }
QLabel[role="capsule"] { background: {chip}; color: {text}; border: 1px solid {outline}; border-radius: 10px; padding: 2px 10px; }
QLabel[role="pill"] { border-radius: 8px; padding: 2px 8px; font-weight: 600; }
QLabel[role="pill"][tone="info"] { color: {infoText}; background: {infoBack}; }
QLabel[role="pill"][tone="success"] { color: {successText}; background: {successBack}; }
QLabel[role="pill"][tone="danger"] { color: {dangerText}; background: {dangerBack}; }
QLabel[role="pill"][tone="muted"] { color: {mutedText}; background: {mutedBack}; }
QPushButton[prominence="primary"] { background: {primary}; color: {primaryText}; border: none; border-radius: 7px;
  padding: 0 14px; font-weight: 600; }
QPushButton[prominence="primary"]:hover { background: {primaryHover}; }
QPushButton[prominence="primary"]:focus { border: 2px solid {primaryFocus}; }
QPushButton[prominence="primary"]:disabled { background: {primaryDisabled}; color: {primaryDisabledText}; }
QPushButton[prominence="secondary"] { background: {field}; color: {text}; border: 1px solid {outline};
  border-radius: 7px; padding: 0 10px; }
QPushButton[prominence="secondary"]:hover { background: {fieldHover}; }
QPushButton[prominence="secondary"]:focus { border: 2px solid {accent}; }
QPushButton[prominence="secondary"]:disabled { color: {disabledText}; border-color: {disabledOutline}; }
QLineEdit { background: {field}; color: {text}; border: 1px solid {outline}; border-radius: 7px; padding: 5px 8px;
  selection-background-color: {primary}; selection-color: {primaryText}; }
QLineEdit:focus { border: 2px solid {accent}; padding: 4px 7px; }
QLineEdit:disabled { color: {disabledText}; background: {fieldDisabled}; }
QToolButton[role="menuButton"] { background: {field}; color: {text}; border: 1px solid {outline}; border-radius: 7px;
  padding: 4px 8px; }
QToolButton[role="menuButton"]::menu-indicator { image: none; width: 0; }
QToolButton[role="menuButton"]:focus { border: 2px solid {accent}; padding: 3px 7px; }
QToolButton[role="disclosure"], QToolButton[role="disclosure"]:checked, QToolButton[role="disclosure"]:pressed
  { border: none; border-bottom: 2px solid transparent; background: transparent; font-weight: 600; color: {log};
  padding: 2px 0 0 0; }
QToolButton[role="disclosure"]:focus { color: {accentText}; border-bottom-color: {accent}; }
QComboBox { background: {field}; color: {text}; border: 1px solid {outline}; border-radius: 7px; padding: 3px 8px;
  selection-background-color: {primary}; selection-color: {primaryText}; }
QComboBox:focus { border: 2px solid {accent}; padding: 2px 7px; }
QComboBox:disabled { color: {disabledText}; background: {fieldDisabled}; border-color: {disabledOutline}; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right; width: 16px; border: none; }
QComboBox::down-arrow { image: url({chevron}); width: 10px; height: 6px; }
QComboBox QAbstractItemView { background: {field}; color: {text}; border: 1px solid {outline};
  selection-background-color: {primary}; selection-color: {primaryText}; }
QMenu { background: {field}; color: {text}; border: 1px solid {outline}; }
QMenu::item:selected { background: {primary}; color: {primaryText}; }
QMenu::item:disabled { color: {disabledText}; }
QMenu::separator { height: 1px; background: {hairline}; margin: 4px 8px; }
QToolTip { background: {tooltip}; color: {tooltipText}; border: none; }
QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 1px 2px 0; }
QScrollBar::handle:vertical { background: {scrollHandle}; border-radius: 3px; min-height: 32px; }
QScrollBar::handle:vertical:hover { background: {scrollHandleHover}; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QProgressBar { border: none; background: {chip}; border-radius: 3px; }
QProgressBar::chunk { background: {accent}; border-radius: 3px; }
)");
    using T = PanelTexts::Tone;
    const std::pair<const char *, QString> tokens[] = {
        {"card", c.card},
        {"cardBorder", css(c.cardBorder)},
        {"text", css(c.text)},
        {"accentText", css(c.accentText)},
        {"secondary", css(c.secondary)},
        {"error", css(c.error)},
        {"warning", css(c.warning)},
        {"log", css(c.log)},
        {"chip", css(c.chip)},
        {"outline", css(c.outline)},
        {"infoText", css(c.toneText(T::info))},
        {"infoBack", css(c.toneBackground(T::info))},
        {"successText", css(c.toneText(T::success))},
        {"successBack", css(c.toneBackground(T::success))},
        {"dangerText", css(c.toneText(T::danger))},
        {"dangerBack", css(c.toneBackground(T::danger))},
        {"mutedText", css(c.toneText(T::muted))},
        {"mutedBack", css(c.toneBackground(T::muted))},
        {"primaryText", css(c.primaryText)},
        {"primaryHover", css(c.primaryHover)},
        {"primaryFocus", css(c.primaryFocus)},
        {"primaryDisabledText", css(c.primaryDisabledText)},
        {"primaryDisabled", css(c.primaryDisabled)},
        {"primary", css(c.primary)},
        {"fieldHover", css(c.fieldHover)},
        {"fieldDisabled", css(c.fieldDisabled)},
        {"field", css(c.field)},
        {"accent", css(c.accent)},
        {"disabledText", css(c.disabledText)},
        {"disabledOutline", css(c.disabledOutline)},
        {"chevron", c.chevron},
        {"hairline", css(c.hairline)},
        {"tooltipText", css(c.tooltipText)},
        {"tooltip", css(c.tooltip)},
        {"scrollHandleHover", css(c.scrollHandleHover)},
        {"scrollHandle", css(c.scrollHandle)},
    };
    for (const auto &[name, value] : tokens)
        sheet.replace(u'{' + QLatin1String(name) + u'}', value);
    return sheet;
}

QString appearanceName(PanelAppearance choice)
{
    switch (choice) {
    case PanelAppearance::light:
        return QStringLiteral("light");
    case PanelAppearance::dark:
        return QStringLiteral("dark");
    case PanelAppearance::automatic:
        break;
    }
    return QStringLiteral("automatic");
}

std::optional<PanelAppearance> appearanceFromName(const QString &name)
{
    for (const PanelAppearance choice : {PanelAppearance::automatic, PanelAppearance::light, PanelAppearance::dark})
        if (appearanceName(choice) == name)
            return choice;
    return std::nullopt;
}

} // namespace pendrel

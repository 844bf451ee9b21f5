#pragma once

#include "ui/PanelTexts.h"

#include <QColor>
#include <QPalette>
#include <QString>

#include <optional>

class QWidget;

namespace pendrel {

// What the user chose under Appearance: follow the desktop, or one look.
enum class PanelAppearance { automatic, light, dark };
// The look the panel is drawn in.
enum class PanelLook { light, dark };

// Every colour of the panel in one look. The dark values are chosen for a
// dark panel (each text 4.5:1 on what it is drawn on, each outline and
// focus ring 3:1), not computed from the light ones.
struct PanelColors {
    QColor text;
    QColor secondary;       // captions, help lines, placeholders
    QColor log;             // job logs and chips
    QColor disabledText;
    QColor window;          // the palette's window colour
    QColor gradientTop;     // the panel's background runs from here...
    QColor gradientBottom;  // ...to here
    QString card;           // a style-sheet colour (the light card is translucent)
    QColor cardBorder;
    QColor hairline;        // dividers
    QColor field;           // fields, pickers, secondary buttons
    QColor fieldHover;
    QColor fieldDisabled;
    QColor outline;         // 3:1 against the card: fields, buttons, the switch's track
    QColor disabledOutline;
    QColor chip;            // chips, capsules, the progress track
    QColor accent;          // links, focus on fields, the switch when on
    QColor accentText;      // the word mark and accent-coloured text
    QColor primary;         // the primary button
    QColor primaryHover;
    QColor primaryText;
    QColor primaryDisabled;
    QColor primaryDisabledText;
    QColor primaryFocus;    // the ring around a focused primary button
    QColor focusRing;       // tiles and switches
    QColor error;
    QColor warning;
    QColor knob;            // the switch's knob
    QColor tooltip;
    QColor tooltipText;
    QColor scrollHandle;
    QColor scrollHandleHover;
    QColor badgeActive;
    QColor badgeIdle;
    QColor visitedLink;
    QString chevron;        // the pickers' arrow image

    [[nodiscard]] QColor toneText(PanelTexts::Tone tone) const;
    [[nodiscard]] QColor toneBackground(PanelTexts::Tone tone) const;
    // A sign-in tile's colours: the provider's brand, readable in this look.
    struct Tile {
        QColor background;
        QColor text;
        std::optional<QColor> border;
    };
    [[nodiscard]] Tile providerTile(const QColor &brand) const;
    [[nodiscard]] Tile appleTile() const;
    [[nodiscard]] Tile secondaryTile() const;

    PanelLook look;
};

const PanelColors &panelColors(PanelLook look);
// The look a panel widget is drawn in: that of the nearest enclosing widget
// that has one (the panel sets it on itself), light where none has.
PanelLook panelLookOf(const QWidget *widget);
void setPanelLook(QWidget *widget, PanelLook look);
// The look a choice comes to, given whether the desktop prefers dark.
PanelLook resolvePanelLook(PanelAppearance choice, bool desktopPrefersDark);

// The palette (every role of every group set, so no colour of the desktop's
// theme leaks in) and the style sheet shared by every section.
QPalette panelPalette(PanelLook look);
QString panelStyleSheet(PanelLook look);

// "automatic", "light", "dark": how the choice is kept in appearance.conf.
QString appearanceName(PanelAppearance choice);
std::optional<PanelAppearance> appearanceFromName(const QString &name);

} // namespace pendrel

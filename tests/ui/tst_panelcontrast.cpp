// Every text of the panel stays legible in both of its looks and under light
// and dark desktop themes: each visible label, field, picker and button is
// measured on the rendered panel, its text against what it is drawn on, to
// WCAG AA; focus rings and what opens from the panel too. A switch of looks
// while the panel is shown leaves nothing of the old one.

#include "shell/PanelWindow.h"
#include "ui/ClipperPanelView.h"
#include "ui/AuthSection.h"
#include "ui/PanelPieces.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolTip>
#include <QDir>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "PanelScenes.h"

using namespace pendrel;
using namespace pendrel::test;

Q_DECLARE_METATYPE(pendrel::test::DesktopTheme)
Q_DECLARE_METATYPE(pendrel::PanelLook)

namespace {

struct Measured {
    QColor background;
    double ratio;
};

// The colour most pixels have is the background; the one furthest from it
// is the text (glyph cores reach the full text colour).
Measured measure(const QImage &pixels)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x)
            ++counts[pixels.pixel(x, y) | 0xff000000u];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrastRatio(QColor::fromRgb(background), QColor::fromRgb(it.key())));
    return {QColor::fromRgb(background), best};
}

QString shownText(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->pixmap().isNull() ? label->text() : QString();
    if (auto *field = qobject_cast<QLineEdit *>(w))
        return field->text().isEmpty() ? field->placeholderText() : field->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return {};
}

bool isLargeText(const QWidget *w)
{
    const QFontInfo info(w->font());
    return info.pixelSize() >= 24 || (info.pixelSize() >= 18.66 && info.weight() >= QFont::Bold);
}

} // namespace

class TestPanelContrast : public QObject {
    Q_OBJECT

private slots:
    void textContrast_data()
    {
        QTest::addColumn<DesktopTheme>("theme");
        QTest::addColumn<PanelLook>("look");
        QTest::addColumn<int>("scene");
        const QList<PanelScene> scenes = panelScenes();
        // Each look on the desktop theme it is usually met on, and on the other.
        for (const PanelLook look : {PanelLook::light, PanelLook::dark})
            for (const DesktopTheme theme : {DesktopTheme::light, DesktopTheme::dark})
                for (int i = 0; i < scenes.size(); ++i)
                    QTest::addRow("%s look/%s desktop/%s", lookName(look),
                                  theme == DesktopTheme::dark ? "dark" : "light", scenes[i].name)
                        << theme << look << i;
    }

    void textContrast()
    {
        QFETCH(DesktopTheme, theme);
        QFETCH(PanelLook, look);
        QFETCH(int, scene);
        useDesktopTheme(theme);
        ShownScene shown = showScene(panelScenes().at(scene), look);
        ClipperPanelView &panel = *shown.panel;
        QScrollBar *bar = panel.scrollArea()->verticalScrollBar();
        QWidget *viewport = panel.scrollArea()->viewport();
        const QRect seen(viewport->mapTo(&panel, QPoint(0, 0)), viewport->size());

        QSet<QWidget *> measured;
        QStringList failures;
        // Scroll through the whole content, a screenful at a time.
        for (int top = bar->value();; top += seen.height() / 2) {
            bar->setValue(top);
            QCoreApplication::processEvents();
            const QImage image = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
            for (QWidget *w : panel.findChildren<QWidget *>()) {
                // The brand's artwork (symbol, word mark) is a graphic: 3:1.
                const auto *label = qobject_cast<QLabel *>(w);
                const bool brandArt = label && !label->pixmap().isNull() && w->objectName() != u"providerMark";
                if (measured.contains(w) || !w->isVisible() || !w->isEnabled()
                    || (shownText(w).trimmed().isEmpty() && !brandArt))
                    continue;
                const QRect at(w->mapTo(&panel, QPoint(0, 0)), w->size());
                if (!seen.contains(at))
                    continue;
                measured.insert(w);
                const Measured m = measure(image.copy(at));
                const double ratio = m.ratio;
                const double needed = brandArt || isLargeText(w) ? 3.0 : 4.5;
                if (!brandArt)
                    lowest_[look] = std::min(lowest_.value(look, 21.0), ratio);
                if (ratio < needed)
                    failures << QStringLiteral("%1 \"%2\" (%3): %4:1")
                                    .arg(QString::fromLatin1(w->metaObject()->className()), shownText(w),
                                         w->objectName(), QString::number(ratio, 'f', 2));
                // The dark look has no light slabs: nothing a text sits on
                // is brighter than a brand's mid blue.
                if (look == PanelLook::dark && relativeLuminance(m.background) > 0.25)
                    failures << QStringLiteral("%1 \"%2\" (%3) on a light %4")
                                    .arg(QString::fromLatin1(w->metaObject()->className()), shownText(w),
                                         w->objectName(), m.background.name());
            }
            if (bar->value() >= bar->maximum())
                break;
        }
        QVERIFY2(measured.size() >= 8, qPrintable(QString::number(measured.size())));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("\n"))));
    }

    // Every Tab stop shows that it has the focus, in pixels that stand out
    // 3:1 from what is around the control.
    void focusIsVisible_data()
    {
        QTest::addColumn<DesktopTheme>("theme");
        QTest::addColumn<PanelLook>("look");
        QTest::addColumn<QString>("scene");
        for (const PanelLook look : {PanelLook::light, PanelLook::dark})
            for (const DesktopTheme theme : {DesktopTheme::light, DesktopTheme::dark})
                for (const char *scene : {"signed-out", "workspace", "workspace-settings", "settings-crossposting"})
                    QTest::addRow("%s look/%s desktop/%s", lookName(look),
                                  theme == DesktopTheme::dark ? "dark" : "light", scene)
                        << theme << look << QString::fromLatin1(scene);
    }

    void focusIsVisible()
    {
        QFETCH(DesktopTheme, theme);
        QFETCH(PanelLook, look);
        QFETCH(QString, scene);
        useDesktopTheme(theme);
        ShownScene shown = showScene(panelScene(qPrintable(scene)), look);
        ClipperPanelView &panel = *shown.panel;
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        QWidget *viewport = panel.scrollArea()->viewport();
        QStringList failures;
        int checked = 0;
        for (QWidget *w : panel.findChildren<QWidget *>()) {
            if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || !w->isEnabled() || w->focusProxy())
                continue;
            panel.scrollArea()->ensureWidgetVisible(w, 0, 8);
            panel.setFocus(); // nothing of the panel's controls
            QCoreApplication::processEvents();
            // The control and a few pixels around it, where rings are drawn.
            const QRect at = QRect(w->mapTo(&panel, QPoint(0, 0)), w->size()).adjusted(-3, -3, 3, 3)
                                 & QRect(viewport->mapTo(&panel, QPoint(0, 0)), viewport->size());
            const QImage before = panel.grab(at).toImage().convertToFormat(QImage::Format_RGB32);
            w->setFocus(Qt::TabFocusReason);
            QCoreApplication::processEvents();
            const QImage after = panel.grab(at).toImage().convertToFormat(QImage::Format_RGB32);
            const QColor around = measure(before).background;
            double best = 1.0;
            // Only the band along the control's edge counts: a field's text
            // cursor alone is no ring.
            const QRect inner = after.rect().adjusted(7, 7, -7, -7);
            for (int y = 0; y < after.height(); ++y)
                for (int x = 0; x < after.width(); ++x)
                    if (!inner.contains(x, y) && after.pixel(x, y) != before.pixel(x, y))
                        best = std::max(best, contrastRatio(around, QColor::fromRgb(after.pixel(x, y))));
            ++checked;
            if (best < 3.0)
                failures << QStringLiteral("%1 %2: %3:1").arg(QString::fromLatin1(w->metaObject()->className()),
                                                              w->objectName(), QString::number(best, 'f', 2));
        }
        QVERIFY2(checked >= 5, qPrintable(QString::number(checked)));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("\n"))));
    }

    // Every control stands out from what it sits on, 3:1, by its outline
    // or its fill: read where its leading edge meets the card, halfway down.
    void controlBoundaries_data()
    {
        QTest::addColumn<PanelLook>("look");
        QTest::addColumn<QString>("scene");
        for (const PanelLook look : {PanelLook::light, PanelLook::dark})
            for (const char *scene : {"signed-out", "workspace", "workspace-settings", "settings-crossposting"})
                QTest::addRow("%s look/%s", lookName(look), scene) << look << QString::fromLatin1(scene);
    }

    void controlBoundaries()
    {
        QFETCH(PanelLook, look);
        QFETCH(QString, scene);
        useDesktopTheme(look == PanelLook::dark ? DesktopTheme::dark : DesktopTheme::light);
        ShownScene shown = showScene(panelScene(qPrintable(scene)), look);
        ClipperPanelView &panel = *shown.panel;
        QWidget *viewport = panel.scrollArea()->viewport();
        const QRect seen(viewport->mapTo(&panel, QPoint(0, 0)), viewport->size());
        QScrollBar *bar = panel.scrollArea()->verticalScrollBar();
        QSet<QWidget *> checked;
        QStringList failures;
        for (int top = bar->value();; top += seen.height() / 2) {
            bar->setValue(top);
            QCoreApplication::processEvents();
            const QImage image = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
            for (QWidget *w : panel.findChildren<QWidget *>()) {
                const bool control = qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w)
                                     || qobject_cast<QPushButton *>(w) || qobject_cast<ToggleSwitch *>(w)
                                     || qobject_cast<AuthTileButton *>(w)
                                     || w->property("role").toString() == u"menuButton";
                if (!control || checked.contains(w) || !w->isVisible() || !w->isEnabled())
                    continue;
                const QRect at(w->mapTo(&panel, QPoint(0, 0)), w->size());
                if (!seen.contains(at.adjusted(-4, 0, 0, 0)))
                    continue;
                checked.insert(w);
                const int y = at.center().y();
                const QColor outside = image.pixelColor(at.left() - 3, y);
                double best = 1.0;
                for (int x = at.left(); x < at.left() + 4; ++x)
                    best = std::max(best, contrastRatio(outside, image.pixelColor(x, y)));
                if (best < 3.0)
                    failures << QStringLiteral("%1 %2: %3:1")
                                    .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(),
                                         QString::number(best, 'f', 2));
            }
            if (bar->value() >= bar->maximum())
                break;
        }
        QVERIFY2(checked.size() >= 4, qPrintable(QString::number(checked.size())));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("\n"))));
    }

    // Placeholders are texts too: 4.5:1 inside every empty field, with the
    // panel in the window the program puts it in (which repolishes it, and
    // with it the fields' palettes) and shown again as the program does.
    void placeholderContrast_data()
    {
        QTest::addColumn<DesktopTheme>("theme");
        QTest::addColumn<PanelLook>("look");
        QTest::addColumn<QString>("scene");
        for (const PanelLook look : {PanelLook::light, PanelLook::dark})
            for (const DesktopTheme theme : {DesktopTheme::light, DesktopTheme::dark})
                for (const char *scene : {"signed-out", "workspace-settings", "workspace"})
                    QTest::addRow("%s look/%s desktop/%s", lookName(look),
                                  theme == DesktopTheme::dark ? "dark" : "light", scene)
                        << theme << look << QString::fromLatin1(scene);
    }
    void placeholderContrast()
    {
        QFETCH(DesktopTheme, theme);
        QFETCH(PanelLook, look);
        QFETCH(QString, scene);
        useDesktopTheme(theme);
        ShownScene shown = showScene(panelScene(qPrintable(scene)), look);
        if (scene == u"workspace-settings") // the target domain field shows with Competition on
            shown.panel->findChild<QAbstractButton *>(QStringLiteral("competitionToggle"))->click();
        PanelWindow window(*shown.harness->state, false);
        window.setPalette(panelPalette(look)); // as the shell does
        ClipperPanelView *panel = shown.panel.release(); // the window owns it now
        window.setContent(panel);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.hide();
        panel->render();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList failures;
        int checked = 0;
        for (QLineEdit *field : panel->findChildren<QLineEdit *>()) {
            if (!field->isVisible() || field->placeholderText().isEmpty())
                continue;
            field->clear();
            field->clearFocus();
            panel->scrollArea()->ensureWidgetVisible(field, 0, 8);
            QCoreApplication::processEvents();
            // Inside the border, where the placeholder is drawn.
            const QImage inside = field->grab(field->rect().adjusted(4, 4, -4, -4)).toImage().convertToFormat(
                QImage::Format_RGB32);
            const double ratio = measure(inside).ratio;
            ++checked;
            if (ratio < 4.5)
                failures << QStringLiteral("%1 \"%2\": %3:1")
                                .arg(field->objectName(), field->placeholderText(), QString::number(ratio, 'f', 2));
        }
        QVERIFY2(checked >= 1, qPrintable(scene));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("\n"))));
    }

    // What opens from the panel (drop-down lists, the language menu, a
    // tooltip) wears the panel's look, whatever the desktop's: no dark box
    // over the light panel, no light one over the dark panel.
    void popupsFollowTheLook_data()
    {
        QTest::addColumn<DesktopTheme>("theme");
        QTest::addColumn<PanelLook>("look");
        QTest::addColumn<QString>("popup");
        for (const PanelLook look : {PanelLook::light, PanelLook::dark})
            for (const DesktopTheme theme : {DesktopTheme::light, DesktopTheme::dark})
                for (const char *popup : {"seoStandardPicker", "languageList", "appearancePicker", "tooltip"})
                    QTest::addRow("%s look/%s desktop/%s", lookName(look),
                                  theme == DesktopTheme::dark ? "dark" : "light", popup)
                        << theme << look << QString::fromLatin1(popup);
    }

    void popupsFollowTheLook()
    {
        QFETCH(DesktopTheme, theme);
        QFETCH(PanelLook, look);
        QFETCH(QString, popup);
        useDesktopTheme(theme);
        ShownScene shown = showScene(panelScene("workspace-settings"), look);
        QWidget *opened = nullptr;
        if (popup == u"tooltip") {
            QWidget *anchor = shown.panel->findChild<QWidget *>(QStringLiteral("seoStandardPicker"));
            QToolTip::showText(anchor->mapToGlobal(QPoint(4, 4)), QStringLiteral("Search engine standard"), anchor);
            QTRY_VERIFY(QToolTip::isVisible());
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->inherits("QTipLabel") && w->isVisible())
                    opened = w;
        } else if (auto *combo = shown.panel->findChild<QComboBox *>(popup)) {
            combo->showPopup();
            opened = combo->view()->window();
        } else if (auto *menu = shown.panel->findChild<QMenu *>(popup)) {
            menu->popup(shown.panel->mapToGlobal(QPoint(20, 20)));
            opened = menu;
        }
        QVERIFY(opened);
        QTRY_VERIFY(opened->isVisible());
        const Measured seen = measure(opened->grab().toImage().convertToFormat(QImage::Format_RGB32));
        opened->hide();
        // The dark look's lists are dark; its tooltips light, as its light
        // look's are dark: a tooltip stands apart from what it covers.
        const bool wantsDark = (look == PanelLook::dark) != (popup == u"tooltip");
        const double luminance = relativeLuminance(seen.background);
        QVERIFY2(wantsDark ? luminance < 0.05 : luminance > 0.6, qPrintable(seen.background.name()));
        QVERIFY2(seen.ratio >= 4.5, qPrintable(QString::number(seen.ratio)));
    }

    // Switching looks with the panel on screen redraws all of it: the
    // switched panel is, pixel for pixel, the panel made in the new look
    // from the start, and none of its background is the old look's.
    void switchRedrawsWhole_data()
    {
        QTest::addColumn<PanelLook>("from");
        QTest::addColumn<QString>("scene");
        for (const PanelLook from : {PanelLook::light, PanelLook::dark})
            for (const char *scene : {"signed-out", "workspace", "running-job", "workspace-settings"})
                QTest::addRow("from %s/%s", lookName(from), scene) << from << QString::fromLatin1(scene);
    }

    void switchRedrawsWhole()
    {
        QFETCH(PanelLook, from);
        QFETCH(QString, scene);
        const PanelLook to = from == PanelLook::light ? PanelLook::dark : PanelLook::light;
        useDesktopTheme(DesktopTheme::light);
        ShownScene shown = showScene(panelScene(qPrintable(scene)), from);
        shown.panel->grab(); // painted once in the old look
        shown.panel->setLook(to);
        QCoreApplication::processEvents();
        const QImage switched = shown.panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ShownScene fresh = showScene(panelScene(qPrintable(scene)), to);
        const QImage made = fresh.panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(switched.size(), made.size());
        // The window colour at the corners and down both margins.
        const PanelColors &old = panelColors(from);
        for (const QPoint at : {QPoint(2, 2), QPoint(switched.width() - 3, 2), QPoint(2, switched.height() - 3),
                                QPoint(switched.width() - 3, switched.height() - 3), QPoint(4, switched.height() / 2),
                                QPoint(switched.width() - 5, switched.height() / 3)}) {
            const QColor seen = switched.pixelColor(at);
            QVERIFY2(contrastRatio(seen, old.gradientTop) > 3 && contrastRatio(seen, old.gradientBottom) > 3,
                     qPrintable(QStringLiteral("%1 at %2,%3").arg(seen.name()).arg(at.x()).arg(at.y())));
        }
        // What moves with the clock (the activity badge, a busy bar, the log
        // lines' times: the two scenes may be made a second apart) is left
        // out of the comparison.
        QRegion moving;
        for (QWidget *w : shown.panel->findChildren<QWidget *>())
            if (w->isVisible()
                && (qobject_cast<QProgressBar *>(w) || w->objectName() == u"activityBadge"
                    || w->objectName() == u"statusLogs"))
                moving += QRect(w->mapTo(shown.panel.get(), QPoint(0, 0)), w->size());
        qsizetype differing = 0;
        for (int y = 0; y < made.height(); ++y)
            for (int x = 0; x < made.width(); ++x)
                differing += switched.pixel(x, y) != made.pixel(x, y) && !moving.contains(QPoint(x, y));
        if (differing) {
            switched.save(QDir::temp().filePath(QStringLiteral("switched-%1.png").arg(scene)));
            made.save(QDir::temp().filePath(QStringLiteral("made-%1.png").arg(scene)));
        }
        QCOMPARE(differing, 0);
    }

    void cleanupTestCase()
    {
        // The lowest text ratio seen in each look, for the record.
        for (auto it = lowest_.cbegin(); it != lowest_.cend(); ++it)
            qInfo("lowest text contrast, %s look: %.2f:1", lookName(it.key()), it.value());
    }

private:
    QMap<PanelLook, double> lowest_;
};

QTEST_MAIN(TestPanelContrast)
#include "tst_panelcontrast.moc"

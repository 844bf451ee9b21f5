#pragma once

#include <QHash>
#include <QList>
#include <QUuid>
#include <QPalette>
#include <QWidget>

#include "ui/PanelLook.h"

#include <functional>

class QScrollArea;

namespace pendrel {

class AppState;
class AuthSection;
class HeaderSection;
class PanelAnnouncer;
class QuickSendSection;

// The panel: a scrolling stack of sections over a soft gradient. Signed in
// it shows the workspace, the latest work, capture, settings and history;
// signed out, the sign-in view. Each section re-renders from the state's
// signals it reads.
class ClipperPanelView : public QWidget {
    Q_OBJECT

public:
    // Made in `look` from the start: no switch at creation.
    explicit ClipperPanelView(AppState &state, QWidget *parent = nullptr, PanelLook look = PanelLook::light);

    // Re-renders every section (the shell calls it before showing the panel).
    void render();
    // 440 wide; 760 high signed in, 548 signed out.
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QScrollArea *scrollArea() const { return scroll_; }
    // The look it is drawn in (light until told): every colour of either
    // look is its own (ui/PanelLook.h), whatever the desktop's theme, and a
    // switch redraws all of the panel at once.
    void setLook(PanelLook look);
    [[nodiscard]] PanelLook look() const { return look_; }
    // Shows the user's Appearance choice in the settings; a new choice
    // comes back through appearanceChosen (the shell keeps it).
    void setAppearanceChoice(PanelAppearance choice);

signals:
    void appearanceChosen(pendrel::PanelAppearance choice);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void showSignedInState();
    // Tells screen readers of each recent job's new status or stage.
    void announceJobChanges(bool speak);
    void announceMessageSoon();
    // The controls Tab reaches now, in reading order.
    [[nodiscard]] QList<QWidget *> tabStops() const;

    AppState &state_;
    QScrollArea *scroll_;
    HeaderSection *header_;
    QWidget *workspace_;
    AuthSection *auth_;
    QuickSendSection *quickSend_ = nullptr;
    QList<std::function<void()>> renderers_; // the workspace sections
    bool signedIn_ = false;
    PanelLook look_ = PanelLook::light;
    PanelAnnouncer *announcer_;
    QHash<QUuid, QString> announced_; // the recent jobs' last messages
    bool messageDue_ = false;
};

} // namespace pendrel

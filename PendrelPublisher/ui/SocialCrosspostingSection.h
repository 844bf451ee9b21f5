#pragma once

#include "social/SocialCrossposting.h"

#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QVBoxLayout;

namespace pendrel {

class AppState;
class CompactActionButton;
class ToggleSwitch;

// One connected account: whether new articles are crossposted to it, and how.
class SocialCrosspostAccountRow : public QWidget {
    Q_OBJECT
public:
    SocialCrosspostAccountRow(const ConnectedSocialAccount &account, QWidget *parent = nullptr);
    void setPreference(const SocialCrosspostPreference &preference);
    [[nodiscard]] const ConnectedSocialAccount &account() const { return account_; }

    std::function<void(bool)> onEnabledChange;
    std::function<void(SocialCrosspostMode)> onModeChange;

private:
    ConnectedSocialAccount account_;
    ToggleSwitch *switch_;
    QComboBox *mode_ = nullptr; // none for a Shopify blog, which only takes articles
};

// The crossposting choices for every available account, or a way to
// connect some.
class SocialCrosspostingSection : public QWidget {
    Q_OBJECT
public:
    explicit SocialCrosspostingSection(AppState &state, QWidget *parent = nullptr);
    void render();
    [[nodiscard]] QList<SocialCrosspostAccountRow *> rows() const { return rows_; }

private:
    AppState &state_;
    QWidget *connectHint_;
    QWidget *list_;
    QVBoxLayout *rowsLayout_;
    QList<SocialCrosspostAccountRow *> rows_;
};

} // namespace pendrel

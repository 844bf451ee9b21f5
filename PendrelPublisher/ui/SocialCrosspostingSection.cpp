#include "ui/SocialCrosspostingSection.h"

#include "state/AppState.h"
#include "ui/PanelPieces.h"
#include "ui/SettingsSection.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace pendrel {

namespace {

constexpr std::array pickerModes{SocialCrosspostMode::adapt, SocialCrosspostMode::direct};

} // namespace

SocialCrosspostAccountRow::SocialCrosspostAccountRow(const ConnectedSocialAccount &account, QWidget *parent)
    : QWidget(parent), account_(account)
{
    setObjectName(QStringLiteral("socialAccount-") + account.id);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    const QString platform = platformDisplayTitle(account.platform);
    switch_ = named(new ToggleSwitch(this), "crosspostToggle",
                    QStringLiteral("Crosspost to %1 (%2)").arg(account.accountName, platform));
    switch_->setEnabled(account.canPublishNow());
    row->addWidget(switch_, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(1);
    QLabel *name = roleLabel(account.accountName, "accountName", "fieldTitle", this);
    texts->addWidget(name);
    texts->addWidget(roleLabel(platform, "platformTitle", "help", this));
    // What the row says of the account is the switch's description.
    if (const std::optional<QString> subtitle = account.subtitle())
        texts->addWidget(roleLabel(*subtitle, "accountSubtitle", "help", this, switch_));
    if (const std::optional<QString> reason = account.unavailableReason())
        texts->addWidget(roleLabel(*reason, "unavailableReason", "warning", this, switch_));
    row->addLayout(texts, 1);

    if (account.platform == SocialCrosspostPlatform::shopifyBlog) {
        auto *capsule = named(new QLabel(QStringLiteral("Article"), this), "articleCapsule",
                              QStringLiteral("Article"));
        capsule->setProperty("role", QStringLiteral("capsule"));
        row->addWidget(capsule, 0, Qt::AlignTop);
    } else {
        mode_ = named(new QComboBox(this), "crosspostMode",
                      QStringLiteral("Crosspost mode for %1").arg(account.accountName));
        mode_->setFixedWidth(110);
        // On Linux Qt names a combo box by its current entry; screen readers
        // take its label from the label it is the buddy of.
        name->setBuddy(mode_);
        mode_->setAccessibleDescription(mode_->accessibleName());
        for (const SocialCrosspostMode mode : pickerModes)
            mode_->addItem(modeLabel(mode));
        mode_->setEnabled(account.canPublishNow());
        row->addWidget(mode_, 0, Qt::AlignTop);
        connect(mode_, &QComboBox::activated, this, [this](int i) {
            if (i >= 0 && i < int(pickerModes.size()) && onModeChange)
                onModeChange(pickerModes[size_t(i)]);
        });
    }
    // The state, not the click: an accessibility action flips it without one.
    connect(switch_, &QAbstractButton::toggled, this, [this](bool on) {
        if (onEnabledChange)
            onEnabledChange(on);
    });
}

void SocialCrosspostAccountRow::setPreference(const SocialCrosspostPreference &preference)
{
    {
        const QSignalBlocker block(switch_);
        switch_->setChecked(preference.enabled);
    }
    if (mode_) {
        const auto at = std::find(pickerModes.begin(), pickerModes.end(), preference.mode);
        const QSignalBlocker block(mode_);
        mode_->setCurrentIndex(at == pickerModes.end() ? -1 : int(at - pickerModes.begin()));
    }
}

SocialCrosspostingSection::SocialCrosspostingSection(AppState &state, QWidget *parent)
    : QWidget(parent), state_(state)
{
    setObjectName(QStringLiteral("socialCrosspostingSection"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *group = new InspectorGroup(QStringLiteral("Crossposting to Social"), "crosspostingGroup", this);
    outer->addWidget(group);

    connectHint_ = new QWidget(group);
    auto *hint = new QVBoxLayout(connectHint_);
    hint->setContentsMargins(0, 0, 0, 0);
    QLabel *text = helpLabel(
        QStringLiteral("Connect social accounts on Pendrelweb to publish articles automatically after they finish."),
        connectHint_);
    text->setObjectName(QStringLiteral("connectSocialText"));
    auto *manage = new CompactActionButton(QStringLiteral("Manage on Pendrelweb"),
                                           CompactActionButton::Prominence::secondary, "manageSocialButton",
                                           connectHint_);
    hint->addWidget(text);
    hint->addWidget(manage, 0, Qt::AlignLeft);
    group->content()->addWidget(connectHint_);
    connect(manage, &QPushButton::clicked, this, [this] { state_.openSocialConnections(); });

    list_ = new QWidget(group);
    auto *list = new QVBoxLayout(list_);
    list->setContentsMargins(0, 0, 0, 0);
    rowsLayout_ = new QVBoxLayout;
    rowsLayout_->setSpacing(10);
    list->addLayout(rowsLayout_);
    QLabel *footnote = helpLabel(
        QStringLiteral("Publish now only in v2. Social follow-up starts after article save succeeds."), list_);
    footnote->setObjectName(QStringLiteral("crosspostFootnote"));
    list->addWidget(footnote);
    group->content()->addWidget(list_);

    connect(&state_, &AppState::auxDataChanged, this, &SocialCrosspostingSection::render);
    connect(&state_, &AppState::settingsChanged, this, &SocialCrosspostingSection::render);
    render();
}

void SocialCrosspostingSection::render()
{
    const QList<ConnectedSocialAccount> accounts = state_.availableSocialCrosspostAccounts();
    connectHint_->setVisible(accounts.isEmpty());
    list_->setVisible(!accounts.isEmpty());
    // Rows are rebuilt only when the accounts themselves change; a
    // preference edit updates the rows in place.
    bool same = accounts.size() == rows_.size();
    for (qsizetype i = 0; same && i < accounts.size(); ++i)
        same = rows_[i]->account() == accounts[i];
    if (!same) {
        // Later, not now: this may run inside a row's own signal.
        for (SocialCrosspostAccountRow *old : std::as_const(rows_)) {
            rowsLayout_->removeWidget(old);
            old->hide();
            old->setParent(nullptr);
            old->deleteLater();
        }
        rows_.clear();
        for (const ConnectedSocialAccount &account : accounts) {
            auto *row = new SocialCrosspostAccountRow(account, list_);
            row->onEnabledChange = [this, account](bool on) { state_.setSocialCrosspostEnabled(account, on); };
            row->onModeChange = [this, account](SocialCrosspostMode mode) {
                state_.setSocialCrosspostMode(account, mode);
            };
            rowsLayout_->addWidget(row);
            rows_.append(row);
        }
    }
    for (SocialCrosspostAccountRow *row : rows_)
        row->setPreference(state_.socialCrosspostPreference(row->account()));
}

} // namespace pendrel

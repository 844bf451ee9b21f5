#include "ui/SettingsSection.h"

#include "model/SupportedContentLanguage.h"
#include "state/AppConfiguration.h"
#include "state/AppState.h"
#include "support/Error.h"
#include "ui/PanelPieces.h"
#include "ui/PanelTexts.h"
#include "ui/SocialCrosspostingSection.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QAccessible>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QVBoxLayout>

namespace pendrel {

namespace {

using Prominence = CompactActionButton::Prominence;

const QString launchAtLoginHelp =
    QStringLiteral("Open Pendrel Publisher automatically whenever you sign in to your computer.");

SettingBinding<bool> flag(bool ClipperSettings::*field)
{
    return {[field](const ClipperSettings &s) { return s.*field; },
            [field](ClipperSettings &s, const bool &v) { s.*field = v; }};
}

SettingBinding<bool> competitionFlag(bool CompetitionOptions::*field)
{
    return {[field](const ClipperSettings &s) { return s.competitionOptions.*field; },
            [field](ClipperSettings &s, const bool &v) { s.competitionOptions.*field = v; }};
}

// Connects a toggle row to a settings field; the state answers with the
// settings signal, which renders the row again.
void bindToggle(AppState &state, InspectorToggleRow *row, const SettingBinding<bool> &binding)
{
    QObject::connect(row, &InspectorToggleRow::toggled, row, [&state, binding](bool on) {
        editSettings(state, [&](ClipperSettings &s) { binding.set(s, on); });
    });
}

// Fills a combo box with `titles` unless it already holds exactly them, so
// that an unchanged workspace list does not disturb an open picker.
void setEntries(QComboBox *combo, const QStringList &titles)
{
    QStringList current;
    for (int i = 0; i < combo->count(); ++i)
        current << combo->itemText(i);
    if (current == titles)
        return;
    const QSignalBlocker block(combo);
    combo->clear();
    combo->addItems(titles);
}

template <class E>
int caseIndex(E value)
{
    return int(enumCases<E>().indexOf(value));
}

} // namespace

void editSettings(AppState &state, const std::function<void(ClipperSettings &)> &edit)
{
    ClipperSettings settings = state.settings();
    edit(settings);
    state.setSettings(settings);
}

// --- Kit

InspectorGroup::InspectorGroup(const QString &title, const char *objectName, QWidget *parent) : QWidget(parent)
{
    setObjectName(QString::fromLatin1(objectName));
    namedGroup(this, title);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(6);
    outer->addWidget(new SectionDivider(title, this));
    content_ = new QVBoxLayout;
    content_->setSpacing(10);
    outer->addLayout(content_);
}

InlinePickerField::InlinePickerField(const QString &title, const char *objectName, const QList<Entry> &entries,
                                     QWidget *parent)
    : QWidget(parent), entries_(entries)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto *top = new QHBoxLayout;
    QLabel *caption = new QLabel(title, this);
    caption->setProperty("role", QStringLiteral("fieldTitle"));
    picker_ = named(new QComboBox(this), objectName, title);
    for (const Entry &entry : entries)
        picker_->addItem(entry.title);
    caption->setBuddy(picker_);
    top->addWidget(caption);
    top->addStretch();
    top->addWidget(picker_);
    layout->addLayout(top);
    help_ = helpLabel(QString(), this, picker_);
    help_->setObjectName(QString::fromLatin1(objectName) + QStringLiteral("Help"));
    layout->addWidget(help_);
    connect(picker_, &QComboBox::activated, this, &InlinePickerField::chosen);
    setCurrentIndex(-1);
}

void InlinePickerField::setCurrentIndex(int index)
{
    const QSignalBlocker block(picker_);
    picker_->setCurrentIndex(index);
    const std::optional<QString> help =
        index >= 0 && index < entries_.size() ? entries_[index].help : std::nullopt;
    help_->setText(help.value_or(QString()));
    help_->setVisible(help.has_value());
    picker_->setAccessibleDescription(help_->text());
}

LanguageSummaryChip::LanguageSummaryChip(QWidget *parent) : QLabel(parent)
{
    setProperty("role", QStringLiteral("chip"));
}

void LanguageSummaryChip::setCode(const QString &code)
{
    setText(PanelTexts::languageSummary(code));
    setAccessibleName(text());
}

LanguageMenuField::LanguageMenuField(QWidget *parent) : QToolButton(parent)
{
    setObjectName(QStringLiteral("languageMenu"));
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setProperty("role", QStringLiteral("menuButton"));
    setCursor(Qt::PointingHandCursor);
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("languageList"));
    for (const SupportedContentLanguage::Group &group : SupportedContentLanguage::grouped()) {
        menu_->addSection(regionMenuTitle(group.region));
        for (const SupportedContentLanguage &language : group.languages) {
            QAction *action = menu_->addAction(language.flag + u' ' + language.label);
            action->setData(language.code);
            connect(action, &QAction::triggered, this, [this, code = language.code] { emit codeChosen(code); });
        }
    }
    setMenu(menu_);
}

void LanguageMenuField::setCode(const QString &code)
{
    // U+2195: the up-and-down chevron of a picker that opens a list.
    setText(PanelTexts::languageSummary(code) + QStringLiteral("  \u2195"));
    // Its caption "Language" is its label: the name is the language alone,
    // without the flag ("English"), so that readers say "Language, English".
    setAccessibleName(PanelTexts::languageSummary(code).section(u' ', 1, -1));
}

InlineMenuPickerField::InlineMenuPickerField(const QString &title, const QString &helpText, QComboBox *content,
                                             QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto *top = new QHBoxLayout;
    auto *caption = new QLabel(title, this);
    caption->setProperty("role", QStringLiteral("fieldTitle"));
    caption->setBuddy(content);
    content->setParent(this);
    if (content->accessibleName().isEmpty())
        content->setAccessibleName(title);
    top->addWidget(caption);
    top->addStretch();
    top->addWidget(content);
    layout->addLayout(top);
    layout->addWidget(helpLabel(helpText, this, content));
}

InspectorToggleRow::InspectorToggleRow(const QString &title, const char *objectName,
                                       const std::optional<QString> &helpText, QWidget *trailing, QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    switch_ = named(new ToggleSwitch(this), objectName, title);
    row->addWidget(switch_, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *caption = new QLabel(title, this);
    caption->setProperty("role", QStringLiteral("fieldTitle"));
    caption->setBuddy(switch_);
    texts->addWidget(caption);
    if (helpText) {
        texts->addWidget(helpLabel(*helpText, this, switch_));
    }
    row->addLayout(texts, 1);
    if (trailing) {
        trailing->setParent(this);
        row->addWidget(trailing, 0, Qt::AlignTop);
        // On Linux Qt names a combo box by its current entry, and screen
        // readers take its label from the label it is the buddy of. The
        // switch is named already; the combo box has no caption of its own.
        if (auto *combo = qobject_cast<QComboBox *>(trailing)) {
            caption->setBuddy(combo);
            combo->setAccessibleDescription(combo->accessibleName());
        }
    }
    // The state, not the click: a screen reader's or voice control's
    // "Toggle" action flips the switch without one.
    connect(switch_, &QAbstractButton::toggled, this, &InspectorToggleRow::toggled);
}

void InspectorToggleRow::setOn(bool on)
{
    const QSignalBlocker block(switch_);
    switch_->setChecked(on);
}

// --- Competition

CompetitionInspector::CompetitionInspector(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    setObjectName(QStringLiteral("competitionInspector"));
    auto *layout = new QVBoxLayout(this);
    // Indented under the "Competition" switch it belongs to.
    layout->setContentsMargins(46, 0, 0, 0);
    layout->setSpacing(8);
    domain_ = named(new QLineEdit, "targetDomain", QStringLiteral("Target domain"));
    domain_->setPlaceholderText(QStringLiteral("example.com"));
    layout->addWidget(new InlineTextField(QStringLiteral("Target domain"), domain_, this));
    const std::initializer_list<std::tuple<const char *, const char *, bool CompetitionOptions::*>> options{
        {"Content strategies", "contentStrategiesToggle", &CompetitionOptions::contentStrategies},
        {"Winning titles", "winningTitlesToggle", &CompetitionOptions::winningTitles},
        {"Pricing mentions", "pricingMentionsToggle", &CompetitionOptions::pricingMentions},
        {"Gap analysis", "gapAnalysisToggle", &CompetitionOptions::gapAnalysis},
        {"SERP features", "serpFeaturesToggle", &CompetitionOptions::serpFeatures},
    };
    for (const auto &[title, name, field] : options) {
        auto *row = new InspectorToggleRow(QString::fromLatin1(title), name, std::nullopt, nullptr, this);
        const SettingBinding<bool> binding = competitionFlag(field);
        bindToggle(state_, row, binding);
        options_.append({row, binding});
        layout->addWidget(row);
    }
    layout->addWidget(helpLabel(QStringLiteral("Any selected competition insight adds a flat +8 credits."), this));
    // Plain text, as typed: nothing is validated or normalised.
    connect(domain_, &QLineEdit::textEdited, this, [this](const QString &text) {
        editSettings(state_, [&](ClipperSettings &s) { s.targetDomain = text; });
    });
    render();
}

void CompetitionInspector::render()
{
    const ClipperSettings &s = state_.settings();
    if (domain_->text() != s.targetDomain)
        domain_->setText(s.targetDomain);
    for (const auto &[row, binding] : options_)
        row->setOn(binding.get(s));
}

// --- Settings

SettingsSection::SettingsSection(AppState &state, QWidget *parent)
    : QWidget(parent), onQuit([] { QCoreApplication::quit(); }), state_(state)
{
    setObjectName(QStringLiteral("settingsSection"));
    namedGroup(this, QStringLiteral("Settings"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *card = new PanelCard(this);
    outer->addWidget(card);
    QVBoxLayout *layout = card->content();
    layout->setSpacing(14);
    auto *heading = new QLabel(QStringLiteral("Settings"), card);
    heading->setProperty("role", QStringLiteral("heading"));
    layout->addWidget(heading);

    // Core
    auto *core = new InspectorGroup(QStringLiteral("Core"), "coreGroup", card);
    size_ = enumPickerField<ArticleSize>(QStringLiteral("Size"), "articleSizePicker", &articleSizeDescription, core);
    seo_ = enumPickerField<SEOStandardMode>(QStringLiteral("SEO Standard"), "seoStandardPicker",
                                            &seoStandardModeDescription, core);
    language_ = new LanguageMenuField(core);
    auto *languageRow = new QHBoxLayout;
    auto *languageCaption = new QLabel(QStringLiteral("Language"), core);
    languageCaption->setProperty("role", QStringLiteral("fieldTitle"));
    languageCaption->setBuddy(language_);
    languageRow->addWidget(languageCaption);
    languageRow->addStretch();
    languageRow->addWidget(language_);
    core->content()->addWidget(size_);
    core->content()->addWidget(seo_);
    core->content()->addLayout(languageRow);
    layout->addWidget(core);
    connect(size_, &InlinePickerField::chosen, this, [this](int i) {
        editSettings(state_, [&](ClipperSettings &s) { s.articleSize = enumCases<ArticleSize>().value(i); });
    });
    connect(seo_, &InlinePickerField::chosen, this, [this](int i) {
        editSettings(state_,
                     [&](ClipperSettings &s) { s.seoStandardMode = enumCases<SEOStandardMode>().value(i); });
    });
    connect(language_, &LanguageMenuField::codeChosen, this, [this](const QString &code) {
        editSettings(state_, [&](ClipperSettings &s) { s.language = code; });
    });

    // Enhancements
    auto *enhancements = new InspectorGroup(QStringLiteral("Enhancements"), "enhancementsGroup", card);
    imagesCount_ = named(new QComboBox, "imagesCountPicker", QStringLiteral("Number of images"));
    imagesCount_->setFixedWidth(84);
    imagesCount_->addItem(QStringLiteral("Auto"));
    for (int n = 1; n <= 5; ++n)
        imagesCount_->addItem(QString::number(n));
    connect(imagesCount_, &QComboBox::activated, this, [this](int i) {
        editSettings(state_, [&](ClipperSettings &s) { s.imagesCount = i; }); // entry i is the count i
    });
    const std::initializer_list<std::tuple<const char *, const char *, const char *, bool ClipperSettings::*>>
        toggles{
            {"Humanize", "humanizeToggle", "Make AI content sound more natural and less robotic.",
             &ClipperSettings::enableHumanize},
            {"Images", "imagesToggle", "Generate illustrations for the article. Cost is per image.",
             &ClipperSettings::enableImages},
            {"Audio", "audioToggle", "Queue AI voice-over narration for the finished article.",
             &ClipperSettings::enableAudio},
            {"Competition", "competitionToggle",
             "Adds competitor analysis to each article. Higher quality content, slightly higher cost (+8 "
             "credits).",
             &ClipperSettings::enableCompetition},
        };
    for (const auto &[title, name, help, field] : toggles) {
        QWidget *trailing = field == &ClipperSettings::enableImages ? imagesCount_ : nullptr;
        auto *row = new InspectorToggleRow(QString::fromLatin1(title), name, QString::fromUtf8(help), trailing,
                                           enhancements);
        const SettingBinding<bool> binding = flag(field);
        bindToggle(state_, row, binding);
        toggles_.append({row, binding});
        enhancements->content()->addWidget(row);
    }
    layout->addWidget(enhancements);
    competition_ = new CompetitionInspector(state_, card);
    layout->addWidget(competition_);

    // Publishing
    auto *publishing = new InspectorGroup(QStringLiteral("Publishing"), "publishingGroup", card);
    linksPreset_ = named(new QComboBox, "linksPresetPicker", QStringLiteral("Links preset"));
    author_ = named(new QComboBox, "authorPicker", QStringLiteral("Author"));
    for (QComboBox *combo : {linksPreset_, author_}) {
        combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        combo->setMinimumWidth(150);
    }
    publishing->content()->addWidget(new InlineMenuPickerField(
        QStringLiteral("Links preset"), QStringLiteral("Choose how internal links are inserted into the article."),
        linksPreset_, publishing));
    publishing->content()->addWidget(new InlineMenuPickerField(
        QStringLiteral("Author"), QStringLiteral("Select the article author profile used when saving the post."),
        author_, publishing));
    auto *autoSend = new InspectorToggleRow(QStringLiteral("Auto-send"), "autoSendToggle", std::nullopt, nullptr,
                                            publishing);
    bindToggle(state_, autoSend, flag(&ClipperSettings::autoSend));
    toggles_.append({autoSend, flag(&ClipperSettings::autoSend)});
    publishing->content()->addWidget(autoSend);
    layout->addWidget(publishing);
    connect(linksPreset_, &QComboBox::activated, this, [this](int i) {
        const QString id = presetIDs_.value(i);
        editSettings(state_, [&](ClipperSettings &s) { s.linksPresetID = id; });
    });
    connect(author_, &QComboBox::activated, this, [this](int i) {
        const QString id = authorIDs_.value(i);
        QString name;
        for (const AuthorOption &a : state_.auxData().authors) {
            if (a.id == id && !id.isEmpty()) {
                name = a.name;
                break;
            }
        }
        editSettings(state_, [&](ClipperSettings &s) {
            s.authorID = id;
            s.authorName = name;
        });
    });

    // Crossposting
    layout->addWidget(new SocialCrosspostingSection(state_, card));

    // App
    auto *app = new InspectorGroup(QStringLiteral("App"), "appGroup", card);
    // Entries in the order of PanelAppearance.
    appearance_ = new InlinePickerField(QStringLiteral("Appearance"), "appearancePicker",
                                        {{QStringLiteral("Automatic"), std::nullopt},
                                         {QStringLiteral("Light"), std::nullopt},
                                         {QStringLiteral("Dark"), std::nullopt}},
                                        app);
    appearance_->setCurrentIndex(int(PanelAppearance::automatic));
    app->content()->addWidget(appearance_);
    connect(appearance_, &InlinePickerField::chosen, this, [this](int i) {
        if (i >= 0 && i <= int(PanelAppearance::dark))
            emit appearanceChosen(PanelAppearance(i));
    });
    // Where the chosen keys stand, and the keys themselves; on GNOME
    // without a portal, the desktop's own setup.
    shortcutRow_ = new QWidget(app);
    shortcutRow_->setObjectName(QStringLiteral("shortcutSetupRow"));
    auto *shortcutRows = new QVBoxLayout(shortcutRow_);
    shortcutRows->setContentsMargins(0, 0, 0, 0);
    shortcutRows->setSpacing(6);
    auto *shortcut = new QHBoxLayout;
    auto *shortcutTexts = new QVBoxLayout;
    shortcutTexts->setSpacing(2);
    shortcutTexts->addWidget(roleLabel(QStringLiteral("Keyboard shortcut"), "shortcutSetupTitle", "fieldTitle", app));
    shortcutSummary_ = named(new QLabel(shortcutRow_), "shortcutSetupSummary", QString());
    shortcutSummary_->setWordWrap(true);
    shortcutTexts->addWidget(shortcutSummary_);
    shortcut->addLayout(shortcutTexts, 1);
    shortcutButton_ = new CompactActionButton(QString(), Prominence::secondary, "shortcutSetupButton", shortcutRow_);
    shortcut->addWidget(shortcutButton_, 0, Qt::AlignTop);
    shortcutRows->addLayout(shortcut);
    auto *keysRow = new QHBoxLayout;
    shortcutKeys_ = new ShortcutRecorder(shortcutRow_);
    shortcutKeysReset_ =
        new CompactActionButton(QStringLiteral("Reset"), Prominence::secondary, "shortcutKeysReset", shortcutRow_);
    shortcutKeysReset_->setAccessibleDescription(
        QStringLiteral("Gives back %1.").arg(ShortcutKeys().displayText()));
    keysRow->addWidget(shortcutKeys_);
    keysRow->addWidget(shortcutKeysReset_);
    keysRow->addStretch();
    shortcutRows->addLayout(keysRow);
    shortcutAnnouncer_ = new PanelAnnouncer(shortcutRow_);
    app->content()->addWidget(shortcutRow_);
    connect(shortcutButton_, &QPushButton::clicked, this, [this] {
        shortcutError_.reset();
        try {
            state_.toggleShortcutSetup();
        } catch (const std::exception &e) {
            shortcutError_ = describeError(e);
        }
        renderShortcutSetup();
    });
    const auto choose = [this](const ShortcutKeys &keys) {
        shortcutError_.reset();
        state_.setShortcutKeys(keys);
        renderShortcutSetup();
        shortcutAnnouncer_->announce(PanelTexts::shortcutKeysRecorded(keys));
    };
    connect(shortcutKeys_, &ShortcutRecorder::recorded, this, choose);
    connect(shortcutKeysReset_, &QPushButton::clicked, this, [choose] { choose(ShortcutKeys()); });
    connect(shortcutKeys_, &ShortcutRecorder::refused, this,
            [this] { shortcutAnnouncer_->announce(PanelTexts::shortcutKeysRefused()); });
    connect(&state_, &AppState::shortcutKeysChanged, this, &SettingsSection::renderShortcutSetup);
    launchAtLogin_ = new InspectorToggleRow(
        QStringLiteral("Launch at login"), "launchAtLoginToggle",
        launchAtLoginHelp, nullptr, app);
    connect(launchAtLogin_, &InspectorToggleRow::toggled, this, [this](bool on) {
        state_.setLaunchAtLoginEnabled(on);
        render(); // a refused change leaves the state as it was
    });
    launchHelper_ = new QLabel(app);
    launchHelper_->setProperty(accessibleDescribesProperty, true); // said with the switch (render)
    named(launchHelper_, "launchAtLoginHelper", QString());
    launchHelper_->setProperty("role", QStringLiteral("help"));
    launchHelper_->setWordWrap(true);
    app->content()->addWidget(launchAtLogin_);
    app->content()->addWidget(launchHelper_);

    auto *updates = new QHBoxLayout;
    updateButton_ = new CompactActionButton(QString(), Prominence::secondary, "updateButton", app);
    auto *updatesTexts = new QVBoxLayout;
    updatesTexts->setSpacing(2);
    auto *updatesTitle = new QLabel(QStringLiteral("Updates"), app);
    updatesTitle->setProperty("role", QStringLiteral("fieldTitle"));
    updateSummary_ = new QLabel(app);
    updateSummary_->setProperty(accessibleDescribesProperty, true); // said with the button (render)
    named(updateSummary_, "updateSummary", QString());
    updateSummary_->setWordWrap(true);
    updatesTexts->addWidget(updatesTitle);
    updatesTexts->addWidget(updateSummary_);
    // Only the production build checks; other builds say so here, where the
    // disabled button would otherwise go unexplained.
    if (!AppConfiguration::isProductionBuild()) {
        updateRestriction_ =
            roleLabel(AppUpdateState::productionOnlyMessage, "updateRestriction", "help", app, updateButton_);
        updatesTexts->addWidget(updateRestriction_); // in no layout it sat over the group's title
    }
    updates->addLayout(updatesTexts, 1);
    updates->addWidget(updateButton_, 0, Qt::AlignTop);
    app->content()->addLayout(updates);
    connect(updateButton_, &QPushButton::clicked, this, [this] {
        if (state_.onCheckForUpdatesRequested)
            state_.onCheckForUpdatesRequested();
    });

    auto *endRow = new QHBoxLayout;
    signOut_ = new CompactActionButton(QStringLiteral("Sign out"), Prominence::secondary, "signOutButton", app);
    auto *quit = new CompactActionButton(QStringLiteral("Quit Pendrel Publisher"), Prominence::secondary,
                                         "quitButton", app);
    endRow->addWidget(signOut_);
    endRow->addStretch();
    endRow->addWidget(quit);
    app->content()->addLayout(endRow);
    layout->addWidget(app);
    connect(signOut_, &QPushButton::clicked, this, [this] { state_.signOut(); });
    connect(quit, &QPushButton::clicked, this, [this] {
        if (onQuit)
            onQuit();
    });

    for (const auto signal :
         {&AppState::settingsChanged, &AppState::auxDataChanged, &AppState::launchAtLoginEnabledChanged,
          &AppState::launchAtLoginHelperTextChanged, &AppState::appUpdateStateChanged, &AppState::authStateChanged,
          &AppState::shortcutStatusChanged})
        connect(&state_, signal, this, &SettingsSection::render);
    render();
}

void SettingsSection::setAppearanceChoice(PanelAppearance choice)
{
    appearance_->setCurrentIndex(int(choice));
}

void SettingsSection::render()
{
    const ClipperSettings &s = state_.settings();
    size_->setCurrentIndex(caseIndex(s.articleSize));
    seo_->setCurrentIndex(caseIndex(s.seoStandardMode));
    language_->setCode(s.language);
    for (const auto &[row, binding] : toggles_)
        row->setOn(binding.get(s));
    {
        const QSignalBlocker block(imagesCount_);
        imagesCount_->setCurrentIndex(s.imagesCount >= 0 && s.imagesCount <= 5 ? int(s.imagesCount) : -1);
    }
    imagesCount_->setEnabled(s.enableImages);
    // Hidden options keep their values; the estimate still counts them.
    competition_->setVisible(s.enableCompetition);
    competition_->render();
    renderPublishing();

    renderShortcutSetup();
    launchAtLogin_->setOn(state_.launchAtLoginEnabled());
    const std::optional<QString> &helper = state_.launchAtLoginHelperText();
    launchHelper_->setText(helper.value_or(QString()));
    launchHelper_->setVisible(helper && !helper->isEmpty());
    launchAtLogin_->toggle()->setAccessibleDescription(
        QStringList{launchAtLoginHelp, helper.value_or(QString())}.join(u' ').trimmed());
    const AppUpdateState &update = state_.appUpdateState();
    updateSummary_->setText(update.statusSummary());
    updateSummary_->setProperty("role", update.status == AppUpdateStatus::error ? QStringLiteral("error")
                                                                                 : QStringLiteral("help"));
    updateSummary_->style()->unpolish(updateSummary_);
    updateSummary_->style()->polish(updateSummary_);
    updateButton_->setText(update.actionTitle());
    updateButton_->setAccessibleName(update.actionTitle());
    updateButton_->setEnabled(update.canCheckForUpdates);
    updateButton_->setAccessibleDescription(
        QStringList{update.statusSummary(), updateRestriction_ ? updateRestriction_->text() : QString()}
            .join(u' ')
            .trimmed());
    signOut_->setVisible(state_.authState().status == AuthStatus::authenticated);
}

void SettingsSection::renderShortcutSetup()
{
    const ShortcutSetupView setup = state_.shortcutSetupView();
    const ShortcutKeys &keys = state_.shortcutKeys();
    const std::optional<QString> &status = state_.shortcutStatus();
    shortcutRow_->setVisible(setup.offered || status);
    shortcutButton_->setVisible(setup.offered);
    shortcutKeys_->setKeys(keys);
    shortcutKeysReset_->setVisible(!keys.isDefault());
    if (!setup.offered) {
        // Where the shortcut stands, and what to do where it cannot be had.
        if (status)
            shortcutSummary_->setText(*status);
        shortcutSummary_->setProperty("role", QStringLiteral("help"));
        shortcutSummary_->style()->unpolish(shortcutSummary_);
        shortcutSummary_->style()->polish(shortcutSummary_);
        return;
    }
    // A binding that could never fire is not offered (the line says why,
    // and the keys button is there to choose others).
    shortcutButton_->setVisible(setup.added || setup.blocking.isEmpty());
    shortcutSummary_->setText(
        shortcutError_.value_or(PanelTexts::shortcutSetupLine(setup.added, setup.others, keys)));
    shortcutSummary_->setProperty("role", shortcutError_ ? QStringLiteral("error") : QStringLiteral("help"));
    shortcutSummary_->style()->unpolish(shortcutSummary_);
    shortcutSummary_->style()->polish(shortcutSummary_);
    shortcutButton_->setText(PanelTexts::shortcutSetupAction(setup.added));
    shortcutButton_->setAccessibleName(PanelTexts::shortcutSetupAction(setup.added));
}

ShortcutRecorder::ShortcutRecorder(QWidget *parent) : QPushButton(parent)
{
    setObjectName(QStringLiteral("shortcutKeysButton"));
    setProperty("prominence", QStringLiteral("secondary"));
    setFixedHeight(28);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleDescription(PanelTexts::shortcutKeysDescription());
    setToolTip(PanelTexts::shortcutKeysDescription());
    connect(this, &QPushButton::clicked, this, [this] { setRecording(!recording_); });
    setKeys(keys_);
}

void ShortcutRecorder::setKeys(const ShortcutKeys &keys)
{
    keys_ = keys;
    setRecording(recording_);
}

void ShortcutRecorder::setRecording(bool on)
{
    const bool changed = on != recording_;
    recording_ = on;
    setText(PanelTexts::shortcutKeysButton(keys_, recording_));
    setAccessibleName(recording_ ? QStringLiteral("Keyboard shortcut: press keys")
                                 : QStringLiteral("Keyboard shortcut: %1").arg(keys_.displayText()));
    if (!changed)
        return;
    // While recording every chord comes here, also ones the panel would take.
    if (recording_)
        grabKeyboard();
    else
        releaseKeyboard();
}

void ShortcutRecorder::keyPressEvent(QKeyEvent *event)
{
    if (!recording_) {
        QPushButton::keyPressEvent(event);
        return;
    }
    event->accept();
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::ShiftModifier);
    const int key = event->key();
    if (modifiers == Qt::NoModifier && key == Qt::Key_Escape) {
        setRecording(false);
        emit cancelled();
        return;
    }
    if (modifiers == Qt::NoModifier && key == Qt::Key_Backspace) {
        setRecording(false);
        emit recorded(ShortcutKeys());
        return;
    }
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_unknown:
        return; // the chord is not complete yet
    default:
        break;
    }
    const ShortcutKeys keys(QKeyCombination(modifiers, Qt::Key(key)));
    if (!keys.isUsable()) {
        emit refused(); // still recording
        return;
    }
    setRecording(false);
    emit recorded(keys);
}

void ShortcutRecorder::focusOutEvent(QFocusEvent *event)
{
    if (recording_) {
        setRecording(false);
        emit cancelled();
    }
    QPushButton::focusOutEvent(event);
}

void SettingsSection::renderPublishing()
{
    const ClipperSettings &s = state_.settings();
    const AuxData &aux = state_.auxData();
    QStringList presetTitles{QStringLiteral("None")};
    presetIDs_ = {QString()};
    for (const LinksPreset &p : aux.presets) {
        presetTitles << p.name;
        presetIDs_ << p.id;
    }
    setEntries(linksPreset_, presetTitles);
    QStringList authorTitles{QStringLiteral("Default")};
    authorIDs_ = {QString()};
    for (const AuthorOption &a : aux.authors) {
        authorTitles << a.name;
        authorIDs_ << a.id;
    }
    setEntries(author_, authorTitles);
    // An id the workspace no longer offers selects nothing and stays stored.
    const QSignalBlocker blockPresets(linksPreset_);
    linksPreset_->setCurrentIndex(int(presetIDs_.indexOf(s.linksPresetID)));
    const QSignalBlocker blockAuthors(author_);
    author_->setCurrentIndex(int(authorIDs_.indexOf(s.authorID)));
}

} // namespace pendrel

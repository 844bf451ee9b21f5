#include "ui/AuthSection.h"

#include "state/AppResources.h"
#include "state/AppState.h"
#include "ui/PanelPieces.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace pendrel {

namespace {

constexpr qreal markSize = 18;

QProgressBar *busyIndicator(QWidget *parent, int height)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 0); // indeterminate
    bar->setTextVisible(false);
    bar->setFixedHeight(height);
    bar->setAccessibleName(QStringLiteral("Working"));
    return bar;
}

} // namespace

// --- Tiles

AuthTileButton::AuthTileButton(QWidget *parent)
    : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(tileHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize AuthTileButton::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text()) + 56, tileHeight};
}

bool AuthTileButton::drawMark(QPainter &, const QRectF &) const
{
    return false;
}

PanelColors::Tile AuthTileButton::tile(const PanelColors &colors) const
{
    return colors.secondaryTile();
}

void AuthTileButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    if (!isEnabled())
        p.setOpacity(0.45);
    const PanelColors &colors = panelColors(panelLookOf(this));
    const PanelColors::Tile look = tile(colors);
    foreground_ = look.text;
    QColor fill = look.background;
    if (isDown())
        fill = fill.lightness() > 128 ? fill.darker(108) : fill.lighter(130);
    else if (underMouse())
        fill = fill.lightness() > 128 ? fill.darker(103) : fill.lighter(115);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(look.border ? QPen(*look.border, 1) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(box, cornerRadius, cornerRadius);
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        // Inside the tile: on a brand colour near the ring's own (LinkedIn's
        // blue in the dark look), the ring takes the tile's text colour.
        p.setPen(QPen(contrastRatio(colors.focusRing, fill) >= 3 ? colors.focusRing : look.text, 2));
        p.drawRoundedRect(box.adjusted(1, 1, -1, -1), cornerRadius - 1, cornerRadius - 1);
    }
    const QFontMetricsF metrics(font());
    const qreal textWidth = metrics.horizontalAdvance(text());
    const qreal gap = 8;
    const qreal total = markSize + gap + textWidth;
    const qreal left = (width() - total) / 2;
    const QRectF markBox(left, (height() - markSize) / 2, markSize, markSize);
    const bool drewMark = drawMark(p, markBox);
    p.setPen(foreground_);
    if (drewMark)
        p.drawText(QRectF(markBox.right() + gap, 0, textWidth + 2, height()), Qt::AlignVCenter | Qt::AlignLeft,
                   text());
    else
        p.drawText(rect(), Qt::AlignCenter, text());
}

NativeAppleSignInButton::NativeAppleSignInButton(QWidget *parent) : AuthTileButton(parent)
{
    setObjectName(QStringLiteral("appleSignInButton"));
    setText(QStringLiteral("Sign in with Apple"));
    setAccessibleName(text());
    QFont f = font();
    f.setWeight(QFont::DemiBold);
    setFont(f);
}

PanelColors::Tile NativeAppleSignInButton::tile(const PanelColors &colors) const
{
    return colors.appleTile();
}

bool NativeAppleSignInButton::drawMark(QPainter &p, const QRectF &box) const
{
    // The apple: two overlapping lobes with a bite, and a leaf.
    const qreal s = box.width() / 18.0;
    const QPointF o = box.topLeft();
    QPainterPath body;
    body.addEllipse(QRectF(o.x() + 1.5 * s, o.y() + 4.5 * s, 8.5 * s, 12.5 * s));
    body.addEllipse(QRectF(o.x() + 7.5 * s, o.y() + 4.5 * s, 8.5 * s, 12.5 * s));
    body.setFillRule(Qt::WindingFill);
    QPainterPath bite;
    bite.addEllipse(QRectF(o.x() + 13 * s, o.y() + 6.5 * s, 5 * s, 5 * s));
    QPainterPath leaf;
    leaf.moveTo(o.x() + 9 * s, o.y() + 4 * s);
    leaf.cubicTo(o.x() + 9 * s, o.y() + 1.5 * s, o.x() + 11 * s, o.y() + 0.5 * s, o.x() + 12.5 * s, o.y());
    leaf.cubicTo(o.x() + 12.5 * s, o.y() + 2.5 * s, o.x() + 11 * s, o.y() + 4 * s, o.x() + 9 * s, o.y() + 4 * s);
    p.setPen(Qt::NoPen);
    p.setBrush(foreground_);
    p.drawPath(body.simplified().subtracted(bite));
    p.drawPath(leaf);
    return true;
}

QColor NativeProviderButton::tileColor(NativeAuthProvider provider)
{
    switch (provider) {
    case NativeAuthProvider::google:
        return QColor::fromRgbF(0.95f, 0.97f, 1.0f);
    case NativeAuthProvider::github:
        return QColor::fromRgbF(0.07f, 0.09f, 0.13f);
    case NativeAuthProvider::linkedinOIDC:
        return QColor::fromRgbF(0.04f, 0.40f, 0.76f);
    case NativeAuthProvider::facebook:
        return QColor::fromRgbF(0.09f, 0.47f, 0.95f);
    case NativeAuthProvider::apple:
        break;
    }
    return Qt::black;
}

QString NativeProviderButton::markFile(NativeAuthProvider provider)
{
    switch (provider) {
    case NativeAuthProvider::google:
        return QStringLiteral("google-mark");
    case NativeAuthProvider::github:
        return QStringLiteral("github-mark");
    case NativeAuthProvider::linkedinOIDC:
        return QStringLiteral("linkedin-mark");
    case NativeAuthProvider::facebook:
        return QStringLiteral("facebook-mark");
    case NativeAuthProvider::apple:
        break;
    }
    return {};
}

NativeProviderButton::NativeProviderButton(NativeAuthProvider provider, QWidget *parent)
    : AuthTileButton(parent), provider_(provider)
{
    setObjectName(QStringLiteral("provider-") + enumString(provider));
    setText(providerName(provider));
    setAccessibleName(providerHelperCopy(provider));
    if (const std::optional<QString> path = AppResources::imagePath(u"AuthProviders", markFile(provider), u"png")) {
        QImage image(*path);
        if (!image.isNull())
            mark_ = image;
    }
    QFont f = font();
    f.setWeight(QFont::DemiBold);
    setFont(f);
}

PanelColors::Tile NativeProviderButton::tile(const PanelColors &colors) const
{
    return colors.providerTile(tileColor(provider_));
}

bool NativeProviderButton::drawMark(QPainter &p, const QRectF &box) const
{
    if (!mark_)
        return false;
    // A template image: its shape in the tile's text colour.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (box.size() * ratio).toSize();
    QImage tinted = tintedImage(mark_->scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation), pixels,
                                foreground_);
    tinted.setDevicePixelRatio(ratio);
    p.drawImage(box.topLeft(), tinted);
    return true;
}

SecondaryAuthActionButton::SecondaryAuthActionButton(const QString &title, const char *objectName, QWidget *parent)
    : AuthTileButton(parent)
{
    setObjectName(QString::fromLatin1(objectName));
    setText(title);
    setAccessibleName(title);
}

// --- Section

AuthSection::AuthSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    setObjectName(QStringLiteral("authSection"));
    namedGroup(this, QStringLiteral("Sign in to Pendrel"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *card = new PanelCard(this);
    outer->addWidget(card);
    QVBoxLayout *layout = card->content();
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);

    auto *heading = new QLabel(QStringLiteral("Sign in to Pendrel"), card);
    heading->setProperty("role", QStringLiteral("heading"));
    layout->addWidget(heading);
    layout->addWidget(helpLabel(
        QStringLiteral(
            "Use native email sign in or continue with the same secure browser auth flow as Pendrelweb."),
        card));

    email_ = named(new QLineEdit, "signInEmail", QStringLiteral("Email"));
    email_->setPlaceholderText(QStringLiteral("you@example.com"));
    email_->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    layout->addWidget(new LabeledField(QStringLiteral("Email"), email_, card));
    password_ = named(new SecretField, "signInPassword", QStringLiteral("Password"));
    password_->setPlaceholderText(QStringLiteral("Password"));
    layout->addWidget(new LabeledField(QStringLiteral("Password"), password_, card));

    error_ = new QLabel(card);
    error_->setObjectName(QStringLiteral("authError"));
    error_->setProperty("role", QStringLiteral("error"));
    error_->setWordWrap(true);
    layout->addWidget(error_);

    progress_ = new QWidget(card);
    progress_->setObjectName(QStringLiteral("browserAuthProgress"));
    auto *progressRow = new QHBoxLayout(progress_);
    progressRow->setContentsMargins(0, 0, 0, 0);
    QProgressBar *spinner = busyIndicator(progress_, 6);
    spinner->setFixedWidth(48);
    progressText_ = new QLabel(progress_);
    progressText_->setObjectName(QStringLiteral("browserAuthStatus"));
    progressText_->setProperty("role", QStringLiteral("help"));
    progressText_->setWordWrap(true);
    progressRow->addWidget(spinner);
    progressRow->addWidget(progressText_, 1);
    layout->addWidget(progress_);

    primary_ = new QStackedWidget(card);
    primary_->setFixedHeight(36);
    signIn_ = new CompactActionButton(QStringLiteral("Sign in to Pendrel"), CompactActionButton::Prominence::primary,
                                      "signInButton", primary_, 36);
    primary_->addWidget(signIn_);
    QProgressBar *signingIn = busyIndicator(primary_, 6);
    signingIn->setObjectName(QStringLiteral("signInProgress"));
    auto *signingInBox = new QWidget(primary_);
    auto *signingInLayout = new QVBoxLayout(signingInBox);
    signingInLayout->addWidget(signingIn, 0, Qt::AlignVCenter);
    primary_->addWidget(signingInBox);
    layout->addWidget(primary_);

    auto *create = new SecondaryAuthActionButton(QStringLiteral("Create account"), "createAccountButton", card);
    auto *web = new SecondaryAuthActionButton(QStringLiteral("Sign in on Pendrelweb"), "browserSignInButton", card);
    layout->addWidget(create);
    layout->addWidget(web);
    layout->addWidget(new SectionDivider(QString(), card));
    auto *apple = new NativeAppleSignInButton(card);
    layout->addWidget(apple);
    auto *grid = new QGridLayout;
    grid->setSpacing(8);
    const std::array providers{NativeAuthProvider::google, NativeAuthProvider::github,
                               NativeAuthProvider::linkedinOIDC, NativeAuthProvider::facebook};
    for (size_t i = 0; i < providers.size(); ++i) {
        auto *tile = new NativeProviderButton(providers[i], card);
        grid->addWidget(tile, int(i / 2), int(i % 2));
        busyDisabled_ << tile;
        connect(tile, &QAbstractButton::clicked, this, [this, p = providers[i]] {
            state_.startBrowserAuth(NativeAuthFlowMode::signin, p);
        });
    }
    layout->addLayout(grid);
    QLabel *footnote = helpLabel(QStringLiteral("Account creation and social auth reuse the production browser "
                                                "flow, then hand the session back to the app automatically."),
                                 card);
    footnote->setObjectName(QStringLiteral("authFootnote"));
    layout->addWidget(footnote);
    busyDisabled_ << signIn_ << create << web << apple;

    connect(email_, &QLineEdit::textChanged, this, [this](const QString &t) { state_.setSignInEmail(t); });
    connect(password_, &QLineEdit::textChanged, this, [this](const QString &t) { state_.setSignInPassword(t); });
    connect(email_, &QLineEdit::returnPressed, password_, qOverload<>(&QWidget::setFocus));
    connect(password_, &QLineEdit::returnPressed, this, [this] {
        if (signIn_->isEnabled())
            state_.signIn();
    });
    connect(signIn_, &QPushButton::clicked, this, [this] { state_.signIn(); });
    connect(create, &QAbstractButton::clicked, this,
            [this] { state_.startBrowserAuth(NativeAuthFlowMode::signup); });
    connect(web, &QAbstractButton::clicked, this, [this] { state_.startBrowserAuth(NativeAuthFlowMode::signin); });
    connect(apple, &QAbstractButton::clicked, this,
            [this] { state_.startBrowserAuth(NativeAuthFlowMode::signin, NativeAuthProvider::apple); });

    for (const auto signal :
         {&AppState::signInEmailChanged, &AppState::signInPasswordChanged, &AppState::isSigningInChanged,
          &AppState::isBrowserAuthInProgressChanged, &AppState::authErrorMessageChanged,
          &AppState::browserAuthStatusMessageChanged})
        connect(&state_, signal, this, &AuthSection::render);
    render();
}

void AuthSection::render()
{
    if (email_->text() != state_.signInEmail())
        email_->setText(state_.signInEmail());
    if (password_->text() != state_.signInPassword())
        password_->setText(state_.signInPassword());
    const std::optional<QString> &error = state_.authErrorMessage();
    error_->setText(error.value_or(QString()));
    error_->setVisible(error.has_value());
    const bool browser = state_.isBrowserAuthInProgress();
    progress_->setVisible(browser);
    progressText_->setText(state_.browserAuthStatusMessage().value_or(QString()));
    primary_->setCurrentIndex(state_.isSigningIn() ? 1 : 0);
    const bool busy = state_.isSigningIn() || browser;
    for (QAbstractButton *control : std::as_const(busyDisabled_))
        control->setEnabled(!busy);
}

} // namespace pendrel

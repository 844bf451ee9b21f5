#pragma once

#include "auth/NativeAuth.h"

#include <QAbstractButton>
#include <QColor>

#include "ui/PanelLook.h"
#include <QImage>
#include <QWidget>

#include <optional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QStackedWidget;

namespace pendrel {

class AppState;
class CompactActionButton;

// The sign-in tiles share one shape: 44 high with corners of 14.
class AuthTileButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int tileHeight = 44;
    static constexpr int cornerRadius = 14;
    explicit AuthTileButton(QWidget *parent = nullptr);
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    // Draws the mark centred in `box`; false when there is none to draw.
    virtual bool drawMark(QPainter &painter, const QRectF &box) const;
    // The tile's colours in the panel's look (a bordered field-coloured tile
    // unless overridden); read at every paint, so a switch of looks shows.
    [[nodiscard]] virtual PanelColors::Tile tile(const PanelColors &colors) const;

    QColor foreground_; // the text's colour of the paint under way, for drawMark
};

// "Sign in with Apple": white on black with the Apple mark.
class NativeAppleSignInButton : public AuthTileButton {
    Q_OBJECT
public:
    explicit NativeAppleSignInButton(QWidget *parent = nullptr);

protected:
    [[nodiscard]] PanelColors::Tile tile(const PanelColors &colors) const override;

protected:
    bool drawMark(QPainter &painter, const QRectF &box) const override;
};

// A provider's tile: its mark from the resource bundle (or its name alone
// when the mark is missing) on the provider's colour.
class NativeProviderButton : public AuthTileButton {
    Q_OBJECT
public:
    explicit NativeProviderButton(NativeAuthProvider provider, QWidget *parent = nullptr);
    [[nodiscard]] NativeAuthProvider provider() const { return provider_; }
    [[nodiscard]] bool hasMark() const { return mark_.has_value(); }
    static QColor tileColor(NativeAuthProvider provider);
    static QString markFile(NativeAuthProvider provider);

protected:
    bool drawMark(QPainter &painter, const QRectF &box) const override;
    [[nodiscard]] PanelColors::Tile tile(const PanelColors &colors) const override;

private:
    NativeAuthProvider provider_;
    std::optional<QImage> mark_;
};

// A bordered full-width tile for the browser flows.
class SecondaryAuthActionButton : public AuthTileButton {
    Q_OBJECT
public:
    SecondaryAuthActionButton(const QString &title, const char *objectName, QWidget *parent = nullptr);
};

// What the panel shows while nobody is signed in.
class AuthSection : public QWidget {
    Q_OBJECT
public:
    explicit AuthSection(AppState &state, QWidget *parent = nullptr);
    void render();
    [[nodiscard]] QLineEdit *emailField() const { return email_; }

private:
    AppState &state_;
    QLineEdit *email_;
    QLineEdit *password_;
    QLabel *error_;
    QWidget *progress_;
    QLabel *progressText_;
    QStackedWidget *primary_;
    CompactActionButton *signIn_;
    QList<QAbstractButton *> busyDisabled_;
};

} // namespace pendrel

#pragma once

#include "ui/PanelTexts.h"

#include <QAbstractButton>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

class QVBoxLayout;

namespace pendrel {

// Sets the name tests find a control by and the name screen readers say.
template <class W>
W *named(W *widget, const char *objectName, const QString &accessibleName)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setAccessibleName(accessibleName);
    return widget;
}

// Set on a section: screen readers present it as a group called by its
// accessible name (shell/AccessibleTree.cpp gives it that role).
inline constexpr char accessibleGroupProperty[] = "accessibleGroup";
// Names a section as a group, announced as the focus enters it.
template <class W>
W *namedGroup(W *section, const QString &accessibleName)
{
    // The mark goes first: naming the widget makes Qt create its accessible
    // object, whose role stays the one it got then.
    section->setProperty(accessibleGroupProperty, true);
    section->setAccessibleName(accessibleName);
    return section;
}

// Set on a label whose text is the description of a control (help under a
// switch or picker): screen readers hear it with that control, so the label
// itself stays out of their reading of the panel.
inline constexpr char accessibleDescribesProperty[] = "accessibleDescribes";
// Adds `help`'s text to `control`'s description.
void describeControl(QWidget *control, const QLabel *help);

// Tells the accessibility bus that `widget`'s AT-SPI `state` ("expanded")
// is now `on`, for the states whose changes Qt's bridge does not pass on.
// False when no screen reader side is listening (accessibility off).
bool sendAtSpiStateChange(QWidget *widget, const QString &state, bool on);

// Only the image's opaque pixels take the colour (source-atop), at `size`.
QImage tintedImage(const QImage &source, QSize size, const QColor &color);

// Relative luminance and contrast ratio as WCAG 2 defines them (1 to 21).
double relativeLuminance(const QColor &color);
double contrastRatio(const QColor &a, const QColor &b);
// A text colour that reads on `background` (4.5:1 where any can).
QColor legibleOn(const QColor &background);

// A caption in the panel's small secondary style.
QLabel *captionLabel(const QString &text, QWidget *parent);
// Wrapped text in the secondary colour, for help lines and footnotes;
// with `describes`, that control's description (see above).
QLabel *helpLabel(const QString &text, QWidget *parent, QWidget *describes = nullptr);
// A named, wrapped label styled by its role ("title", "help", "error" …);
// with `describes`, part of that control's description.
QLabel *roleLabel(const QString &text, const char *objectName, const char *role, QWidget *parent,
                  QWidget *describes = nullptr);

// A rounded card around a section's content.
class PanelCard : public QFrame {
    Q_OBJECT
public:
    explicit PanelCard(QWidget *parent = nullptr);
    [[nodiscard]] QVBoxLayout *content() const;
};

// A small coloured label.
class StatusPill : public QLabel {
    Q_OBJECT
public:
    explicit StatusPill(QWidget *parent = nullptr);
    void setPill(const PanelTexts::Pill &pill);
    [[nodiscard]] const PanelTexts::Pill &pill() const { return pill_; }

private:
    PanelTexts::Pill pill_;
    bool styled_ = false;
};

// A small button, primary (filled) or secondary.
class CompactActionButton : public QPushButton {
    Q_OBJECT
public:
    enum class Prominence { primary, secondary };
    CompactActionButton(const QString &title, Prominence prominence, const char *objectName,
                        QWidget *parent = nullptr, int height = 28);
};

// An on/off switch drawn as a track with a knob; Space toggles it.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget *parent = nullptr);
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A password field. What is typed reaches assistive technology only as
// mask characters: Qt's line edit masks its accessible text, but its text
// change events carry the typed characters, which screen readers speak.
class SecretField : public QLineEdit {
    Q_OBJECT
public:
    explicit SecretField(QWidget *parent = nullptr);
    // The character the field shows for each one typed.
    [[nodiscard]] QChar maskCharacter() const;
    // `text` with every character masked.
    [[nodiscard]] QString masked(const QString &text) const;
};

// Holds back what `field` reports of its caret and selection as it takes
// the focus until Qt has reported the focus. A line edit reports its caret
// first, and a screen reader that hears of the caret first takes the field
// for known and says nothing as Tab reaches it (Orca, of a password field).
void reportFocusFirst(QLineEdit *field);

// A caption above a control.
class LabeledField : public QWidget {
    Q_OBJECT
public:
    LabeledField(const QString &title, QWidget *content, QWidget *parent = nullptr);
};

// A caption above a one-line text field.
class InlineTextField : public LabeledField {
    Q_OBJECT
public:
    InlineTextField(const QString &title, QLineEdit *field, QWidget *parent = nullptr);
};

// A triangle and a title that shows or hides what belongs to it.
class DisclosureButton : public QToolButton {
    Q_OBJECT
public:
    DisclosureButton(const QString &title, const char *objectName, QWidget *parent = nullptr);
    // Sets the state without emitting toggled.
    void setExpanded(bool expanded);

private:
    void announceExpanded();
};

// Says short messages (a job's progress) to screen readers without moving
// the focus. Each message is an accessible notification of its own, named by
// the message, that appears in `where` (which is when screen readers speak a
// notification) and goes a little later: a notification is never renamed, so
// a reader that comes to it late still reads its own message. They draw nothing.
class PanelAnnouncer : public QObject {
    Q_OBJECT
public:
    explicit PanelAnnouncer(QWidget *where);
    void announce(const QString &message);

signals:
    // Each message as it is said (also while nothing can hear it).
    void announced(const QString &message);

private:
    QWidget *where_;
};

// One message of a PanelAnnouncer.
class PanelAnnouncement : public QWidget {
    Q_OBJECT
public:
    PanelAnnouncement(const QString &message, QWidget *parent);
};

// A caption above a value.
class MetricBlock : public QWidget {
    Q_OBJECT
public:
    MetricBlock(const QString &label, const char *objectName, QWidget *parent = nullptr);
    void setValue(const QString &value);
    [[nodiscard]] QString value() const;

private:
    QLabel *value_;
};

// One line showing a web address, elided in the middle.
class URLChip : public QLabel {
    Q_OBJECT
public:
    explicit URLChip(QWidget *parent = nullptr);
    void setURL(const QString &url);
    [[nodiscard]] const QString &url() const { return url_; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QString url_;
};

// A caption line between groups.
class SectionDivider : public QLabel {
    Q_OBJECT
public:
    explicit SectionDivider(const QString &title, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A badge whose three dots pulse from the clock while active.
class HeaderActivityBadge : public QWidget {
    Q_OBJECT
public:
    explicit HeaderActivityBadge(QWidget *parent = nullptr);
    void setBadge(const PanelTexts::Badge &badge);
    [[nodiscard]] const PanelTexts::Badge &badge() const { return badge_; }
    // The dot that is large at `secondsSinceReferenceDate` (0, 1 or 2).
    static int phase(double secondsSinceReferenceDate);

protected:
    void paintEvent(QPaintEvent *event) override;
    [[nodiscard]] QSize sizeHint() const override;

private:
    PanelTexts::Badge badge_;
    QTimer tick_;
};

} // namespace pendrel

#pragma once

#include "ui/PanelTexts.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace pendrel {

// A rounded card around a section's content.
class PanelCard : public QFrame {
    Q_OBJECT
public:
    explicit PanelCard(QWidget *parent = nullptr);
};

// A small coloured label.
class StatusPill : public QLabel {
    Q_OBJECT
public:
    explicit StatusPill(QWidget *parent = nullptr);
    void setPill(const PanelTexts::Pill &pill);
};

// A small button, primary (filled) or secondary.
class CompactActionButton : public QPushButton {
    Q_OBJECT
public:
    enum class Prominence { primary, secondary };
    CompactActionButton(const QString &title, Prominence prominence, const char *objectName,
                        QWidget *parent = nullptr);
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

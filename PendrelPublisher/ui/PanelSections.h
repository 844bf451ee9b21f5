#pragma once

#include "ui/PanelLook.h"

#include "model/Job.h"
#include "ui/PanelTexts.h"

#include <QWidget>

#include <array>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pendrel {

class AppState;
class CompactActionButton;
class DisclosureButton;
class HeaderActivityBadge;
class MetricBlock;
class PanelCard;
class StatusPill;
class URLChip;

// Each section is a read-only view of the state: it connects to the signals
// of the properties it shows and re-renders only from those.

// Brand, subtitle and the activity badge.
class HeaderSection : public QWidget {
    Q_OBJECT
public:
    explicit HeaderSection(AppState &state, QWidget *parent = nullptr);
    void render();
    // Whether the brand images loaded (false: the drawn fallbacks show).
    [[nodiscard]] bool hasBrandSymbol() const { return hasSymbol_; }
    [[nodiscard]] bool hasWordMarkImage() const { return hasWordMark_; }

    // The brand's one-colour artwork in the look's ink (dark on the light
    // look, light on the dark one); the panel calls it again when it switches.
    void showMarks();

private:

    AppState &state_;
    QLabel *symbol_;
    QLabel *wordMark_;
    std::optional<QImage> symbolImage_;
    std::optional<QImage> wordMarkImage_;
    PanelLook marksLook_ = PanelLook::light;
    QLabel *subtitle_;
    HeaderActivityBadge *badge_;
    bool hasSymbol_ = false;
    bool hasWordMark_ = false;
};

// The workspace's name and credit balance.
class TenantSection : public QWidget {
    Q_OBJECT
public:
    explicit TenantSection(AppState &state, QWidget *parent = nullptr);
    void render();

private:
    AppState &state_;
    MetricBlock *tenant_;
    MetricBlock *balance_;
};

// The job being worked on or needing attention: pill, messages, actions, log.
class StatusSection : public QWidget {
    Q_OBJECT
public:
    explicit StatusSection(AppState &state, QWidget *parent = nullptr);
    void render();

private:
    void renderLogs();

    AppState &state_;
    std::optional<JobRecord> shown_;
    std::optional<PanelTexts::JobCard> shownCard_;
    StatusPill *pill_;
    QLabel *primary_;
    QLabel *secondary_;
    CompactActionButton *cancel_;
    CompactActionButton *retry_;
    CompactActionButton *topUp_;
    DisclosureButton *logsToggle_;
    QLabel *logs_;
};

// The latest finished article with its address and crossposting summary.
class ResultSection : public QWidget {
    Q_OBJECT
public:
    explicit ResultSection(AppState &state, QWidget *parent = nullptr);
    void render();

private:
    AppState &state_;
    std::optional<JobRecord> shown_;
    QLabel *title_;
    URLChip *url_;
    QLabel *crossposts_;
};

// Capture from the clipboard or from a typed address.
class QuickSendSection : public QWidget {
    Q_OBJECT
public:
    explicit QuickSendSection(AppState &state, QWidget *parent = nullptr);
    void render();
    [[nodiscard]] QLineEdit *addressField() const { return url_; }

signals:
    // After each capture from the panel, also one that ends with the message
    // it already showed (a second "Use Clipboard" on an empty clipboard).
    void captureTried();

private:
    AppState &state_;
    QLineEdit *url_;
    QLabel *error_;
};

// What is about to be sent.
class PreviewSection : public QWidget {
    Q_OBJECT
public:
    explicit PreviewSection(AppState &state, QWidget *parent = nullptr);
    void render();

private:
    AppState &state_;
    StatusPill *kind_;
    QLabel *language_;
    QLabel *headline_;
    QLabel *body_;
    URLChip *url_;
};

// The queue line, the cost estimate and the main button.
class SendButtonSection : public QWidget {
    Q_OBJECT
public:
    explicit SendButtonSection(AppState &state, QWidget *parent = nullptr);
    void render();

private:
    AppState &state_;
    QLabel *queue_;
    QLabel *estimate_;
    QLabel *breakdown_;
    CompactActionButton *send_;
};

// The last few jobs, behind a disclosure.
class RecentJobsSection : public QWidget {
    Q_OBJECT
public:
    static constexpr int maxRows = 5;
    explicit RecentJobsSection(AppState &state, QWidget *parent = nullptr);
    void render();

private:
    struct Row {
        QWidget *widget;
        StatusPill *pill;
        QLabel *title;
        QLabel *subtitle;
        CompactActionButton *open;
        CompactActionButton *retry;
        std::optional<JobRecord> shown;
    };
    void renderRow(Row &row, const JobRecord &job);

    AppState &state_;
    DisclosureButton *toggle_;
    QWidget *body_;
    QLabel *empty_;
    std::array<Row, maxRows> rows_{};
};

} // namespace pendrel

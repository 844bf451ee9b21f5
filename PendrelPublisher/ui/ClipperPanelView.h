#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QPlainTextEdit;

namespace pendrel {

class AppState;
class HeaderActivityBadge;
class MetricBlock;
class StatusPill;

// The panel: sign-in while signed out; the workspace, capture and the
// latest job while signed in. Re-renders from the state's signals.
class ClipperPanelView : public QWidget {
    Q_OBJECT

public:
    explicit ClipperPanelView(AppState &state, QWidget *parent = nullptr);

    void render();

private:
    AppState &state_;
    QWidget *signInPage_ = nullptr;
    QWidget *workspacePage_ = nullptr;
    QLineEdit *email_ = nullptr;
    QLineEdit *password_ = nullptr;
    QPushButton *signIn_ = nullptr;
    QPushButton *browserSignIn_ = nullptr;
    MetricBlock *tenant_ = nullptr;
    MetricBlock *balance_ = nullptr;
    HeaderActivityBadge *badge_ = nullptr;
    StatusPill *pill_ = nullptr;
    QLabel *subtitle_ = nullptr;
    QLabel *secondary_ = nullptr;
    QLabel *error_ = nullptr;
    QLineEdit *url_ = nullptr;
    QLabel *pending_ = nullptr;
    QPushButton *send_ = nullptr;
    QLabel *jobStatus_ = nullptr;
    QPlainTextEdit *log_ = nullptr;
    QPushButton *openArticle_ = nullptr;
};

} // namespace pendrel

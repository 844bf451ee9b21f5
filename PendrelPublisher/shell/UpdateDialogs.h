#pragma once

#include "shell/UpdaterController.h"
#include "ui/PanelLook.h"

#include <QMessageBox>
#include <QPointer>

#include <functional>

namespace pendrel {

// The small windows that end a check the user asked for: the new version
// with "Download" and "Release Notes", "You're up to date!", or the error.
// One is shown at a time; a newer one replaces it.
class UpdateDialogs final : public UpdateUserDriver {
public:
    using UrlHandler = std::function<void(const QUrl &)>;
    using LookSource = std::function<PanelLook()>;

    // `look` says which of the panel's looks a window opens in (light
    // without one); a window already open follows setLook().
    explicit UpdateDialogs(UrlHandler openURL, LookSource look = {});
    ~UpdateDialogs() override;

    void showUpdateFound(const AppcastItem &item, const QString &currentVersion) override;
    void showUpToDate(const QString &currentVersion) override;
    void showError(const QString &description) override;

    // The window on screen, if any.
    [[nodiscard]] QMessageBox *current() const { return current_; }
    // Dresses `box` in the panel's look (its palette and its buttons').
    static void applyLook(QMessageBox *box, PanelLook look);

private:
    QMessageBox *present(QMessageBox::Icon icon, const QString &text, const QString &informative);
    void show(QMessageBox *box);

    UrlHandler openURL_;
    LookSource look_;
    QPointer<QMessageBox> current_;
};

} // namespace pendrel

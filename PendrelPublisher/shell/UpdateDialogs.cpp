#include "shell/UpdateDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QStyle>

namespace pendrel {

UpdateDialogs::UpdateDialogs(UrlHandler openURL, LookSource look)
    : openURL_(std::move(openURL)), look_(std::move(look))
{
}

void UpdateDialogs::applyLook(QMessageBox *box, PanelLook look)
{
    // The panel's buttons and texts; its palette for the window itself.
    box->setPalette(panelPalette(look));
    box->setStyleSheet(panelStyleSheet(look)
                       + QStringLiteral("QMessageBox QPushButton { min-height: 26px; min-width: 72px; }"));
    for (QPushButton *button : box->findChildren<QPushButton *>())
        button->setProperty("prominence", button == box->defaultButton() ? QStringLiteral("primary")
                                                                         : QStringLiteral("secondary"));
    box->style()->unpolish(box);
    box->style()->polish(box);
    for (QWidget *w : box->findChildren<QWidget *>()) {
        box->style()->unpolish(w);
        box->style()->polish(w);
        w->update();
    }
}

UpdateDialogs::~UpdateDialogs()
{
    delete current_.data();
}

QMessageBox *UpdateDialogs::present(QMessageBox::Icon icon, const QString &text, const QString &informative)
{
    delete current_.data();
    auto *box = new QMessageBox(icon, QStringLiteral("Software Update"), text);
    box->setObjectName(QStringLiteral("updateDialog"));
    box->setInformativeText(informative);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowIcon(QApplication::windowIcon());
    current_ = box;
    return box;
}

void UpdateDialogs::show(QMessageBox *box)
{
    applyLook(box, look_ ? look_() : PanelLook::light);
    box->show();
}

void UpdateDialogs::showUpdateFound(const AppcastItem &item, const QString &currentVersion)
{
    const QString version = item.offeredVersion();
    QMessageBox *box = present(
        QMessageBox::Information, QStringLiteral("A new version of Pendrel Publisher is available!"),
        QStringLiteral("Pendrel Publisher %1 is now available \u2014 you have %2.").arg(version, currentVersion));
    const std::optional<QUrl> download = item.downloadURL();
    const std::optional<QUrl> notes = item.releaseNotesURL;
    if (download) {
        QPushButton *button = box->addButton(QStringLiteral("Download"), QMessageBox::AcceptRole);
        button->setObjectName(QStringLiteral("download"));
        box->setDefaultButton(button);
    }
    if (notes)
        box->addButton(QStringLiteral("Release Notes"), QMessageBox::ActionRole)
            ->setObjectName(QStringLiteral("releaseNotes"));
    box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole)->setObjectName(QStringLiteral("later"));
    QObject::connect(box, &QMessageBox::buttonClicked, box, [this, download, notes](QAbstractButton *button) {
        if (button->objectName() == u"download" && download)
            openURL_(*download);
        else if (button->objectName() == u"releaseNotes" && notes)
            openURL_(*notes);
    });
    show(box);
}

void UpdateDialogs::showUpToDate(const QString &currentVersion)
{
    QMessageBox *box =
        present(QMessageBox::Information, QStringLiteral("You're up to date!"),
                QStringLiteral("Pendrel Publisher %1 is currently the newest version available.").arg(currentVersion));
    box->addButton(QMessageBox::Ok);
    show(box);
}

void UpdateDialogs::showError(const QString &description)
{
    QMessageBox *box = present(QMessageBox::Warning, QStringLiteral("Update Error!"), description);
    box->addButton(QMessageBox::Ok);
    show(box);
}

} // namespace pendrel

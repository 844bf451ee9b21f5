#include "shell/UpdateDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>

namespace pendrel {

UpdateDialogs::UpdateDialogs(UrlHandler openURL) : openURL_(std::move(openURL))
{
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
    box->show();
}

void UpdateDialogs::showUpToDate(const QString &currentVersion)
{
    QMessageBox *box =
        present(QMessageBox::Information, QStringLiteral("You're up to date!"),
                QStringLiteral("Pendrel Publisher %1 is currently the newest version available.").arg(currentVersion));
    box->addButton(QMessageBox::Ok);
    box->show();
}

void UpdateDialogs::showError(const QString &description)
{
    QMessageBox *box = present(QMessageBox::Warning, QStringLiteral("Update Error!"), description);
    box->addButton(QMessageBox::Ok);
    box->show();
}

} // namespace pendrel

// Pendrel Publisher: a tray application that turns captured text into
// published articles.

#include "shell/PendrelPublisherApp.h"
#include "shell/SingleInstance.h"
#include "state/AppConfiguration.h"

#include <QApplication>
#include <QDir>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pendrel Publisher"));
    QApplication::setApplicationVersion(pendrel::AppConfiguration::shortVersion());
    QApplication::setDesktopFileName(QStringLiteral("com.pendrel.publisher"));
    // A tray application: closing the panel window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString bundle = pendrel::AppConfiguration::bundleIdentifier();
    pendrel::SingleInstance instance(
        QDir(pendrel::PersistenceStore::defaultBaseFolder()).filePath(QString(bundle).replace(u'.', u'-')),
        bundle);
    if (!instance.claim())
        return 0; // the running copy shows its panel

    pendrel::PendrelPublisherApp publisher;
    QObject::connect(&instance, &pendrel::SingleInstance::showPanelRequested, &publisher,
                     &pendrel::PendrelPublisherApp::showPanel);
    publisher.launch();
    return app.exec();
}

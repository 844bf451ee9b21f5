// pendrel-devservice: a local stand-in for the Pendrel content service.

#include "DevService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only the write is safe here; the event loop does the rest.
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pendrel-devservice"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A local content service for trying Pendrel Publisher."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port on 127.0.0.1 (0 picks a free one)."),
                                  QStringLiteral("port"), QStringLiteral("8787"));
    const QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QStringLiteral("Keep accounts and articles in this folder across restarts."), QStringLiteral("dir"));
    const QCommandLineOption latency(QStringLiteral("latency-ms"), QStringLiteral("Delay every API answer."),
                                     QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption tokenLifetime(QStringLiteral("token-lifetime"),
                                           QStringLiteral("Seconds an access token stays valid."),
                                           QStringLiteral("seconds"), QStringLiteral("3600"));
    const QCommandLineOption appcastVersion(QStringLiteral("appcast-version"),
                                            QStringLiteral("Newest version the update feed offers."),
                                            QStringLiteral("version"), QStringLiteral("1.0.0"));
    const QCommandLineOption fail(QStringLiteral("fail"),
                                  QStringLiteral("Answer PATH with STATUS (repeatable)."),
                                  QStringLiteral("PATH=STATUS"));
    parser.addOptions({port, dataDir, latency, tokenLifetime, appcastVersion, fail});
    parser.process(app);

    pendrel::dev::DevOptions options;
    bool ok = true;
    options.port = quint16(parser.value(port).toUInt(&ok));
    if (!ok)
        parser.showHelp(2);
    options.dataFolder = parser.value(dataDir);
    options.latencyMs = parser.value(latency).toInt();
    options.tokenLifetimeSeconds = parser.value(tokenLifetime).toLongLong();
    options.appcastVersion = parser.value(appcastVersion);
    for (const QString &rule : parser.values(fail)) {
        const QString path = rule.section(u'=', 0, 0);
        const int status = rule.section(u'=', 1).toInt();
        if (!path.startsWith(u'/') || status < 100 || status > 599) {
            std::fprintf(stderr, "pendrel-devservice: --fail wants PATH=STATUS, got %s\n", qPrintable(rule));
            return 2;
        }
        options.failures.insert(path, status);
    }

    pendrel::dev::DevService service(options);
    if (!service.start()) {
        std::fprintf(stderr, "pendrel-devservice: cannot listen on 127.0.0.1:%u\n", unsigned(options.port));
        return 1;
    }

    // SIGINT and SIGTERM end the event loop cleanly.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }

    std::fprintf(stdout, "pendrel-devservice listening on %s\n", qPrintable(service.origin()));
    std::fflush(stdout);
    const int code = app.exec();
    std::fprintf(stdout, "pendrel-devservice stopped\n");
    return code;
}

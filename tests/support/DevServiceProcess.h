#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace pendrel::test {

// The real pendrel-devservice, on a free port, for the length of a test.
class DevServiceProcess {
public:
    explicit DevServiceProcess(const QStringList &extra = {})
    {
        process_.setProgram(QStringLiteral(PENDREL_DEVSERVICE_PATH));
        process_.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extra);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        process_.waitForStarted();
        static const QRegularExpression listening(
            QStringLiteral("listening on (http://127\\.0\\.0\\.1:\\d+)"));
        (void)QTest::qWaitFor(
            [&] {
                output_ += QString::fromUtf8(process_.readAllStandardOutput());
                const auto m = listening.match(output_);
                if (m.hasMatch())
                    origin_ = m.captured(1);
                return !origin_.isEmpty() || process_.state() == QProcess::NotRunning;
            },
            10000);
    }
    ~DevServiceProcess()
    {
        process_.terminate(); // SIGTERM: it must stop cleanly
        if (!process_.waitForFinished(5000))
            process_.kill();
    }
    [[nodiscard]] const QString &origin() const { return origin_; }
    QProcess &process() { return process_; }

private:
    QProcess process_;
    QString output_;
    QString origin_;
};

struct Answer {
    int status = 0;
    QByteArray body;
};

inline Answer request(const QByteArray &method, const QString &url, const QByteArray &body = {},
               const QByteArray &bearer = {})
{
    QNetworkAccessManager network;
    QNetworkRequest r{QUrl(url)};
    r.setRawHeader("Content-Type", "application/json");
    if (!bearer.isEmpty())
        r.setRawHeader("Authorization", "Bearer " + bearer);
    QNetworkReply *reply = network.sendCustomRequest(r, method, body);
    (void)QTest::qWaitFor([&] { return reply->isFinished(); }, 15000);
    Answer a{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    delete reply;
    return a;
}

} // namespace pendrel::test

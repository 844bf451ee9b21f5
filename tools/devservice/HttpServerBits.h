#pragma once

#include <QByteArray>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QList>
#include <QPair>

// Small pieces both local HTTP servers (the development service and the
// tests' fake) need from Qt HttpServer's low-level interface.
namespace pendrel::http {

inline QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    default:
        return "OTHER";
    }
}

inline void writeReply(QHttpServerResponder &responder, int status, const QByteArray &contentType,
                       const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &body)
{
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
    if (!contentType.isEmpty())
        responder.writeHeader("Content-Type", contentType);
    for (const auto &[name, value] : headers)
        responder.writeHeader(name, value);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeBody(body);
}

} // namespace pendrel::http

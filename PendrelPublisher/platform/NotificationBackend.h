#pragma once

#include <QString>
#include <QVariantMap>

#include <QCoroTask>

namespace pendrel {

// One desktop notification, shown at once with the default sound.
struct NotificationRequest {
    QString identifier; // a later request with the same identifier replaces the earlier one
    QString title;
    QString body;
    // Read back when the user clicks it: "open_url" (text) or "open_panel" (true).
    QVariantMap userInfo;

    bool operator==(const NotificationRequest &) const = default;
};

// The desktop's notification service. Either call may throw; callers treat
// refusals and failures as silent.
class NotificationBackend {
public:
    virtual ~NotificationBackend() = default;
    // Asks to show alerts, play sounds and set badges.
    virtual QCoro::Task<void> requestAuthorization() = 0;
    virtual QCoro::Task<void> add(NotificationRequest request) = 0;
};

} // namespace pendrel

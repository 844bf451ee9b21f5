#pragma once

namespace pendrel {

// The desktop's registration of the application as a login item.
class LoginItemBackend {
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound, unavailable };

    virtual ~LoginItemBackend() = default;
    [[nodiscard]] virtual Status status() const = 0;
    // Both throw an Error describing why the desktop refused.
    virtual void registerItem() = 0;
    virtual void unregisterItem() = 0;
};

} // namespace pendrel

#include "shell/AccessibleTree.h"

#include "ui/PanelPieces.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace pendrel {

namespace {

// The objects of the application's windows, in the order Qt keeps them: a
// popup with a parent widget (a combo box's list, a button's menu) is
// reached through that widget, one without stands for itself.
QObjectList windowObjects()
{
    QObjectList objects;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (QWindow *window : windows) {
        if (window->type() == Qt::Desktop)
            continue;
        QAccessibleInterface *root = window->accessibleRoot();
        QObject *object = root ? root->object() : nullptr;
        if (!object)
            continue;
        if (window->type() == Qt::Popup) {
            const auto *widget = qobject_cast<QWidget *>(object);
            if (!widget || widget->parentWidget())
                continue;
        }
        objects.append(object);
    }
    return objects;
}

class Application : public QAccessibleApplication {
public:
    int childCount() const override { return int(windowObjects().size()); }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(windowObjects().indexOf(child->object())) : -1;
    }

    QAccessibleInterface *child(int index) const override
    {
        const QObjectList objects = windowObjects();
        return index >= 0 && index < objects.size() ? QAccessible::queryAccessibleInterface(objects.at(index))
                                                    : nullptr;
    }
};

// Asked for every class of an object, the most derived first. A widget in
// its destructor is asked as a plain QWidget, which is never matched here:
// no interface is made for a widget that is going away.
QAccessibleInterface *accessibleFor(const QString &className, QObject *object)
{
    if (object == qApp)
        return new Application;
    if (!object || !object->isWidgetType() || className == u"QWidget")
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (className == u"pendrel::PanelWindow")
        return new QAccessibleWidget(widget, QAccessible::Window);
    // A card is drawing only; as the frame Qt makes of a QFrame it would
    // read as a window of its own inside the panel.
    if (className == u"pendrel::PanelCard")
        return new QAccessibleWidget(widget, QAccessible::Client);
    if (className == QLatin1String(object->metaObject()->className())
        && widget->property(accessibleGroupProperty).toBool())
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    return nullptr;
}

} // namespace

void installAccessibleTree()
{
    QAccessible::installFactory(accessibleFor);
}

} // namespace pendrel

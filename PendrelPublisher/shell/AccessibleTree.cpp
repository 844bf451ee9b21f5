#include "shell/AccessibleTree.h"

#include "ui/PanelPieces.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QPointer>
#include <QApplication>
#include <QLabel>
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

// "Recent jobs" and "Logs": a button that shows or hides what belongs to
// it, presented by its expanded state rather than as a check box.
class Disclosure : public QAccessibleWidget {
public:
    explicit Disclosure(QWidget *widget) : QAccessibleWidget(widget, QAccessible::Button) {}

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        const bool open = button()->isChecked();
        s.expandable = true;
        s.expanded = open;
        s.collapsed = !open;
        return s;
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &name) override
    {
        if (name == pressAction() || name == toggleAction()) {
            if (button()->isEnabled())
                button()->click(); // as a click does: toggled, and the section follows
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

// Qt's bridge tells the bus "showing" for every widget a window shows,
// whatever the widget's accessible state says. A reader that already holds
// a help label's states (Orca, once it has read the panel, as with the tray
// popup that opens again and again) keeps that word and then reads the label
// among the panel's loose notes. Each time a help label is shown, the bus
// hears afterwards that it is not.
class DescriptionShowFilter : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Qt reports the show to the bus after this event: answer it later.
        if (event->type() == QEvent::Show) {
            QPointer<QWidget> label = static_cast<QWidget *>(watched);
            QMetaObject::invokeMethod(
                this,
                [label] {
                    if (label)
                        sendAtSpiStateChange(label, QStringLiteral("showing"), false);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

// A help text that a control has as its description: read with the control,
// not again on its own.
class Description : public QAccessibleWidget {
public:
    explicit Description(QWidget *widget) : QAccessibleWidget(widget, QAccessible::StaticText)
    {
        static auto *filter = new DescriptionShowFilter(qApp);
        widget->installEventFilter(filter); // installed once: Qt keeps one per object and filter
        // Made as Qt reports a show (a reader just came), after the show event.
        if (widget->isVisible()) {
            QEvent show(QEvent::Show);
            filter->eventFilter(widget, &show);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? static_cast<QLabel *>(widget())->text() : QAccessibleWidget::text(t);
    }
};

// A drop-down list: named by its label, its value the chosen entry's text.
// Qt names a combo box by its entry and gives it no text, and Orca 43 finds
// the entry neither in the closed list's selection nor anywhere else: it
// said "Size combo box" where it should say "Size, combo box, Mini". Orca
// reads a combo box's value from its text, so this one has a text: the entry.
class Picker : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit Picker(QWidget *widget) : QAccessibleWidget(widget, QAccessible::ComboBox) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface *>(this)
                                                  : QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return combo()->currentText();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = combo()->view()->isVisible();
        s.collapsed = !s.expanded;
        return s;
    }

    // The list that opens, as Qt has it.
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == combo()->view() ? 0 : -1;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override
    {
        if (name == showMenuAction() || name == pressAction()) {
            if (combo()->isEnabled())
                combo()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

    // The text: the chosen entry, read only.
    QString text(int startOffset, int endOffset) const override
    {
        return entry().mid(startOffset, endOffset < 0 ? -1 : endOffset - startOffset);
    }
    int characterCount() const override { return int(entry().size()); }
    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    QComboBox *combo() const { return static_cast<QComboBox *>(widget()); }
    QString entry() const { return combo()->currentText(); }
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
    // The sign-in button's place, which shows the button or a progress bar:
    // as Qt's "layered pane" Orca announced it before the button.
    if (className == u"QStackedWidget")
        return new QAccessibleWidget(widget, QAccessible::Client);
    if (className == u"QComboBox" && !static_cast<QComboBox *>(widget)->isEditable())
        return new Picker(widget);
    if (className == u"pendrel::DisclosureButton")
        return new Disclosure(widget);
    // Screen readers speak a notification as it appears.
    if (className == u"pendrel::PanelAnnouncement")
        return new QAccessibleWidget(widget, QAccessible::Notification);
    if (className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    if (widget->property(accessibleGroupProperty).toBool())
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    if (widget->property(accessibleDescribesProperty).toBool() && qobject_cast<QLabel *>(widget))
        return new Description(widget);
    return nullptr;
}

} // namespace

void installAccessibleTree()
{
    QAccessible::installFactory(accessibleFor);
}

bool holdGtkAccessibilityOut()
{
    // at-spi2-atk's bridge stays out of a process that has this set as GTK starts.
    if (qEnvironmentVariableIsSet("NO_AT_BRIDGE"))
        return false;
    qputenv("NO_AT_BRIDGE", "1");
    return true;
}

void releaseGtkAccessibility()
{
    qunsetenv("NO_AT_BRIDGE");
}

} // namespace pendrel

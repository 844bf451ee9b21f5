#include "model/ShortcutKeys.h"

#include <QStringList>

namespace pendrel {

namespace {

// Keys with a name of their own: Qt's key, the xkb/X keysym name (also
// GNOME's and the portal's), the X keysym, and the name people read.
struct NamedKey {
    Qt::Key key;
    const char *keysymName;
    quint32 keysym;
    const char *display;
};
constexpr NamedKey kNamedKeys[] = {
    {Qt::Key_Space, "space", 0x0020, "Space"},
    {Qt::Key_Minus, "minus", 0x002d, "-"},
    {Qt::Key_Equal, "equal", 0x003d, "="},
    {Qt::Key_Comma, "comma", 0x002c, ","},
    {Qt::Key_Period, "period", 0x002e, "."},
    {Qt::Key_Slash, "slash", 0x002f, "/"},
    {Qt::Key_Semicolon, "semicolon", 0x003b, ";"},
    {Qt::Key_Apostrophe, "apostrophe", 0x0027, "'"},
    {Qt::Key_BracketLeft, "bracketleft", 0x005b, "["},
    {Qt::Key_BracketRight, "bracketright", 0x005d, "]"},
    {Qt::Key_Backslash, "backslash", 0x005c, "\\"},
    {Qt::Key_QuoteLeft, "grave", 0x0060, "`"},
    {Qt::Key_Tab, "Tab", 0xff09, "Tab"},
    {Qt::Key_Return, "Return", 0xff0d, "Return"},
    {Qt::Key_Insert, "Insert", 0xff63, "Ins"},
    {Qt::Key_Delete, "Delete", 0xffff, "Del"},
    {Qt::Key_Home, "Home", 0xff50, "Home"},
    {Qt::Key_End, "End", 0xff57, "End"},
    {Qt::Key_PageUp, "Page_Up", 0xff55, "PgUp"},
    {Qt::Key_PageDown, "Page_Down", 0xff56, "PgDown"},
    {Qt::Key_Left, "Left", 0xff51, "Left"},
    {Qt::Key_Up, "Up", 0xff52, "Up"},
    {Qt::Key_Right, "Right", 0xff53, "Right"},
    {Qt::Key_Down, "Down", 0xff54, "Down"},
    {Qt::Key_Print, "Print", 0xff61, "Print"},
    {Qt::Key_Pause, "Pause", 0xff13, "Pause"},
};

const NamedKey *named(Qt::Key key)
{
    for (const NamedKey &k : kNamedKeys) {
        if (k.key == key)
            return &k;
    }
    return nullptr;
}

bool isLetter(int key) { return key >= Qt::Key_A && key <= Qt::Key_Z; }
bool isDigit(int key) { return key >= Qt::Key_0 && key <= Qt::Key_9; }
bool isFunctionKey(int key) { return key >= Qt::Key_F1 && key <= Qt::Key_F24; }

// A key's name in keysym notation ("s", "5", "F5", "Page_Up").
QString keysymName(Qt::Key key)
{
    if (isLetter(key))
        return QString(QChar(key)).toLower();
    if (isDigit(key))
        return QString(QChar(key));
    if (isFunctionKey(key))
        return QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1);
    if (const NamedKey *k = named(key))
        return QString::fromLatin1(k->keysymName);
    return {};
}

// The key a name stands for, in either notation, letters in any case.
std::optional<Qt::Key> keyNamed(QStringView name)
{
    if (name.size() == 1) {
        const QChar c = name[0].toUpper();
        if (isLetter(c.unicode()) || isDigit(c.unicode()))
            return Qt::Key(c.unicode());
    }
    if (name.size() >= 2 && (name[0] == u'F' || name[0] == u'f')) {
        bool ok = false;
        const int n = name.sliced(1).toInt(&ok);
        if (ok && n >= 1 && n <= 24)
            return Qt::Key(Qt::Key_F1 + n - 1);
    }
    for (const NamedKey &k : kNamedKeys) {
        if (name.compare(QLatin1StringView(k.keysymName), Qt::CaseInsensitive) == 0
            || name.compare(QLatin1StringView(k.display), Qt::CaseInsensitive) == 0)
            return k.key;
    }
    return std::nullopt;
}

std::optional<Qt::KeyboardModifier> modifierNamed(QStringView name)
{
    const QString n = name.toString().toLower();
    if (n == u"super" || n == u"meta" || n == u"mod4" || n == u"logo")
        return Qt::MetaModifier;
    if (n == u"shift")
        return Qt::ShiftModifier;
    if (n == u"ctrl" || n == u"control" || n == u"primary")
        return Qt::ControlModifier;
    if (n == u"alt" || n == u"mod1")
        return Qt::AltModifier;
    return std::nullopt;
}

// Modifiers in the order people write them: Ctrl+Alt+Super+Shift.
QString modifierText(Qt::KeyboardModifiers mods, const char *ctrl, const char *alt, const char *super,
                     const char *shift, bool wrap)
{
    QStringList parts;
    const std::pair<Qt::KeyboardModifier, const char *> order[] = {
        {Qt::ControlModifier, ctrl}, {Qt::AltModifier, alt}, {Qt::MetaModifier, super}, {Qt::ShiftModifier, shift}};
    for (const auto &[mod, name] : order) {
        if (mods & mod)
            parts << (wrap ? QStringLiteral("<%1>").arg(QLatin1StringView(name)) : QString::fromLatin1(name));
    }
    return parts.join(wrap ? QString() : QStringLiteral("+"));
}

} // namespace

ShortcutKeys::ShortcutKeys() : combination_(Qt::MetaModifier | Qt::ShiftModifier, Qt::Key_S) {}

ShortcutKeys::ShortcutKeys(QKeyCombination combination) : combination_(combination) {}

std::optional<ShortcutKeys> ShortcutKeys::fromText(QStringView text)
{
    const QList<QStringView> parts = text.trimmed().split(u'+');
    if (parts.size() < 2)
        return std::nullopt;
    Qt::KeyboardModifiers mods;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const std::optional<Qt::KeyboardModifier> mod = modifierNamed(parts[i].trimmed());
        if (!mod)
            return std::nullopt;
        mods |= *mod;
    }
    const std::optional<Qt::Key> key = keyNamed(parts.last().trimmed());
    if (!key)
        return std::nullopt;
    const ShortcutKeys keys(QKeyCombination(mods, *key));
    return keys.isUsable() ? std::optional(keys) : std::nullopt;
}

std::optional<ShortcutKeys> ShortcutKeys::fromGnomeAccelerator(QStringView accelerator)
{
    Qt::KeyboardModifiers mods;
    QStringView rest = accelerator.trimmed();
    while (rest.startsWith(u'<')) {
        const qsizetype end = rest.indexOf(u'>');
        if (end < 0)
            return std::nullopt;
        const std::optional<Qt::KeyboardModifier> mod = modifierNamed(rest.sliced(1, end - 1));
        if (!mod)
            return std::nullopt; // Hyper, Mod5 and the like: keys of another kind
        mods |= *mod;
        rest = rest.sliced(end + 1);
    }
    const std::optional<Qt::Key> key = keyNamed(rest);
    if (!key)
        return std::nullopt;
    return ShortcutKeys(QKeyCombination(mods, *key));
}

bool ShortcutKeys::isUsable() const
{
    const Qt::KeyboardModifiers mods = combination_.keyboardModifiers();
    if (!(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    if (mods & ~(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::ShiftModifier))
        return false;
    return !keysymName(combination_.key()).isEmpty();
}

QString ShortcutKeys::displayText() const
{
    const Qt::Key key = combination_.key();
    QString name;
    if (const NamedKey *k = named(key))
        name = QString::fromLatin1(k->display);
    else
        name = keysymName(key).toUpper();
    const QString mods = modifierText(combination_.keyboardModifiers(), "Ctrl", "Alt", "Super", "Shift", false);
    return mods.isEmpty() ? name : mods + u'+' + name;
}

QString ShortcutKeys::gnomeAccelerator() const
{
    return modifierText(combination_.keyboardModifiers(), "Control", "Alt", "Super", "Shift", true)
           + keysymName(combination_.key());
}

QString ShortcutKeys::swayKeys() const
{
    const QString mods = modifierText(combination_.keyboardModifiers(), "Ctrl", "Mod1", "Mod4", "Shift", false);
    return mods.isEmpty() ? keysymName(combination_.key()) : mods + u'+' + keysymName(combination_.key());
}

QString ShortcutKeys::portalTrigger() const
{
    const QString mods = modifierText(combination_.keyboardModifiers(), "CTRL", "ALT", "LOGO", "SHIFT", false);
    return mods.isEmpty() ? keysymName(combination_.key()) : mods + u'+' + keysymName(combination_.key());
}

quint32 ShortcutKeys::keysym() const
{
    const Qt::Key key = combination_.key();
    if (isLetter(key))
        return quint32(key) + 0x20; // the lower-case letter's keysym
    if (isDigit(key))
        return quint32(key);
    if (isFunctionKey(key))
        return 0xffbe + quint32(key - Qt::Key_F1);
    if (const NamedKey *k = named(key))
        return k->keysym;
    return 0;
}

} // namespace pendrel

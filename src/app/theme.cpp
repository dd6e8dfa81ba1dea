#include "theme.h"

#include "app_context.h"

#include <QQmlEngine>

namespace vernalo {

Theme::Theme(ColorScheme *scheme, QObject *parent)
    : QObject(parent)
    , m_scheme(scheme)
{
    if (scheme)
        connect(scheme, &ColorScheme::changed, this, &Theme::changed);
}

Theme *Theme::create(QQmlEngine *engine, QJSEngine *)
{
    return new Theme(AppContext::create(engine, nullptr)->colorScheme());
}

QColor Theme::speakerColor(const QString &speaker) const
{
    static const char *const lightSet[] = {"#1f63d6", "#b8326b", "#2c8a3a",
                                           "#a86400", "#6b46c1", "#0f7c80"};
    static const char *const darkSet[] = {"#7fb2ff", "#f59fc0", "#8fd694",
                                          "#f5c16c", "#c3a6ff", "#6fd3d6"};
    const size_t index = qHash(speaker) % std::size(lightSet);
    return QColor(dark() ? darkSet[index] : lightSet[index]);
}

} // namespace vernalo

#pragma once

#include "desktop/color_scheme.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

namespace vernalo {

// One look for every screen: an 8 px grid, the Inter face and a light and a dark palette that
// follow the desktop's colour scheme.
class Theme : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool dark READ dark NOTIFY changed)
    Q_PROPERTY(int unit READ unit CONSTANT)
    Q_PROPERTY(int radius READ radius CONSTANT)
    Q_PROPERTY(QString fontFamily READ fontFamily CONSTANT)
    Q_PROPERTY(QColor window READ window NOTIFY changed)
    Q_PROPERTY(QColor card READ card NOTIFY changed)
    Q_PROPERTY(QColor border READ border NOTIFY changed)
    Q_PROPERTY(QColor text READ text NOTIFY changed)
    Q_PROPERTY(QColor mutedText READ mutedText NOTIFY changed)
    Q_PROPERTY(QColor accent READ accent NOTIFY changed)
    Q_PROPERTY(QColor accentText READ accentText NOTIFY changed)
    Q_PROPERTY(QColor recording READ recording NOTIFY changed)
    Q_PROPERTY(QColor paused READ paused NOTIFY changed)
    Q_PROPERTY(QColor success READ success NOTIFY changed)
    Q_PROPERTY(QColor interim READ interim NOTIFY changed)
    Q_PROPERTY(QColor highlight READ highlight NOTIFY changed)
    Q_PROPERTY(QColor meterTrack READ meterTrack NOTIFY changed)
    Q_PROPERTY(QColor input READ input NOTIFY changed)
    Q_PROPERTY(QColor toast READ toast NOTIFY changed)
    Q_PROPERTY(QColor toastText READ toastText NOTIFY changed)
    // Bevel shades the Fusion style draws borders with.
    Q_PROPERTY(QColor light READ light NOTIFY changed)
    Q_PROPERTY(QColor midlight READ midlight NOTIFY changed)
    Q_PROPERTY(QColor shade READ shade NOTIFY changed)

public:
    explicit Theme(ColorScheme *scheme, QObject *parent = nullptr);
    static Theme *create(QQmlEngine *engine, QJSEngine *);

    bool dark() const { return m_scheme && m_scheme->isDark(); }
    static int unit() { return 8; }
    static int radius() { return 8; }
    static QString fontFamily() { return QStringLiteral("Inter"); }
    QColor window() const { return pick("#f4f5f7", "#17191c"); }
    QColor card() const { return pick("#ffffff", "#212429"); }
    QColor border() const { return pick("#dde0e5", "#363a41"); }
    QColor text() const { return pick("#1d2024", "#e8eaed"); }
    QColor mutedText() const { return pick("#5f6670", "#a0a6ae"); }
    QColor accent() const { return pick("#1f63d6", "#4d8ff0"); }
    QColor accentText() const { return QColor("#ffffff"); }
    QColor recording() const { return pick("#d42b2b", "#ff5c5c"); }
    QColor paused() const { return pick("#b7791f", "#f0b44c"); }
    QColor success() const { return pick("#1e8a50", "#57c98a"); }
    QColor interim() const { return pick("#7a818a", "#8f969f"); }
    QColor highlight() const { return pick("#ffe58a", "#6b5a12"); }
    QColor meterTrack() const { return pick("#e6e8ec", "#30343a"); }
    QColor input() const { return pick("#ffffff", "#1b1d21"); }
    QColor toast() const { return pick("#26292e", "#e8eaed"); }
    QColor toastText() const { return pick("#ffffff", "#17191c"); }
    QColor light() const { return pick("#ffffff", "#3a3f46"); }
    QColor midlight() const { return pick("#eceef1", "#30343a"); }
    QColor shade() const { return pick("#b9bec6", "#101214"); }

    // One speaker keeps one colour: picked from a small set by the label's characters.
    Q_INVOKABLE QColor speakerColor(const QString &speaker) const;

Q_SIGNALS:
    void changed();

private:
    QColor pick(const char *light, const char *dark) const
    {
        return QColor(this->dark() ? dark : light);
    }

    QPointer<ColorScheme> m_scheme;
};

} // namespace vernalo

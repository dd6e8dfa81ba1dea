#include "recording/status_line.h"

namespace vernalo {

StatusLine::StatusLine(QString text, QObject *parent)
    : QObject(parent)
    , m_text(std::move(text))
{ }

void StatusLine::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    emit textChanged();
}

void StatusLine::setHint(const QString &hint)
{
    if (m_hint == hint)
        return;
    m_hint = hint;
    emit hintChanged();
}

} // namespace vernalo

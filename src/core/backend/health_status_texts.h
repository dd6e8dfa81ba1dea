#pragma once

#include "wire/health_response.h"

#include <QString>

namespace vernalo {

// The texts the settings and the status line show about the backend's health answer.

// What the settings show about memo generation before any connection test.
QString memoAIStatusUnknownLabel();
// What they show after a failed connection test.
QString memoAIStatusConnectionErrorLabel();
// The memo capability label from a health answer: the newer "memoAI" fields win over the older
// top-level ones, field by field.
QString memoAIStatusLabel(const HealthResponse &health);
// The status line after a successful health call.
QString connectionTestStatusText(const HealthResponse &health);

} // namespace vernalo

#pragma once

#include <QString>

// The application-wide light theme. Widgets pick their look by object name
// (projectPanel, primaryButton, sideTabs, …), so those names are fixed.
QString applicationStyleSheet();

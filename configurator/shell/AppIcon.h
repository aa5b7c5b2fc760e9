#pragma once

#include <QIcon>

// The program's icon (resource 128), drawn in code.
QIcon appIcon();

#pragma once

// What the control object calls to show its face, its About box and its
// property page. Each is one call, so the control needs nothing else from
// this library.

#include "control/face/CRK40CommFace.h"

#include <QWidget>

#include <functional>

namespace rk40::face {

// A new face parented to `parent` (the container's widget), showing
// `statusBits`. `onClick` and `onDoubleClick` (either may be empty) run on
// the user's clicks and double-clicks. The parent owns the face.
CRK40CommFace* createFace(QWidget* parent, int statusBits, std::function<void()> onClick,
                          std::function<void()> onDoubleClick);

// Shows `statusBits` on `face` and repaints it; does nothing when `face` is
// null or not a face.
void showStatus(QWidget* face, int statusBits);

// Shows the About box modally over `parent`'s window (or on its own when
// `parent` is null) and returns when the user has closed it.
void showAboutBox(QWidget* parent);

// A new property page widget, parented to `parent`.
QWidget* createPropertyPage(QWidget* parent);

} // namespace rk40::face

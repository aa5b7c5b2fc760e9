#pragma once

// The texts of the control module's own resources: the class names shown by
// the registration, the property page caption and the About box. The module
// carries them itself; it does not use the configurator's resource tables.

#include <QString>

namespace rk40::face {

// String table identifiers.
namespace str {
enum : int {
    ControlName = 1,  // type name of the control class
    PropPageName = 2, // type name of the property page class
    General = 100,    // caption of the property page
};
} // namespace str

// The text of a string table entry; an empty text for an unknown identifier.
QString faceString(int id);

// Texts of the About box (dialog 1).
QString aboutCaption();
QString aboutTitleLine();
QString aboutSecondLine();
QString okButtonText();

// The placeholder text of the property page (dialog 100).
QString propPagePlaceholder();

} // namespace rk40::face

#pragma once

// Configuration files (".act"): thirty lines "AA HHHH" with CR LF, one per
// register word 10..39. Reading and writing work on the register image
// interface only, so they run without a window or a control.

#include "core/RegisterImage.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QIODevice;

namespace act {


// The thirty lines for the words 10..39, "%02d %04X" each ended by CR LF.
// A word whose text holds no hexadecimal number is written as 0000.
QByteArray formatImage(const image::IRegisterImage& image);

struct LoadResult {
    bool ok = true;         // false: an invalid line stopped the load
    int invalidLine = 0;    // 1-based number of that line, 0 when ok
    int wordsStored = 0;    // lines that took effect before the end or the stop
    QString reason;         // why the line was refused (for the log, not the user)
};

// Reads lines from the start of the device and stores every word line into
// the image until the end or the first invalid line; the lines before an
// invalid one take effect, the rest is not looked at.
//
// A word line is: optional blanks, the address as one or two decimal digits
// (10..39), blanks, and a value token of one to four hexadecimal digits,
// which is stored as the four-digit upper-case word it means ("12" becomes
// "0012", "abcd" becomes "ABCD"). Anything
// after the token is ignored. A line that does not start with a number (a
// blank line, for instance) changes nothing. A line is invalid when its address is outside 10..39 or not followed by a blank,
// when the token is missing, or is not made of one to four hexadecimal
// digits (a sign, a "0x" prefix or a fifth digit would otherwise be read
// as a different number than the one written), when the line is longer
// than kMaxLineLength, and when the very first line holds no word line
// (the file is then not a configuration file at all, and nothing changes). A UTF-8 byte order
// mark at the start is skipped.
LoadResult loadImage(QIODevice& device, image::IRegisterImage& image);

constexpr int kMaxLineLength = 1024;

// Replaces the file at path whole with the image's thirty lines: the lines
// go to a temporary file beside it, which is renamed over the old one only
// when everything was written, so a failure leaves the earlier file intact.
// Returns false with the reason in error when the file could not be written.
bool saveImageFile(const QString& path, const image::IRegisterImage& image, QString* error = nullptr);

} // namespace act

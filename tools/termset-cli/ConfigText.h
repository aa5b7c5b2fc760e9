#pragma once

// A register image in words, the way the eight pages show it: the page
// titles, row labels, column headers and field texts come from the same
// resources as the pages (so a language library changes them alike), and
// every field is decoded by the pages' own decoder.
//
// Row pages (readers, sensors, egress): one line a row with the four relay
// actions, the conditions of relays 1 and 2 and the registration flag. The
// LED page: one line a LED with its red and green pattern. The Random page:
// the frequency and the four touch contacts.
//
// Only fields are described: bits that belong to no field (bits 11, 14 and
// 15 of a row word, bits 4 to 7 of the random word) are ignored, so a
// configuration read back from a terminal, whose row words carry bit 15,
// reads the same as the file it was written from.

#include "core/PageLayout.h"
#include "core/RegisterImage.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace termsetcli {

// One field of the image in words.
struct FieldText {
    QString page;     // "Reader 1"
    QString row;      // "TB1"
    QString column;   // "RELAY 2 Action"
    QString value;    // "No effect"
    int address = 0;  // the word holding the field
};

// Every field of the image, page by page in tab order, row by row in page
// order, column by column.
std::vector<FieldText> describeFields(const image::IRegisterImage& image);

// The configuration as text: for each page its title and a table with the
// page's column headers and one line a row. Lines end with '\n'.
QString showText(const image::IRegisterImage& image);

// One line "page, row, column: old -> new" for every field whose text
// differs between a and b, in the order of describeFields. Empty when the
// configurations are the same.
QStringList diffLines(const image::IRegisterImage& a, const image::IRegisterImage& b);

// A page's title without its keyboard mnemonic: "Reader &1" gives
// "Reader 1", "&&" stays a single '&'.
QString withoutMnemonic(const QString& text);

} // namespace termsetcli

#include "ConfigText.h"

#include "core/FieldCodes.h"
#include "platform/resources/Resources.h"

#include <algorithm>
#include <functional>

namespace termsetcli {

namespace {

// Control identifiers of the texts on the row pages: relay headers 1..4,
// "Registration", the sub-headers "Action"/"If" of the six field columns.
constexpr int kRelayHeader = 2001;
constexpr int kRegistrationHeader = 2005;
constexpr int kSubHeader = 2011;

constexpr int kLedDialog = 212;
constexpr int kLedGroup = 2101;      // "LED 1".."LED 4"
constexpr int kRandomDialog = 141;
constexpr int kRandomHeading = 2201; // "Random output for RELAY 4:"
constexpr int kFrequencyLabel = 2202;
constexpr int kTouchGroup = 2204;    // "&Active Touch Contacts"
constexpr int kTouchContact = 1221;  // "TK1".."TK4"

// The page shows the red and the green light as coloured dots, not words.
const QString kRed = QStringLiteral("red");
const QString kGreen = QStringLiteral("green");

// Field selectors of the row columns in page order.
constexpr int kRowSelectors[] = {
    fields::kRelay1Action, fields::kRelay1Condition, fields::kRelay2Action, fields::kRelay2Condition,
    fields::kRelay3Action, fields::kRelay4Action,    fields::kRegistration,
};

// One page as a table: a title, header groups over the columns, the column
// sub-headers and the rows.
struct Table {
    QString title;
    struct Group {
        QString text;
        int span = 1;
    };
    std::vector<Group> groups;        // may be empty
    QStringList subHeaders;           // one per column
    QStringList columnNames;          // how a difference names the column
    struct Row {
        QString label;
        std::vector<int> addresses;   // the word of each column's field
        QStringList values;
    };
    std::vector<Row> rows;
};

QString dialogText(int dialogId, int controlId) { return resources::dialogText(dialogId, controlId); }

// A label as a name: no mnemonic, no closing colon.
QString asName(const QString& label)
{
    QString text = withoutMnemonic(label).trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text.trimmed();
}

Table rowPageTable(const image::IRegisterImage& image, const pagelayout::PageLayout& page)
{
    const int d = page.dialogId;
    Table t;
    t.title = withoutMnemonic(dialogText(d, 0));
    const QString relay[4] = {dialogText(d, kRelayHeader), dialogText(d, kRelayHeader + 1),
                              dialogText(d, kRelayHeader + 2), dialogText(d, kRelayHeader + 3)};
    const QString registration = dialogText(d, kRegistrationHeader);
    t.groups = {{relay[0], 2}, {relay[1], 2}, {relay[2], 1}, {relay[3], 1}, {registration, 1}};
    // Columns: relay 1 Action, If; relay 2 Action, If; relay 3 Action; relay 4 Action; Registration.
    const int relayOfColumn[] = {0, 0, 1, 1, 2, 3};
    for (int c = 0; c < 6; ++c) {
        const QString sub = dialogText(d, kSubHeader + c);
        t.subHeaders << sub;
        t.columnNames << relay[relayOfColumn[c]] + QLatin1Char(' ') + sub;
    }
    t.subHeaders << QString();
    t.columnNames << registration;

    for (const pagelayout::RowLayout& r : page.rows) {
        Table::Row row;
        QStringList label;
        if (r.number > 0)
            label << QString::number(r.number);
        if (r.labelId != 0)
            label << dialogText(d, r.labelId);
        row.label = label.join(QLatin1Char(' '));
        for (const int selector : kRowSelectors) {
            row.addresses.push_back(r.word);
            row.values << fields::GetRegisterField(image, r.word, selector);
        }
        t.rows.push_back(std::move(row));
    }
    return t;
}

Table ledTable(const image::IRegisterImage& image)
{
    Table t;
    t.title = withoutMnemonic(dialogText(kLedDialog, 0));
    t.subHeaders << kRed << kGreen;
    t.columnNames << kRed << kGreen;
    for (int led = 0; led < 4; ++led) {
        Table::Row row;
        row.label = withoutMnemonic(dialogText(kLedDialog, kLedGroup + led));
        // Selectors 7.. run green, red of LED 1, then green, red of LED 2, ...
        const int green = fields::kLed1Green + 2 * led;
        const int red = fields::kLed1Red + 2 * led;
        row.addresses = {image::kLedWord, image::kLedWord};
        row.values << fields::GetRegisterField(image, image::kLedWord, red)
                   << fields::GetRegisterField(image, image::kLedWord, green);
        t.rows.push_back(std::move(row));
    }
    return t;
}

Table randomTable(const image::IRegisterImage& image)
{
    Table t;
    t.title = withoutMnemonic(dialogText(kRandomDialog, 0));
    t.groups = {{QString(), 1}, {asName(dialogText(kRandomDialog, kTouchGroup)), 4}};
    const QString frequency = asName(dialogText(kRandomDialog, kFrequencyLabel));
    t.subHeaders << frequency;
    t.columnNames << frequency;
    Table::Row row;
    row.label = asName(dialogText(kRandomDialog, kRandomHeading));
    row.addresses.push_back(image::kRandomWord);
    row.values << fields::GetRegisterField(image, image::kRandomWord, fields::kFrequency);
    for (int k = 0; k < 4; ++k) {
        const QString contact = asName(dialogText(kRandomDialog, kTouchContact + k));
        t.subHeaders << contact;
        t.columnNames << contact;
        row.addresses.push_back(image::kRandomWord);
        row.values << fields::GetRegisterField(image, image::kRandomWord, fields::kTouchContact1 + k);
    }
    t.rows.push_back(std::move(row));
    return t;
}

std::vector<Table> tables(const image::IRegisterImage& image)
{
    std::vector<Table> out;
    for (const pagelayout::PageLayout& page : pagelayout::rowPages())
        out.push_back(rowPageTable(image, page));
    out.push_back(ledTable(image));
    out.push_back(randomTable(image));
    return out;
}

QString padded(const QString& text, qsizetype width) { return text.leftJustified(width, QLatin1Char(' ')); }

constexpr qsizetype kGap = 2;  // blanks between columns

QString renderTable(const Table& t)
{
    const qsizetype columns = t.subHeaders.size();
    qsizetype labelWidth = 0;
    for (const Table::Row& row : t.rows)
        labelWidth = std::max(labelWidth, row.label.size());
    std::vector<qsizetype> width(static_cast<std::size_t>(columns), 0);
    for (qsizetype c = 0; c < columns; ++c) {
        auto& w = width[static_cast<std::size_t>(c)];
        w = t.subHeaders[c].size();
        for (const Table::Row& row : t.rows)
            w = std::max(w, row.values.value(c).size());
    }
    // A header wider than the columns it stands over widens its last column.
    qsizetype first = 0;
    for (const Table::Group& g : t.groups) {
        qsizetype span = 0;
        for (qsizetype c = first; c < first + g.span && c < columns; ++c)
            span += width[static_cast<std::size_t>(c)] + (c > first ? kGap : 0);
        const qsizetype last = std::min(first + g.span, columns) - 1;
        if (last >= 0 && g.text.size() > span)
            width[static_cast<std::size_t>(last)] += g.text.size() - span;
        first += g.span;
    }

    auto line = [&](const QString& label, const std::function<QString(qsizetype)>& cell) {
        QString text = QStringLiteral("  ") + padded(label, labelWidth);
        for (qsizetype c = 0; c < columns; ++c)
            text += QString(kGap, QLatin1Char(' ')) + padded(cell(c), width[static_cast<std::size_t>(c)]);
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        return text + QLatin1Char('\n');
    };

    QString out = t.title + QLatin1Char('\n');
    if (!t.groups.empty()) {
        QString text = QStringLiteral("  ") + padded(QString(), labelWidth);
        qsizetype c = 0;
        for (const Table::Group& g : t.groups) {
            qsizetype span = 0;
            for (qsizetype k = c; k < c + g.span && k < columns; ++k)
                span += width[static_cast<std::size_t>(k)] + (k > c ? kGap : 0);
            text += QString(kGap, QLatin1Char(' ')) + padded(g.text, span);
            c += g.span;
        }
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        out += text + QLatin1Char('\n');
    }
    out += line(QString(), [&](qsizetype c) { return t.subHeaders[c]; });
    for (const Table::Row& row : t.rows)
        out += line(row.label, [&](qsizetype c) { return row.values.value(c); });
    return out;
}

} // namespace

QString withoutMnemonic(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

std::vector<FieldText> describeFields(const image::IRegisterImage& image)
{
    std::vector<FieldText> out;
    for (const Table& t : tables(image)) {
        for (const Table::Row& row : t.rows) {
            for (qsizetype c = 0; c < row.values.size(); ++c)
                out.push_back({t.title, row.label, t.columnNames.value(c), row.values[c],
                               row.addresses[static_cast<std::size_t>(c)]});
        }
    }
    return out;
}

QString showText(const image::IRegisterImage& image)
{
    QString out;
    bool first = true;
    for (const Table& t : tables(image)) {
        if (!first)
            out += QLatin1Char('\n');
        first = false;
        out += renderTable(t);
    }
    return out;
}

QStringList diffLines(const image::IRegisterImage& a, const image::IRegisterImage& b)
{
    const std::vector<FieldText> before = describeFields(a);
    const std::vector<FieldText> after = describeFields(b);
    QStringList out;
    // Both lists come from the same layout, field for field.
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
        if (before[i].value == after[i].value)
            continue;
        out << QStringLiteral("%1, %2, %3: %4 -> %5")
                   .arg(before[i].page, before[i].row, before[i].column, before[i].value, after[i].value);
    }
    return out;
}

} // namespace termsetcli

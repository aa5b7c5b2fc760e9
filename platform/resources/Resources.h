#pragma once

// User-visible texts by identifier: the string table, the texts of dialog
// controls and of menu entries. A loaded language library is asked first;
// whatever it lacks comes from the built-in English tables.

#include <QString>
#include <map>
#include <memory>
#include <tuple>

namespace resources {

enum class Kind { String, Dialog, Menu };

struct Key {
    Kind kind = Kind::String;
    int id = 0;   // string id, dialog id or menu id
    int sub = 0;  // dialog: control id (0 = caption); menu: command id
    bool operator<(const Key& o) const { return std::tie(kind, id, sub) < std::tie(o.kind, o.id, o.sub); }
    bool operator==(const Key& o) const { return kind == o.kind && id == o.id && sub == o.sub; }
};

using Table = std::map<Key, QString>;

// A source of translated resources (a language library).
class ILanguageProvider {
public:
    virtual ~ILanguageProvider() = default;
    // The text, or a null QString when the provider lacks it.
    virtual QString lookup(const Key& key) const = 0;
};

// Makes a provider the first place texts are looked up (nullptr: English only).
void setLanguageProvider(std::shared_ptr<const ILanguageProvider> provider);
std::shared_ptr<const ILanguageProvider> languageProvider();

QString text(const Key& key);            // provider, then English; empty if neither has it
QString loadString(int id);
QString dialogText(int dialogId, int controlId);  // controlId 0: the caption
QString menuText(int menuId, int commandId);

// The built-in English tables (every *.tsv compiled into the program).
const Table& englishTable();

// Parses a plain text table. Lines: "string<TAB>id<TAB>text",
// "dialog<TAB>id<TAB>control<TAB>text", "menu<TAB>id<TAB>command<TAB>text";
// '#' starts a comment line; in texts \n, \t and \\ are escapes.
// Returns false with a message naming the first bad line.
bool parseTable(const QString& source, Table& into, QString* error = nullptr);

} // namespace resources

#pragma once

// A page of event rows (readers, sensors, egress inputs). Every row is one
// row word of the image: four relay actions, the conditions of relays 1 and
// 2, and the registration flag. The page loads all its rows when it becomes
// active and stores a row's word at every change of one of its fields.

#include "pages/ConfigPage.h"

#include <array>
#include <vector>

class CActionEdit;
class CConditionEdit;
class QCheckBox;

// Columns of a row, in page order.
enum RowColumn : int { kR1Action, kR1If, kR2Action, kR2If, kR3Action, kR4Action, kRegistration, kColumnCount };

// The control identifiers of a row's fields, by column.
using RowIds = std::array<int, kColumnCount>;

struct RowSpec {
    int word;      // address of the row word
    RowIds ids;
};

// The rows of row page `page` (pagelayout::rowPages()): the words of the
// layout with the given identifiers, one set a row in the same order.
std::vector<RowSpec> rowsOf(int page, const std::vector<RowIds>& ids);

// Where the grid goes, in dialog units.
struct GridSpec {
    std::array<int, kColumnCount> colX;
    std::array<int, kColumnCount> colW;
    int frameTop;     // top of the relay group frames
    int headerTop;    // relay headers and "Registration"
    int subHeaderTop; // "Action" / "If"
    int hintTop;      // the keyboard hint below the grid
};

// Control identifiers of the grid's static texts (the same on every row page).
namespace rowtext {
constexpr int kRelayHeader = 2001;   // 2001..2004: relays 1..4
constexpr int kRegistration = 2005;
constexpr int kSubHeader = 2011;     // 2011..2016: Action, If, Action, If, Action, Action
constexpr int kRowLabel = 2021;      // 2021..: one per row label
constexpr int kHint = 2030;
}

class CRowPage : public CConfigPage {
    Q_OBJECT
public:
    // Fills every field of the page from its row words.
    void LoadFields() override;
    // Writes the row word `address` from the row's fields into the image;
    // an address that is not a row of this page is ignored.
    void StoreRow(int address);

protected:
    CRowPage(int dialogId, CRK40TKPropPage* reader1, QWidget* parent);
    // Makes the frames, headers, fields and hint; rows[i] sits at rowY[i].
    // rowCaptions[i] names row i in the fields' accessible names (by default
    // the text of the row's label).
    void buildGrid(const GridSpec& grid, const std::vector<RowSpec>& rows, const std::vector<int>& rowY,
                   const QStringList& rowCaptions = {});

private:
    struct Row {
        int word = 0;
        std::array<CActionEdit*, 4> actions{};
        std::array<CConditionEdit*, 2> conditions{};
        QCheckBox* registration = nullptr;
    };
    std::vector<Row> m_rows;
};

#include "pages/RowPage.h"

#include "core/PageLayout.h"

#include "pages/CyclingEdit.h"
#include "core/FieldCodes.h"

#include <QCheckBox>
#include <QLabel>

#include <algorithm>

namespace {
constexpr int kFieldHeight = 12;
constexpr int kCheckHeight = 8;
constexpr int kTextHeight = 9;
constexpr int kFrameMargin = 2;
} // namespace

CRowPage::CRowPage(int dialogId, CRK40TKPropPage* reader1, QWidget* parent) : CConfigPage(dialogId, reader1, parent) {}

void CRowPage::buildGrid(const GridSpec& g, const std::vector<RowSpec>& rows, const std::vector<int>& rowY,
                         const QStringList& rowCaptions)
{
    const int lastBottom = rowY.empty() ? g.subHeaderTop + kTextHeight : rowY.back() + kFieldHeight;
    const int frameBottom = lastBottom + 4;

    // One frame per relay: relays 1 and 2 span their Action and If
    // columns, relays 3 and 4 their single Action column.
    const std::array<std::pair<std::size_t, std::size_t>, 4> relayCols{{{kR1Action, kR1If}, {kR2Action, kR2If}, {kR3Action, kR3Action}, {kR4Action, kR4Action}}};
    for (int r = 0; r < 4; ++r) {
        const auto [first, last] = relayCols[static_cast<std::size_t>(r)];
        const int left = g.colX[first] - kFrameMargin;
        const int right = g.colX[last] + g.colW[last] + kFrameMargin;
        addFrame(left, g.frameTop, right - left, frameBottom - g.frameTop);
        addLabel(rowtext::kRelayHeader + r, left, g.headerTop, right - left, kTextHeight, Qt::AlignCenter);
    }
    // "Registration" is wider than its column: centre it over the box.
    const int regCentre = g.colX[kRegistration] + g.colW[kRegistration] / 2;
    addLabel(rowtext::kRegistration, regCentre - 26, g.headerTop, 52, kTextHeight, Qt::AlignCenter);
    for (std::size_t c = kR1Action; c <= kR4Action; ++c)
        addLabel(rowtext::kSubHeader + static_cast<int>(c), g.colX[c], g.subHeaderTop, g.colW[c], kTextHeight, Qt::AlignCenter);

    for (std::size_t i = 0; i < rows.size() && i < rowY.size(); ++i) {
        const RowSpec& spec = rows[i];
        const int y = rowY[i];
        Row row;
        row.word = spec.word;
        const std::array<std::size_t, 4> actionCols{kR1Action, kR2Action, kR3Action, kR4Action};
        for (std::size_t k = 0; k < 4; ++k) {
            const std::size_t c = actionCols[k];
            auto* edit = new CActionEdit(spec.ids[c], this);
            edit->setGeometry(units().rect(g.colX[c], y, g.colW[c], kFieldHeight));
            row.actions[k] = edit;
        }
        const std::array<std::size_t, 2> ifCols{kR1If, kR2If};
        for (std::size_t k = 0; k < 2; ++k) {
            const std::size_t c = ifCols[k];
            auto* edit = new CConditionEdit(spec.ids[c], static_cast<int>(k) + 1, this);
            edit->setGeometry(units().rect(g.colX[c], y, g.colW[c], kFieldHeight));
            row.conditions[k] = edit;
        }
        auto* box = new QCheckBox(this);
        box->setObjectName(QString::number(spec.ids[kRegistration]));
        // The box alone, centred in its column.
        const QRect cell = units().rect(g.colX[kRegistration], y + (kFieldHeight - kCheckHeight) / 2,
                                        g.colW[kRegistration], kCheckHeight);
        QSize hint = box->sizeHint();
        hint.setHeight(std::max(hint.height(), cell.height()));
        box->setGeometry(QRect(QPoint(cell.center().x() - hint.width() / 2 + 1, cell.center().y() - hint.height() / 2 + 1), hint));
        row.registration = box;

        // "Reader 1, T1, RELAY1 Action": page, row, relay and column, as the
        // captions around the field show them.
        const QString rowCaption = i < static_cast<std::size_t>(rowCaptions.size())
            ? rowCaptions[static_cast<qsizetype>(i)]
            : text(rowtext::kRowLabel + static_cast<int>(i));
        const auto columnName = [&](std::size_t c) {
            const int relay = c <= kR1If ? 0 : c <= kR2If ? 1 : c == kR3Action ? 2 : 3;
            return text(rowtext::kRelayHeader + relay) + QLatin1Char(' ') + text(rowtext::kSubHeader + static_cast<int>(c));
        };
        for (std::size_t k = 0; k < 4; ++k)
            nameField(row.actions[k], {rowCaption, columnName(actionCols[k])});
        for (std::size_t k = 0; k < 2; ++k)
            nameField(row.conditions[k], {rowCaption, columnName(ifCols[k])});
        nameField(box, {rowCaption, text(rowtext::kRegistration)});

        const int word = spec.word;
        for (CActionEdit* e : row.actions)
            connect(e, &QLineEdit::textChanged, this, [this, word] { if (!isLoading()) StoreRow(word); });
        for (CConditionEdit* e : row.conditions)
            connect(e, &QLineEdit::textChanged, this, [this, word] { if (!isLoading()) StoreRow(word); });
        connect(box, &QCheckBox::clicked, this, [this, word] { if (!isLoading()) StoreRow(word); });
        m_rows.push_back(row);
    }

    addLabel(rowtext::kHint, g.colX[kR1Action], g.hintTop, g.colX[kRegistration] + g.colW[kRegistration] - g.colX[kR1Action],
             kTextHeight, Qt::AlignLeft | Qt::AlignVCenter);

    // Tab order: row by row, left to right.
    QWidget* previous = nullptr;
    for (const Row& row : m_rows) {
        const std::array<QWidget*, kColumnCount> order{row.actions[0], row.conditions[0], row.actions[1], row.conditions[1],
                                                       row.actions[2], row.actions[3], row.registration};
        for (QWidget* w : order) {
            if (previous)
                setTabOrder(previous, w);
            previous = w;
        }
    }
}

void CRowPage::LoadFields()
{
    LoadingScope loading(*this);
    for (const Row& row : m_rows) {
        for (std::size_t k = 0; k < 4; ++k)
            row.actions[k]->setText(field(row.word, fields::kRelay1Action + static_cast<int>(k)));
        const QString reg = field(row.word, fields::kRegistration);
        if (reg == fields::kTrue)
            row.registration->setChecked(true);
        else if (reg == fields::kFalse)
            row.registration->setChecked(false);
        row.conditions[0]->setText(field(row.word, fields::kRelay1Condition));
        row.conditions[1]->setText(field(row.word, fields::kRelay2Condition));
    }
}

void CRowPage::StoreRow(int address)
{
    for (const Row& row : m_rows) {
        if (row.word != address)
            continue;
        setModified();
        fields::RowFields f;
        for (std::size_t k = 0; k < 4; ++k)
            f.actions[k] = fields::FieldTextToCode(row.actions[k]->text());
        f.registration = row.registration->isChecked();
        f.conditions[0] = fields::FieldTextToCode(row.conditions[0]->text());
        f.conditions[1] = fields::FieldTextToCode(row.conditions[1]->text());
        storeWord(address, fields::EncodeRow(f));
        return;
    }
}

std::vector<RowSpec> rowsOf(int page, const std::vector<RowIds>& ids)
{
    const std::vector<pagelayout::RowLayout>& rows = pagelayout::rowPages().at(static_cast<std::size_t>(page)).rows;
    std::vector<RowSpec> out;
    for (std::size_t r = 0; r < rows.size() && r < ids.size(); ++r)
        out.push_back({rows[r].word, ids[r]});
    return out;
}

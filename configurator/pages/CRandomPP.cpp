#include "pages/CRandomPP.h"

#include "core/FieldCodes.h"
#include "platform/ui/Prompt.h"
#include "platform/resources/Resources.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

namespace {
constexpr int kHeadingId = 2201;
constexpr int kFrequencyLabelId = 2202;
constexpr int kRangeLabelId = 2203;
constexpr int kGroupId = 2204;
constexpr int kNeedIntegerString = 61712;
constexpr int kNeedRangeString = 61713;
constexpr int kMinFrequency = 0;
constexpr int kMaxFrequency = 255;
} // namespace

CRandomPP::CRandomPP(CRK40TKPropPage& reader1, QWidget* parent) : CConfigPage(kDialogId, &reader1, parent)
{
    setTemplateSize(294, 134);
    addLabel(kHeadingId, 12, 10, 200, 10);

    QLabel* label = addLabel(kFrequencyLabelId, 24, 34, 44, 10);
    m_frequency = new QLineEdit(this);
    m_frequency->setObjectName(QString::number(kFrequencyId));
    m_frequency->setGeometry(units().rect(70, 32, 36, 13));
    label->setBuddy(m_frequency);
    nameField(m_frequency, {text(kFrequencyLabelId), text(kRangeLabelId)});
    addLabel(kRangeLabelId, 110, 34, 40, 10);

    auto* group = new QGroupBox(text(kGroupId), this);
    group->setObjectName(QString::number(kGroupId));
    group->setGeometry(units().rect(18, 56, 170, 40));
    group->lower();
    for (int k = 0; k < 4; ++k) {
        auto* box = new QCheckBox(text(kFirstTouchContactId + k), this);
        box->setObjectName(QString::number(kFirstTouchContactId + k));
        box->setGeometry(units().rect(30 + 40 * k, 74, 34, 10));
        nameField(box, {text(kGroupId), text(kFirstTouchContactId + k)});
        m_touch[static_cast<std::size_t>(k)] = box;
        connect(box, &QCheckBox::clicked, this, [this] { if (!isLoading()) StoreRandom(); });
    }
    connect(m_frequency, &QLineEdit::textChanged, this, [this] { if (!isLoading()) StoreRandom(); });
    setTabOrder(m_frequency, m_touch[0]);
    for (std::size_t k = 1; k < 4; ++k)
        setTabOrder(m_touch[k - 1], m_touch[k]);
    LoadFields();
}

CRandomPP::FrequencyCheck CRandomPP::checkFrequency(const QString& text, int* value)
{
    static const QRegularExpression integer(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    if (!integer.match(text).hasMatch())
        return FrequencyCheck::NotAnInteger;
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    // A number too long even for 64 bits is still out of range.
    if (!ok || v < kMinFrequency || v > kMaxFrequency)
        return FrequencyCheck::OutOfRange;
    if (value)
        *value = static_cast<int>(v);
    return FrequencyCheck::Valid;
}

bool CRandomPP::pullFrequency(int* value)
{
    const FrequencyCheck check = checkFrequency(m_frequency->text(), value);
    if (check == FrequencyCheck::Valid)
        return true;
    const QString message = check == FrequencyCheck::NotAnInteger
        ? resources::loadString(kNeedIntegerString)
        : resources::loadString(kNeedRangeString).arg(kMinFrequency).arg(kMaxFrequency);
    ui::prompter().message(this, message, ui::Look::Stop);
    // Back to the box, its text selected, so the next keys replace it.
    m_frequency->setFocus();
    m_frequency->selectAll();
    return false;
}

void CRandomPP::LoadFields()
{
    LoadingScope loading(*this);
    m_frequency->setText(QString::number(field(image::kRandomWord, fields::kFrequency).toInt()));
    for (int k = 0; k < 4; ++k)
        m_touch[static_cast<std::size_t>(k)]->setChecked(field(image::kRandomWord, fields::kTouchContact1 + k).toInt() != 0);
}

void CRandomPP::StoreRandom()
{
    setModified();
    fields::RandomFields f;
    if (!pullFrequency(&f.frequency))
        return;
    for (std::size_t k = 0; k < 4; ++k)
        f.touchContacts[k] = m_touch[k]->isChecked();
    storeWord(image::kRandomWord, fields::EncodeRandom(f));
}

bool CRandomPP::OnKillActive()
{
    int value = 0;
    return pullFrequency(&value);
}

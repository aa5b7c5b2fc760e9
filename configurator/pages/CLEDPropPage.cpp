#include "pages/CLEDPropPage.h"

#include "pages/CyclingEdit.h"
#include "core/FieldCodes.h"
#include "pages/Pictures.h"

#include <QGroupBox>

namespace {
constexpr std::array<int, 4> kRedIds{1195, 1198, 1199, 1200};
constexpr std::array<int, 4> kGreenIds{1196, 1197, 1091, 1095};
constexpr std::array<int, 4> kGreenSelectors{fields::kLed1Green, fields::kLed2Green, fields::kLed3Green, fields::kLed4Green};
constexpr std::array<int, 4> kRedSelectors{fields::kLed1Red, fields::kLed2Red, fields::kLed3Red, fields::kLed4Red};
constexpr int kGroupId = 2101;  // 2101..2104: the groups "LED 1".."LED 4"
constexpr int kRedText = 2105;  // colour words of the accessible names
constexpr int kGreenText = 2106;

constexpr int kGroupW = 99, kGroupH = 60;
constexpr int kFieldW = 46, kFieldH = 12;
} // namespace

CLEDPropPage::CLEDPropPage(CRK40TKPropPage& reader1, QWidget* parent) : CConfigPage(kDialogId, &reader1, parent)
{
    setTemplateSize(209, 138);
    for (int n = 0; n < 4; ++n) {
        // LED 1 top left, LED 2 top right, LED 3 bottom left, LED 4 bottom right.
        const int gx = n % 2 == 0 ? 4 : 106;
        const int gy = n < 2 ? 6 : 72;
        auto* group = new QGroupBox(text(kGroupId + n), this);
        group->setObjectName(QString::number(kGroupId + n));
        group->setGeometry(units().rect(gx, gy, kGroupW, kGroupH));
        group->lower();

        const int leftX = gx + 2, rightX = gx + kGroupW - 2 - kFieldW;
        const int fieldY = gy + 40;
        addPicture(pictures::kRedDot, leftX + kFieldW / 2 - 8, gy + 14, 16, 20);
        addPicture(pictures::kGreenDot, rightX + kFieldW / 2 - 8, gy + 14, 16, 20);
        const auto i = static_cast<std::size_t>(n);
        m_red[i] = new CLEDEdit(kRedIds[i], this);
        m_red[i]->setGeometry(units().rect(leftX, fieldY, kFieldW, kFieldH));
        m_green[i] = new CLEDEdit(kGreenIds[i], this);
        m_green[i]->setGeometry(units().rect(rightX, fieldY, kFieldW, kFieldH));
        // "LED, LED 1, Red": the colour is a picture above the field.
        nameField(m_red[i], {text(kGroupId + n), text(kRedText)});
        nameField(m_green[i], {text(kGroupId + n), text(kGreenText)});
    }
    QWidget* previous = nullptr;
    for (std::size_t i = 0; i < 4; ++i) {
        for (QWidget* w : {static_cast<QWidget*>(m_red[i]), static_cast<QWidget*>(m_green[i])}) {
            connect(static_cast<QLineEdit*>(w), &QLineEdit::textChanged, this, [this] { if (!isLoading()) StoreLed(); });
            if (previous)
                setTabOrder(previous, w);
            previous = w;
        }
    }
    LoadFields();
}

void CLEDPropPage::LoadFields()
{
    LoadingScope loading(*this);
    for (std::size_t i = 0; i < 4; ++i) {
        m_green[i]->setText(field(image::kLedWord, kGreenSelectors[i]));
        m_red[i]->setText(field(image::kLedWord, kRedSelectors[i]));
    }
}

void CLEDPropPage::StoreLed()
{
    setModified();
    fields::LedFields f;
    for (std::size_t i = 0; i < 4; ++i) {
        f.red[i] = fields::FieldTextToCode(m_red[i]->text());
        f.green[i] = fields::FieldTextToCode(m_green[i]->text());
    }
    storeWord(image::kLedWord, fields::EncodeLed(f));
}

#include "pages/ConfigPage.h"

#include "pages/CRK40TKPropPage.h"
#include "core/FieldCodes.h"
#include "pages/Pictures.h"
#include "platform/resources/Resources.h"

#include <QFrame>
#include <QLabel>
#include <QTimer>

CConfigPage::CConfigPage(int dialogId, CRK40TKPropPage* reader1, QWidget* parent)
    : CPropertyPage(dialogId, resources::dialogText(dialogId, 0), parent), m_reader1(reader1), m_units(font())
{
    setObjectName(QString::number(dialogId));
}

CRK40Comm& CConfigPage::comm() const { return m_reader1->comm(); }

QString CConfigPage::field(int address, int selector) const
{
    return fields::GetRegisterField(comm(), address, selector);
}

void CConfigPage::storeWord(int address, std::uint16_t value)
{
    // A word the control did not take: the page shows the image again
    // rather than an edit that is not in it (after the handler that made
    // the edit has returned).
    if (!comm().trySetWord(address, image::formatWord(value)))
        QTimer::singleShot(0, this, [this] { LoadFields(); });
}

QString CConfigPage::text(int controlId) const { return resources::dialogText(dialogId(), controlId); }

void CConfigPage::setTemplateSize(int width, int height)
{
    setMinimumSize(m_units.size(width, height));
    resize(minimumSize());
}

QLabel* CConfigPage::addLabel(int controlId, int x, int y, int w, int h, Qt::Alignment align)
{
    auto* label = new QLabel(text(controlId), this);
    label->setObjectName(QString::number(controlId));
    // Texts such as "<Up>" are words, not markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(align);
    label->setGeometry(m_units.rect(x, y, w, h));
    return label;
}

QLabel* CConfigPage::addPicture(int bitmapId, int x, int y, int w, int h)
{
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("bitmap%1").arg(bitmapId));
    const QRect r = m_units.rect(x, y, w, h);
    label->setGeometry(r);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(pictures::picture(bitmapId, r.size()));
    return label;
}

QFrame* CConfigPage::addFrame(int x, int y, int w, int h)
{
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setGeometry(m_units.rect(x, y, w, h));
    frame->lower();
    return frame;
}

namespace {
// A caption as a screen reader should say it: without the mnemonic marker
// ("&&" is a literal ampersand) and without a trailing colon.
QString plainText(QString text)
{
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    text = text.trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}
} // namespace

QString CConfigPage::plainCaption() const { return plainText(text(0)); }

void CConfigPage::nameField(QWidget* field, const QStringList& parts) const
{
    QStringList words{plainCaption()};
    for (const QString& part : parts) {
        const QString word = plainText(part);
        if (!word.isEmpty())
            words << word;
    }
    field->setAccessibleName(words.join(QStringLiteral(", ")));
}

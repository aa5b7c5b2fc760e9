#pragma once

// What the eight configuration pages share: the way to the register image
// (the control hosted by the Reader 1 page), the decoding of one field, the
// storing of one word, a guard that keeps loading from storing, and the
// helpers that place labels, frames and pictures on the dialog-unit grid.

#include "pages/DialogUnits.h"
#include "pages/PropertyPage.h"

#include <cstdint>

class CRK40Comm;
class CRK40TKPropPage;
class QFrame;
class QLabel;

class CConfigPage : public CPropertyPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CConfigPage)
public:
    // Whether a field of this page was changed since it was made.
    bool isModified() const { return m_modified; }
    void setModified(bool modified = true) { m_modified = modified; }

    CRK40TKPropPage& reader1() const { return *m_reader1; }

protected:
    // reader1 may be the page being made (the Reader 1 page itself); it is
    // not used before the derived constructor runs.
    CConfigPage(int dialogId, CRK40TKPropPage* reader1, QWidget* parent);

    CRK40Comm& comm() const;
    // GetRegisterField over the image in the Reader 1 page's control.
    QString field(int address, int selector) const;
    // Puts the word into the image as four upper-case hexadecimal digits.
    void storeWord(int address, std::uint16_t value);

    bool isLoading() const { return m_loading; }
    // Set while fields are filled from the image: their change signals
    // must not store anything.
    class LoadingScope {
    public:
        explicit LoadingScope(CConfigPage& page) : m_page(page), m_was(page.m_loading) { page.m_loading = true; }
        ~LoadingScope() { m_page.m_loading = m_was; }
        LoadingScope(const LoadingScope&) = delete;
        LoadingScope& operator=(const LoadingScope&) = delete;

    private:
        CConfigPage& m_page;
        bool m_was;
    };

    const DialogUnits& units() const { return m_units; }
    // This dialog's text for a control (0: the caption).
    QString text(int controlId) const;
    // The caption without its mnemonic marker ("Reader &1" -> "Reader 1"),
    // the first part of every field's accessible name.
    QString plainCaption() const;
    // Gives a field the accessible name "<page>, <part>, <part>..." built from
    // the captions around it, as a screen reader announces it.
    void nameField(QWidget* field, const QStringList& parts) const;
    // Sets the page's size from the template size in dialog units.
    void setTemplateSize(int width, int height);
    // A static text with the control's text, named by its identifier.
    QLabel* addLabel(int controlId, int x, int y, int w, int h, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
    // A picture drawn to fit the rectangle, named "bitmap<id>".
    QLabel* addPicture(int bitmapId, int x, int y, int w, int h);
    // A sunken frame drawn behind the controls placed later.
    QFrame* addFrame(int x, int y, int w, int h);

private:
    CRK40TKPropPage* m_reader1;
    DialogUnits m_units;
    bool m_loading = false;
    bool m_modified = false;
};

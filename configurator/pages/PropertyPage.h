#pragma once

// Base of the eight configuration pages. The main sheet shows one page at a
// time: it asks the page it leaves (OnKillActive, which may refuse) and
// tells the page it shows (OnSetActive, which reloads the fields).

#include <QWidget>

class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    CPropertyPage(int dialogId, const QString& title, QWidget* parent = nullptr)
        : QWidget(parent), m_dialogId(dialogId), m_title(title) {}

    int dialogId() const { return m_dialogId; }
    // The tab title ("Reader &1"), with its mnemonic.
    QString title() const { return m_title; }

    // Reloads every field from the register image.
    virtual void LoadFields() = 0;
    virtual void OnSetActive() { LoadFields(); }
    // Returns false to keep the page showing (e.g. an invalid entry).
    virtual bool OnKillActive() { return true; }

private:
    int m_dialogId;
    QString m_title;
};

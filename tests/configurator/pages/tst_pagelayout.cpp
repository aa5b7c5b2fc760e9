// The pages as a user sees them: everything inside the page, no field on
// top of another, no text cut off and pictures drawn. make screenshots
// saves a picture of each page.

#include "PageFixture.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <algorithm>

using namespace testpages;

namespace {

bool hasInk(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage();
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 128)
                ++opaque;
    return opaque > image.width() * image.height() / 10;
}

} // namespace

class TestPageLayout : public QObject {
    Q_OBJECT
    PageSet* m_set = nullptr;

private slots:
    void initTestCase()
    {
        m_set = new PageSet;
        // Some variety, so the pictures show real texts.
        m_set->setWord(10, "3159");
        m_set->setWord(30, "2A02");
        m_set->setWord(11, "0004");
        m_set->setWord(34, "0100");
        for (int a = 12; a <= 29; ++a)
            m_set->setWord(a, image::formatWord(static_cast<std::uint16_t>((a * 0x0937) & 0x37FF)));
        m_set->setWord(38, "C6E1");
        m_set->setWord(39, "1E05");
    }
    void cleanupTestCase() { delete m_set; }

    void page_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QString>("name");
        QTest::newRow("Reader 1") << 206 << "reader1";
        QTest::newRow("Reader 2") << 209 << "reader2";
        QTest::newRow("Reader 3") << 210 << "reader3";
        QTest::newRow("Reader 4") << 211 << "reader4";
        QTest::newRow("Sensors") << 208 << "sensors";
        QTest::newRow("Egress") << 207 << "egress";
        QTest::newRow("LED") << 212 << "led";
        QTest::newRow("Random") << 141 << "random";
    }
    void page()
    {
        QFETCH(int, dialog);
        QFETCH(QString, name);
        CPropertyPage* page = m_set->page(dialog);
        QVERIFY(page);
        page->show();
        page->OnSetActive();
        QVERIFY(QTest::qWaitForWindowExposed(page));
        const QRect area(QPoint(0, 0), page->minimumSize());

        const QString dir = qEnvironmentVariable("TERMSET_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            QDir().mkpath(dir);
            QVERIFY(page->grab(area).save(QDir(dir).filePath(name + ".png")));
        }

        QList<QWidget*> inputs;
        for (QWidget* w : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!w->isVisible())
                continue;
            QVERIFY2(area.contains(w->geometry()), qPrintable(w->objectName() + " lies outside the page"));
            if (qobject_cast<QLineEdit*>(w) || qobject_cast<QCheckBox*>(w))
                inputs << w;
            if (auto* label = qobject_cast<QLabel*>(w)) {
                if (!label->text().isEmpty()) {
                    QCOMPARE(label->textFormat(), Qt::PlainText);
                    QVERIFY2(label->sizeHint().width() <= label->width() + 1,
                             qPrintable(label->objectName() + " cuts off \"" + label->text() + "\""));
                }
                if (label->objectName().startsWith("bitmap"))
                    QVERIFY2(hasInk(label->pixmap()), qPrintable(label->objectName() + " draws nothing"));
            }
            if (auto* box = qobject_cast<QCheckBox*>(w); box && !box->text().isEmpty())
                QVERIFY2(box->sizeHint().width() <= box->width() + 1, qPrintable(box->text() + " is cut off"));
        }
        for (int i = 0; i < inputs.size(); ++i)
            for (int j = i + 1; j < inputs.size(); ++j)
                QVERIFY2(!inputs[i]->geometry().intersects(inputs[j]->geometry()),
                         qPrintable(inputs[i]->objectName() + " overlaps " + inputs[j]->objectName()));
        // The field texts fit their boxes.
        for (auto* e : page->findChildren<CCyclingEdit*>()) {
            const int room = e->contentsRect().width() - 4;
            QVERIFY2(e->fontMetrics().horizontalAdvance(e->text()) <= room, qPrintable(e->objectName() + ": " + e->text()));
        }
    }

    // Every field a user can reach has a name built from the captions
    // around it, unique on its page, and Tab visits the fields row by row.
    void accessibleNames_data()
    {
        QTest::addColumn<int>("dialogId");
        QTest::addColumn<int>("fieldId");
        QTest::addColumn<QString>("name");
        QTest::newRow("reader action") << 206 << 1039 << "Reader 1, T1, RELAY1 Action";
        QTest::newRow("reader condition") << 211 << 1335 << "Reader 4, TC4, RELAY 2 If";
        QTest::newRow("reader registration") << 209 << 1093 << "Reader 2, TB2, Registration";
        QTest::newRow("sensor row") << 208 << 1336 << "Sensors, 1, Closed, RELAY 2 If";
        QTest::newRow("egress row") << 207 << 1355 << "Egress, 4, Registration";
        QTest::newRow("LED colour") << 212 << 1091 << "LED, LED 3, Green";
        QTest::newRow("random frequency") << 141 << 1219 << "Random, Frequency, (0-255)";
        QTest::newRow("touch contact") << 141 << 1223 << "Random, Active Touch Contacts, TK3";
    }
    void accessibleNames()
    {
        QFETCH(int, dialogId);
        QFETCH(int, fieldId);
        QFETCH(QString, name);
        CPropertyPage* page = m_set->page(dialogId);
        QWidget* field = control<QWidget>(page, fieldId);
        QVERIFY(field);
        QCOMPARE(field->accessibleName(), name);

        QStringList names;
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractButton*>(w))
                continue;
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName() + " has no name"));
            QVERIFY2(!names.contains(w->accessibleName()), qPrintable(w->accessibleName() + " twice"));
            names << w->accessibleName();
        }
        // Tab order: from the first field, top to bottom and left to right.
        QList<QWidget*> fields;
        for (QWidget* w : page->findChildren<QWidget*>())
            if (w->focusPolicy() & Qt::TabFocus && !qobject_cast<QLabel*>(w) && w->isVisibleTo(page))
                fields << w;
        std::sort(fields.begin(), fields.end(), [](QWidget* a, QWidget* b) {
            // Rows: fields whose tops lie within half a field of each other.
            if (std::abs(a->y() - b->y()) > a->height() / 2)
                return a->y() < b->y();
            return a->x() < b->x();
        });
        // What Tab does: the next widget in the focus chain that takes Tab.
        const auto next = [&](QWidget* w) {
            do
                w = w->nextInFocusChain();
            while (!fields.contains(w) && w != page);
            return w;
        };
        for (qsizetype i = 1; i < fields.size(); ++i)
            QVERIFY2(next(fields[i - 1]) == fields[i],
                     qPrintable(fields[i - 1]->accessibleName() + " is not followed by " + fields[i]->accessibleName()));
    }
};

QTEST_MAIN(TestPageLayout)
#include "tst_pagelayout.moc"

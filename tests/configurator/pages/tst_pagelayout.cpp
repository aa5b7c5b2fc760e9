// The pages as a user sees them: everything inside the page, no field on
// top of another, no text cut off, headers over their columns and pictures
// drawn. make screenshots saves a picture of each page.

#include "PageFixture.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <climits>

using namespace testpages;

namespace {

int centreX(const QWidget* w) { return w->geometry().center().x(); }

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
            m_set->setWord(a, fields::formatWord(static_cast<std::uint16_t>((a * 0x0937) & 0x37FF)));
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

        auto* rows = dynamic_cast<CRowPage*>(page);
        if (!rows)
            return;
        // Headers over their columns: each sub-header and relay header is
        // centred over the fields of its column(s) in the first row.
        // Columns from left to right along the first row.
        QList<QWidget*> row;
        int top = INT_MAX;
        for (QWidget* w : inputs)
            top = std::min(top, w->geometry().center().y());
        for (QWidget* w : inputs)
            if (std::abs(w->geometry().center().y() - top) <= 2)
                row << w;
        std::sort(row.begin(), row.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
        QCOMPARE(row.size(), 7);
        for (int c = 0; c < 6; ++c) {
            QLabel* sub = control<QLabel>(page, rowtext::kSubHeader + c);
            QVERIFY(sub);
            QVERIFY2(std::abs(centreX(sub) - centreX(row[c])) <= 2, qPrintable(sub->text()));
            QVERIFY(sub->geometry().bottom() < row[c]->y());
        }
        const std::array<std::pair<int, int>, 4> spans{{{0, 1}, {2, 3}, {4, 4}, {5, 5}}};
        for (int r = 0; r < 4; ++r) {
            QLabel* header = control<QLabel>(page, rowtext::kRelayHeader + r);
            const auto [first, last] = spans[static_cast<std::size_t>(r)];
            const int mid = (row[first]->geometry().left() + row[last]->geometry().right()) / 2;
            QVERIFY2(std::abs(centreX(header) - mid) <= 3, qPrintable(header->text()));
        }
        QLabel* reg = control<QLabel>(page, rowtext::kRegistration);
        QVERIFY(std::abs(centreX(reg) - centreX(row[6])) <= 4);
        // Rows line up: every column's fields share their left edge.
        for (QWidget* w : inputs) {
            bool aligned = false;
            for (QWidget* head : row)
                aligned = aligned || head->x() == w->x();
            QVERIFY2(aligned, qPrintable(w->objectName() + " is off the grid"));
        }
        QVERIFY(rows->rowWords().size() * 7 == std::size_t(inputs.size()));
    }
};

QTEST_MAIN(TestPageLayout)
#include "tst_pagelayout.moc"

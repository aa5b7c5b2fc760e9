// The terminal operations over a scripted control: what they call in which
// order, what they give back to the control, the clock text. The frames
// themselves are pinned by the end-to-end tests of termset-cli.

#include "terminalops/TerminalClock.h"
#include "terminalops/TerminalOps.h"

#include "StubControl.h"

#include <QTest>

#include <algorithm>
#include <deque>
#include <map>

namespace {

namespace d = terminalops::dispid;

// A terminal's table behind the dispatch interface: members answer from a
// script of result codes (0 when it runs out), keys taken change the table,
// and every method call is kept.
class ScriptedControl final : public testsupport::StubControl {
public:
    std::map<int, std::deque<int>> results;   // per DISPID
    std::map<int, QVariant> properties;
    terminalops::KeyList table;
    QStringList calls;                        // "DISPID(args)"

    component::InvokeResult invoke(int dispid, component::InvokeKind kind, const QVariantList& args) override
    {
        if (kind != component::InvokeKind::Method) {
            if (kind == component::InvokeKind::PropertyPut)
                properties[dispid] = args.value(0);
            return {component::S_OK, properties[dispid], {}};
        }
        QStringList shown;
        for (const QVariant& a : args)
            shown << a.toString();
        calls << QStringLiteral("%1(%2)").arg(dispid).arg(shown.join(','));
        auto& queue = results[dispid];
        int code = queue.empty() ? 0 : queue.front();
        if (!queue.empty())
            queue.pop_front();
        const auto at = std::find_if(table.begin(), table.end(), [&](const auto& k) { return k.id == args.value(0); });
        if (dispid == d::kResetCurrTx)
            m_next = 0;
        if (dispid == d::kRxIdtElement && code == 0) {
            if (m_next >= table.size())
                return {component::S_OK, QVariant(qint16(4)), {}};
            properties[d::kIdtElement] = table[m_next].id;
            properties[d::kCurrWeektype] = QString::asprintf("%02d", table[m_next++].access);
        }
        if (dispid == d::kKillIdElement && code == 0 && at != table.end())
            table.erase(at);
        if (dispid == d::kAddIdElement && code == 0)
            table.push_back({args.value(0).toString(), args.value(1).toInt(), {}});
        return {component::S_OK, QVariant(qint16(code)), {}};
    }

private:
    std::size_t m_next = 0;
};

} // namespace

Q_DECLARE_METATYPE(std::deque<int>)

class TerminalOpsTest : public QObject {
    Q_OBJECT

private slots:
    // A listing starts the table over and gives IDTPrevRx back afterwards,
    // so that a collector's day- and week-type uploads go on where they were.
    void listingRestoresPrevRx()
    {
        ScriptedControl c;
        c.properties[d::kIdtPrevRx] = qint16(41);
        c.table = {{"0123456789abcd", 7, {}}};
        terminalops::TerminalOps ops(c);
        const terminalops::KeyListing listing = ops.listKeys();
        QVERIFY(listing.result.ok());
        QCOMPARE(listing.keys, (terminalops::KeyList{{"0123456789ABCD", 7, {}}}));
        QCOMPARE(c.calls, (QStringList{"28()", "30()", "30()", "34()"}));
        QCOMPARE(c.properties[d::kIdtPrevRx].toInt(), 41);
    }

    // Removals go before additions; a refused key is named and the rest
    // still sent; a terminal that stops answering ends the sync.
    void sync_data()
    {
        QTest::addColumn<std::deque<int>>("addResults");
        QTest::addColumn<QStringList>("keyCalls");
        QTest::addColumn<int>("refused");
        QTest::addColumn<bool>("listedAgain");
        const QStringList all{"23(11111111111111,5)", "23(22222222222222,1)", "18(22222222222222,2)",
                              "18(33333333333333,3)"};
        QTest::newRow("all taken") << std::deque<int>{} << all << 0 << true;
        QTest::newRow("one refused") << std::deque<int>{-3} << all << 1 << true;
        QTest::newRow("terminal gone") << std::deque<int>{1} << all.mid(0, 3) << 1 << false;
    }
    void sync()
    {
        QFETCH(std::deque<int>, addResults);
        QFETCH(QStringList, keyCalls);
        QFETCH(int, refused);
        QFETCH(bool, listedAgain);
        ScriptedControl c;
        c.table = {{"11111111111111", 5, {}}, {"22222222222222", 1, {}}};
        c.results[d::kAddIdElement] = addResults;
        terminalops::TerminalOps ops(c);
        const terminalops::SyncOutcome out = ops.syncKeys({{"22222222222222", 2, {}}, {"33333333333333", 3, {}}});
        QStringList sent;
        for (const QString& call : c.calls)
            if (call.startsWith("18(") || call.startsWith("23("))
                sent << call;
        QCOMPARE(sent, keyCalls);
        QCOMPARE(int(out.refused.size()), refused);
        QCOMPARE(c.calls.count("28()"), listedAgain ? 2 : 1);
        QCOMPARE(out.equal, refused == 0);
    }

    void clockText_data()
    {
        QTest::addColumn<QString>("rtc");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("status form") << "08.01.03 07:09" << QDateTime(QDate(2003, 1, 8), QTime(7, 9));
        QTest::newRow("weekday left in") << "31.12.26507:59" << QDateTime(QDate(2026, 12, 31), QTime(7, 59));
        QTest::newRow("no such day") << "31.02.03 07:09" << QDateTime();
        QTest::newRow("no clock") << "Error" << QDateTime();
    }
    void clockText()
    {
        QFETCH(QString, rtc);
        QFETCH(QDateTime, expected);
        QCOMPARE(terminalops::parseTerminalClock(rtc).value_or(QDateTime()), expected);
    }
};

QTEST_GUILESS_MAIN(TerminalOpsTest)
#include "tst_terminalops.moc"

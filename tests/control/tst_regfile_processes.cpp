// Two programs, each with its own control and terminal, append on-line
// blocks to one register file at the same time: every block must land whole,
// none lost, none interleaved with the other's.

#include "TestEnvironment.h"

#include "rk40sim/Terminal.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <map>
#include <thread>

namespace {

constexpr int kRecordsPerBlock = 20;
constexpr auto kRunFor = std::chrono::seconds(4);

// ddmmy hhmm source card(8) terminal: the card names the terminal, the
// block and the record, so that the file can be checked line by line.
std::string record(char terminal, int block, int index)
{
    char card[24];
    std::snprintf(card, sizeof card, "%c%03d%04d", terminal, block % 1000, index);
    return std::string("06012") + "1015" + "2" + card + "1";
}

} // namespace

class RegisterFileProcessesTest : public QObject {
    Q_OBJECT
private slots:
    void twoProgramsAppendWholeBlocks()
    {
        testsupport::TestEnvironment env;
        QString error;
        QVERIFY2(env.registerControl(&error), qPrintable(error));
        const QString file = env.path("shared-reg.txt");

        rk40sim::Terminal a, b;
        std::vector<QProcess*> programs;
        for (auto* t : {&a, &b}) {
            auto* p = new QProcess(this);
            QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
            e.insert("RK40_COM1", QString::fromStdString(t->slavePath()));
            e.insert("QT_QPA_PLATFORM", "offscreen");
            p->setProcessEnvironment(e);
            p->start(testsupport::TestEnvironment::programFolder() + "/rk40ctl", {});
            QVERIFY(p->waitForStarted(30000));
            p->write(QString("put AsciiFileName \"%1\"\nput WorkOnLine TRUE\nInitTerminal 0\nwait 60000\n")
                         .arg(file).toUtf8());
            programs.push_back(p);
        }
        // Both controls are listening once each has said InitTerminal = TRUE.
        std::map<QProcess*, QByteArray> output;
        auto listening = [&](QProcess* p) {
            output[p] += p->readAllStandardOutput();
            return output[p].contains("InitTerminal = TRUE") || p->state() != QProcess::Running;
        };
        for (auto* p : programs)
            QTRY_VERIFY_WITH_TIMEOUT(listening(p), 30000);
        for (auto* p : programs)
            QCOMPARE(p->state(), QProcess::Running);

        // Each terminal sends blocks as fast as they are taken, for a while.
        std::map<char, int> acked;
        auto feed = [&](rk40sim::Terminal& t, char name) {
            const auto end = std::chrono::steady_clock::now() + kRunFor;
            for (int block = 0; std::chrono::steady_clock::now() < end; ++block) {
                std::vector<std::string> records;
                for (int i = 0; i < kRecordsPerBlock; ++i)
                    records.push_back(record(name, block, i));
                // A loaded machine may take seconds to answer: the terminal
                // waits long enough that every block it gives up on is a
                // block the control did not take.
                rk40sim::BlockOptions options;
                options.answerTimeout = std::chrono::seconds(30);
                t.sendOnlineBlock('S', records, options);
                if (!t.waitBlockDone(std::chrono::seconds(20)))
                    break;
                if (t.lastBlockAnswer() == rk40sim::BlockAnswer::Ack)
                    ++acked[name];
            }
        };
        std::thread fa(feed, std::ref(a), 'A');
        std::thread fb(feed, std::ref(b), 'B');
        // The controls hand blocks to their programs' own threads; this one
        // only has to wait.
        fa.join();
        fb.join();
        // A block is acknowledged before it is appended: wait until each
        // program has reported every acknowledged block as appended.
        const char names[] = {'A', 'B'};
        auto reported = [&](QProcess* p) {
            output[p] += p->readAllStandardOutput();
            return int(output[p].count("event RxRegs("));
        };
        for (int k = 0; k < 2; ++k)
            QTRY_VERIFY_WITH_TIMEOUT(reported(programs[size_t(k)]) >= acked[names[k]], 30000);
        // A block is appended before it is reported: wait until the file holds
        // exactly the blocks reported, so that none is between the two.
        auto reportedLines = [&] { return qint64(reported(programs[0]) + reported(programs[1])) * kRecordsPerBlock; };
        auto fileLines = [&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? qint64(f.readAll().count('\n')) : qint64(-1);
        };
        QTRY_COMPARE_WITH_TIMEOUT(fileLines(), reportedLines(), 30000);
        for (auto* p : programs) {
            p->kill();  // the script is still waiting; every block is in the file
            p->waitForFinished(30000);
        }
        QVERIFY(acked['A'] > 0 && acked['B'] > 0);
        // On a loaded machine the simulator may give up waiting for an ACK
        // that the control did send: such a block is in the file too (a real
        // terminal would send it again). What the controls reported as
        // appended is what the file must hold.
        std::map<char, int> appended;
        for (int k = 0; k < 2; ++k) {
            appended[names[k]] = reported(programs[size_t(k)]);
            QVERIFY(appended[names[k]] >= acked[names[k]]);
        }

        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray all = f.readAll();
        const QList<QByteArray> lines = all.split('\n');
        QVERIFY(all.endsWith("\r\n"));
        std::map<char, int> blocksSeen;
        int i = 0;
        const int count = int(lines.size()) - 1;  // after the last CR LF
        QCOMPARE(count, (appended['A'] + appended['B']) * kRecordsPerBlock);
        while (i < count) {
            // A block: kRecordsPerBlock consecutive lines of one terminal and
            // one block number, records 0..n-1 in order.
            const QByteArray first = lines[i];
            QVERIFY2(first.size() == 20 && first.endsWith('\r'), first.constData());
            const char terminal = first[10];
            const int block = first.mid(11, 3).toInt();
            for (int r = 0; r < kRecordsPerBlock; ++r, ++i) {
                QVERIFY2(i < count, "a block was cut short");
                QCOMPARE(lines[i], QByteArray::fromStdString(record(terminal, block, r)) + '\r');
            }
            ++blocksSeen[terminal];
        }
        QCOMPARE(blocksSeen['A'], appended['A']);
        QCOMPARE(blocksSeen['B'], appended['B']);
    }
};

QTEST_GUILESS_MAIN(RegisterFileProcessesTest)
#include "tst_regfile_processes.moc"

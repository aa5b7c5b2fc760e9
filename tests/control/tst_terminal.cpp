// The control's members against the terminal simulator, end to end over a
// pseudo-terminal: what the terminal receives, what it answers, and what
// the members return and store.

#include "control/ctrl/CRK40CommCtrl.h"
#include "ControlTestSupport.h"
#include "RecordingPrompter.h"
#include "TestBytes.h"
#include "TestEnvironment.h"

#include <rk40sim/Terminal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace rk40;
using namespace testsupport;
using rk40sim::Fault;

namespace {

// Files of this process may grow to `bytes` only while it lives: a write
// past the limit is cut short or fails (EFBIG) as on a full disk.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{bytes, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
    rlimit old{};
};

// A sink that cancels the display of the error notification.
struct CancellingSink : RecordingSink {
    void onEventByRef(int dispid, const QString& name, QVariantList& args) override
    {
        onEvent(dispid, name, args);
        if (dispid == eventid::Error)
            args[CRK40CommCtrl::kErrorCancelDisplay] = true;
    }
};
} // namespace

class TestTerminal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_env = std::make_unique<TestEnvironment>(); }

    void init()
    {
        QFile::remove(m_env->path("reg.txt"));
        m_sim = std::make_unique<rk40sim::Terminal>();
        qputenv("RK40_COM1", QByteArray::fromStdString(m_sim->slavePath()));
        m_ctrl = std::make_unique<CRK40CommCtrl>();
        m_ctrl->setClock([] { return QDateTime(QDate(2003, 1, 5), QTime(7, 9)); });
        m_sink.events.clear();
        m_sink.onFired = nullptr;
        m_ctrl->advise(&m_sink);
    }

    void cleanup()
    {
        m_ctrl->unadvise(&m_sink);
        m_ctrl.reset();
        m_sim.reset();
    }

    void tricklingBlockEndsByItsDeadline()
    {
        QVERIFY(openControl(true));
        // A byte every 250 ms never lets the line fall silent; the block's 60
        // bytes would take 15 s. Its deadline at 9600 baud is about 6.3 s.
        const auto deadline = TerminalLink::exchangeDeadline(TerminalLink::kReceiveByteBudget, 9600);
        QVERIFY(deadline < std::chrono::seconds(7));
        rk40sim::BlockOptions o;
        o.byteGap = std::chrono::milliseconds(250);
        QElapsedTimer t;
        t.start();
        m_sim->sendOnlineBlock('S', {eventRecord(1), eventRecord(2), eventRecord(3)}, o);
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::ErrMessage), 1, 30000);
        QVERIFY2(t.elapsed() >= deadline.count(), qPrintable(QString::number(t.elapsed())));
        QCOMPARE(get(*m_ctrl, dispid::ErrCode).toInt(), 64); // as silence
        QVERIFY(m_sim->waitBlockDone(std::chrono::seconds(30)));
        // The whole block would have ended later than the deadline did.
        QVERIFY(t.elapsed() >= 15000);
    }

    void removalOnLine()
    {
        QVERIFY(openControl(true));
        QVERIFY(m_ctrl->receptionRunning());
        m_sim->disconnectNow();
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::ErrMessage), 1, 10000);
        QCOMPARE(get(*m_ctrl, dispid::ErrCode).toInt(), int(CRK40CommCtrl::kErrDeviceRemoved));
        QVERIFY(!m_ctrl->receptionRunning());
        QVERIFY(m_ctrl->failureReason().startsWith("the device was removed"));

        // The device is back (a new pseudo-terminal for COM1): no restart needed.
        m_sim = std::make_unique<rk40sim::Terminal>();
        qputenv("RK40_COM1", QByteArray::fromStdString(m_sim->slavePath()));
        m_sim->setWord(10, 0x8C41);
        m_sim->setLowerCaseHex(true);
        QVERIFY(openControl(true));
        QVERIFY(m_ctrl->failureReason().isEmpty());
        QVERIFY(m_ctrl->receptionRunning());
        QCOMPARE(call(*m_ctrl, dispid::ReadEEPR, {i2(10)}).toInt(), 0);
        QCOMPARE(getAt(*m_ctrl, dispid::EepromLoc, 10).toString(), QString("8c41"));
        QCOMPARE(call(*m_ctrl, dispid::WriteEEPR, {i2(11), 32768}).toInt(), 0);
        QCOMPARE(m_sim->word(11), std::uint16_t(0x8000));
    }

    void removalDuringAnExchange_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<int>("dispid");
        QTest::addColumn<int>("result");
        // The result each member gives for an unanswered exchange.
        QTest::newRow("ReadEEPR") << 'a' << int(dispid::ReadEEPR) << -3;
        QTest::newRow("TxDayType") << 't' << int(dispid::TxDayType) << -1;
    }

    void removalDuringAnExchange()
    {
        QFETCH(char, letter);
        QFETCH(int, dispid);
        QVERIFY(openControl(false));
        m_sim->injectFault({Fault::Disconnect, 1, letter});
        const QVariantList args = letter == 'a' ? QVariantList{i2(10)} : QVariantList{QString("01000000")};
        QElapsedTimer t;
        t.start();
        QTEST(call(*m_ctrl, dispid, args).toInt(), "result");
        // Neither the attempt budget nor the wait for a result character is
        // spent on a device that is gone (the simulator lingers up to 1 s
        // before it closes).
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(m_ctrl->failureReason().startsWith("the device was removed"));
    }

    void addAndKillElements()
    {
        QVERIFY(openControl(false));
        QCOMPARE(call(*m_ctrl, dispid::AddIDElement, {QString("0123456789ABCD"), i2(5)}).toInt(), 0);
        QCOMPARE(m_sim->idTable(), (std::vector<rk40sim::IdElement>{{"CDAB8967452301", 5}}));
        QCOMPARE(call(*m_ctrl, dispid::KillIDElement, {QString("0123456789ABCD"), i2(0x25)}).toInt(), 0);
        QVERIFY(m_sim->idTable().empty());

        // A full 16-digit identifier goes by its first 14 digits; a kill takes
        // the low five bits of any access byte.
        m_sim->clearReceived();
        QCOMPARE(call(*m_ctrl, dispid::AddIDElement, {QString("0123456789ABCDEF"), i2(5)}).toInt(), 0);
        QCOMPARE(call(*m_ctrl, dispid::KillIDElement, {QString("0123456789ABCDzz"), i2(0x125)}).toInt(), 0);
        QCOMPARE(call(*m_ctrl, dispid::KillIDElement, {QString("0123456789ABCD"), i2(-1)}).toInt(), 0);
        QCOMPARE(bytes(m_sim->received()), "\x01ii" + withChecksum("CDAB896745230105\x03") + "\x01" "ee"
                                               + withChecksum("CDAB896745230185\x03") + "\x01" "ee"
                                               + withChecksum("CDAB89674523019F\x03"));
    }

    void elementArgumentsRefused_data()
    {
        QTest::addColumn<QString>("ibutton");
        QTest::addColumn<int>("abyte");
        QTest::newRow("13 digits") << "0123456789ABC" << 5;
        QTest::newRow("16, not hexadecimal within 14") << "0123456789ABCGEF" << 5;
    }

    void elementArgumentsRefused()
    {
        QFETCH(QString, ibutton);
        QFETCH(int, abyte);
        QVERIFY(openControl(false));
        QCOMPARE(call(*m_ctrl, dispid::AddIDElement, {ibutton, i2(abyte)}).toInt(), -6);
        QCOMPARE(call(*m_ctrl, dispid::KillIDElement, {ibutton, i2(abyte)}).toInt(), -6);
        // An access byte outside 0..255 is refused by AddIDElement only.
        QCOMPARE(call(*m_ctrl, dispid::AddIDElement, {QString("0123456789ABCD"), i2(256)}).toInt(), -6);
        QCOMPARE(call(*m_ctrl, dispid::AddIDElement, {QString("0123456789ABCD"), i2(-1)}).toInt(), -6);
        QCOMPARE(bytes(m_sim->received()), QByteArray());
    }

    void elementCommandsWithoutLock()
    {
        // Before InitTerminal every member fails at the lock and sends nothing.
        QCOMPARE(call(*m_ctrl, dispid::AddIDElement, {QString("0123456789ABCD"), i2(5)}).toInt(), 1);
        QCOMPARE(call(*m_ctrl, dispid::KillIDElement, {QString("0123456789ABCD"), i2(5)}).toInt(), 1);
        for (int member : {dispid::KillIDT, dispid::TakeIDTNum, dispid::RxIDTElement, dispid::ResetCurrTx,
                           dispid::RxDayType, dispid::RxWeekType, dispid::PCTimeCopy, dispid::EraseMessage,
                           dispid::TakeData, dispid::ReconstructData})
            QCOMPARE(call(*m_ctrl, member).toInt(), 1);
        QCOMPARE(call(*m_ctrl, dispid::TxDayType, {QString("1")}).toInt(), 1);
        QCOMPARE(call(*m_ctrl, dispid::SendMessage, {i2('m')}).toInt(), 1);
        QCOMPARE(bytes(m_sim->received()), QByteArray());
    }

    void killWholeTable()
    {
        m_sim->addIdElement("CDAB8967452301", 1);
        m_sim->addIdElement("1F111111111111", 2);
        QVERIFY(openControl(false));
        QCOMPARE(call(*m_ctrl, dispid::KillIDT).toInt(), 0);
        QVERIFY(m_sim->waitForCommand('k', 1, std::chrono::seconds(5)));
        // The simulator may note the command a moment before it clears its table.
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->idTable().empty(), 10000);
        QCOMPARE(bytes(m_sim->received()), QByteArray("\x01kk"));
    }

    void tableNumber()
    {
        QVERIFY(openControl(false));
        m_sim->setIdtNumText("IDT 0042");
        QCOMPARE(call(*m_ctrl, dispid::TakeIDTNum).toInt(), 0);
        QCOMPARE(get(*m_ctrl, dispid::IDTNum).toString(), QString("IDT 0042"));
        m_sim->injectFault({Fault::Silence, -1, 'j'});
        QCOMPARE(call(*m_ctrl, dispid::TakeIDTNum).toInt(), -10);
        m_sim->injectFault({Fault::Truncate, 3, 'j'});
        QCOMPARE(call(*m_ctrl, dispid::TakeIDTNum).toInt(), -10);
        QCOMPARE(get(*m_ctrl, dispid::IDTNum).toString(), QString("IDT 0042"));
    }

    void receiveElements()
    {
        m_sim->addIdElement("CDAB8967452301", 0x1F);
        m_sim->setSequenceBase(12);
        QVERIFY(openControl(false));
        put(*m_ctrl, dispid::IDTPrevRx, i2(11));
        QCOMPARE(call(*m_ctrl, dispid::RxIDTElement).toInt(), 0);
        QCOMPARE(get(*m_ctrl, dispid::IDTElement).toString(), QString("0123456789ABCD"));
        QCOMPARE(get(*m_ctrl, dispid::CurrWeektype).toString(), QString("31"));
        QCOMPARE(get(*m_ctrl, dispid::IDTCurrRx).toInt(), 12);
        QCOMPARE(get(*m_ctrl, dispid::IDTPrevRx).toInt(), 12);
        QTRY_COMPARE(bytes(m_sim->received()).right(1), QByteArray("\x06"));

        // No more elements.
        QCOMPARE(call(*m_ctrl, dispid::RxIDTElement).toInt(), 4);

        // From the start again: the same element is already taken.
        put(*m_ctrl, dispid::IDTElement, "old");
        QCOMPARE(call(*m_ctrl, dispid::ResetCurrTx).toInt(), 0);
        QVERIFY(m_sim->waitForCommand('r', 1, std::chrono::seconds(5)));
        QCOMPARE(get(*m_ctrl, dispid::IDTPrevRx).toInt(), 12);
        QCOMPARE(call(*m_ctrl, dispid::RxIDTElement).toInt(), 100);
        QCOMPARE(get(*m_ctrl, dispid::IDTElement).toString(), QString("old"));
        QTRY_COMPARE(bytes(m_sim->received()).right(1), QByteArray("\x06"));
    }

    void recordsBeyondTheArrays()
    {
        QVERIFY(openControl(true));
        std::vector<std::string> records;
        for (int i = 0; i < 40; ++i)
            records.push_back(eventRecord(i));
        m_sim->sendOnlineBlock('S', records);
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 1, 10000);
        QCOMPARE(get(*m_ctrl, dispid::Total).toInt(), 40);
        QCOMPARE(m_sink.events.back().args, QVariantList({i2(40)}));
        QCOMPARE(getAt(*m_ctrl, dispid::CardArr, 31).toString(), QString("00000031"));
        QCOMPARE(registerFile().count("\r\n"), 40);
        QVERIFY(registerFile().endsWith(QByteArray::fromStdString(eventRecord(39)) + "\r\n"));
    }

    void registerFileErrorNotification_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("sinks listen, none cancels") << false;
        QTest::newRow("a sink cancels the display") << true;
    }

    void registerFileErrorNotification()
    {
        QFETCH(bool, cancel);
        RecordingPrompter prompter;
        CancellingSink canceller;
        RecordingSink other;
        if (cancel)
            m_ctrl->advise(&canceller);
        m_ctrl->advise(&other);
        QVERIFY(openControl(true));
        {
            FileSizeLimit full(0);
            m_sim->sendOnlineBlock('S', {"050130930C0001234A3"});
            QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 1, 10000);
        }
        // Every sink had the notification before RxRegs; the arrays are filled.
        for (const RecordingSink* sink : {&m_sink, &other}) {
            QCOMPARE(sink->count(eventid::Error), 1);
            const auto first = [sink](int id) {
                return std::find_if(sink->events.begin(), sink->events.end(), [id](const FiredEvent& e) { return e.dispid == id; });
            };
            QVERIFY(first(eventid::Error) < first(eventid::RxRegs));
            const FiredEvent& error = *first(eventid::Error);
            QCOMPARE(error.args.at(1).toString(), QString("Slog nije upisan"));
            QCOMPARE(error.args.at(2).toInt(), int(0x800A003Au));
        }
        QCOMPARE(getAt(*m_ctrl, dispid::CardArr, 0).toString(), QString("0001234A"));
        QCOMPARE(prompter.messageTexts(), cancel ? QStringList() : QStringList{"Slog nije upisan"});
        if (!cancel)
            QCOMPARE(prompter.messages.front().look, ui::Look::Stop);
        QCOMPARE(registerFile(), QByteArray());
        m_ctrl->unadvise(&canceller);
        m_ctrl->unadvise(&other);
    }

    void registerFileShortWriteIsTakenBack()
    {
        RecordingPrompter prompter;
        QVERIFY(openControl(true));
        m_sim->sendOnlineBlock('S', {"050130930C0000001A3"});
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 1, 10000);
        {
            // Room for part of the second block's 42 bytes only.
            FileSizeLimit limit(30);
            m_sim->sendOnlineBlock('S', {"050130930C0000002A3", "050130930C0000003A3"});
            QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 2, 10000);
        }
        QCOMPARE(m_sink.count(eventid::Error), 1);
        QCOMPARE(registerFile(), QByteArray("050130930C0000001A3\r\n"));
        // Nothing of the failed block turns up with the next one.
        m_sim->sendOnlineBlock('S', {"050130930C0000004A3"});
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 3, 10000);
        QCOMPARE(registerFile(), QByteArray("050130930C0000001A3\r\n050130930C0000004A3\r\n"));
    }

    void registerFileLockHeldByAnotherProgram()
    {
        QVERIFY(openControl(true));
        // Another program holds the register file's lock for 15 s.
        QProcess holder;
        holder.start("flock", {"-x", m_env->path("reg.txt"), "-c", "echo held; exec sleep 15"});
        QVERIFY(holder.waitForReadyRead(30000));
        QElapsedTimer held;
        held.start();

        m_sim->sendOnlineBlock('S', {"050130930C0000001A3", "050130930C0000002A3"});
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 1, 60000);
        QVERIFY2(held.elapsed() >= 14000, qPrintable(QString::number(held.elapsed())));
        QVERIFY(m_sim->waitBlockDone(std::chrono::seconds(10)));
        QCOMPARE(m_sim->lastBlockAnswer(), rk40sim::BlockAnswer::Ack); // answered before the wait
        m_sim->sendOnlineBlock('S', {"050130930C0000003A3"});
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 2, 10000);
        QCOMPARE(m_sink.count(eventid::Error), 0);
        // Every acknowledged block, whole, once.
        QCOMPARE(registerFile(), QByteArray("050130930C0000001A3\r\n050130930C0000002A3\r\n050130930C0000003A3\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(holder.state(), QProcess::NotRunning, 30000);
        QCOMPARE(holder.exitCode(), 0);
    }

    void registerFileLockIsReentrantOnItsThread()
    {
        // A second control of this thread, on another terminal, appending to
        // the same file.
        rk40sim::Terminal otherSim;
        qputenv("RK40_COM2", QByteArray::fromStdString(otherSim.slavePath()));
        CRK40CommCtrl other;
        RecordingSink otherSink;
        other.advise(&otherSink);
        put(other, dispid::AsciiFileName, m_env->path("reg.txt"));
        QVERIFY(openControl(true));
        QVERIFY(call(other, dispid::InitTerminal, {i2(1)}).toBool());

        // The container handles the first control's RxRegs in a nested event
        // loop, in which the second control's block arrives.
        m_sink.onFired = [&](int dispid) {
            if (dispid != eventid::RxRegs)
                return;
            otherSim.sendOnlineBlock('S', {"050130930C0000002A3"});
            QDeadlineTimer limit(30000);
            while (otherSink.count(eventid::RxRegs) == 0 && !limit.hasExpired())
                QTest::qWait(20);
        };
        QElapsedTimer t;
        t.start();
        m_sim->sendOnlineBlock('S', {"050130930C0000001A3"});
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 1, 60000);
        m_sink.onFired = nullptr;
        QCOMPARE(otherSink.count(eventid::RxRegs), 1);
        QCOMPARE(otherSink.count(eventid::Error), 0);
        QCOMPARE(registerFile(), QByteArray("050130930C0000001A3\r\n050130930C0000002A3\r\n"));
        QVERIFY2(t.elapsed() < 8000, qPrintable(QString::number(t.elapsed()))); // not waiting for itself
        call(other, dispid::DestroyTerminal);
        other.unadvise(&otherSink);
        qunsetenv("RK40_COM2");
    }

    void registerFileOnlyARegularFile()
    {
        const QString target = m_env->path("target.txt");
        QVERIFY(QFile::link(target, m_env->path("link-reg.txt")));
        QCOMPARE(::mkfifo(QFile::encodeName(m_env->path("fifo-reg.txt")).constData(), 0666), 0);
        QVERIFY(QDir().mkpath(m_env->path("folder-reg.txt")));
        for (const QString& name : {m_env->path("link-reg.txt"), m_env->path("fifo-reg.txt"), m_env->path("folder-reg.txt"),
                                    QString("/dev/null")}) {
            put(*m_ctrl, dispid::AsciiFileName, name);
            QElapsedTimer t;
            t.start();
            QVERIFY2(!call(*m_ctrl, dispid::InitTerminal, {i2(0)}).toBool(), qPrintable(name));
            QVERIFY(t.elapsed() < 5000); // no wait for a FIFO's reader
            QCOMPARE(m_ctrl->statusBits(), 0);
        }
        QVERIFY(!QFile::exists(target));

        // A file it makes is the user's alone.
        QVERIFY(openControl(false));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(m_env->path("reg.txt")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }

    void noRegisterFile()
    {
        // An empty name: no file anywhere, members work, on-line blocks are
        // taken and reported, only not kept.
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_env->path("")));
        const QStringList before = QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        put(*m_ctrl, dispid::AsciiFileName, QString());
        put(*m_ctrl, dispid::WorkOnLine, true);
        const bool opened = call(*m_ctrl, dispid::InitTerminal, {i2(0)}).toBool();
        QDir::setCurrent(cwd);
        QVERIFY(opened);
        QCOMPARE(m_ctrl->statusBits(), 2);
        QCOMPARE(call(*m_ctrl, dispid::GetStatus).toInt(), 0);
        m_sim->sendOnlineBlock('S', {"050130930C0001234A3"});
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 1, 30000);
        QVERIFY(m_sim->waitBlockDone(std::chrono::seconds(30)));
        QVERIFY(m_sim->lastBlockAnswer() == rk40sim::BlockAnswer::Ack);
        QCOMPARE(getAt(*m_ctrl, dispid::CardArr, 0).toString(), QString("0001234A"));
        QCOMPARE(QDir(m_env->path("")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    }

    void takeAndReconstructData()
    {
        QVERIFY(openControl(false));
        QCOMPARE(call(*m_ctrl, dispid::TakeData).toInt(), 0);
        QCOMPARE(call(*m_ctrl, dispid::ReconstructData).toInt(), 0);
        QVERIFY(m_sim->waitForCommand('P', 1, std::chrono::seconds(5)));
        QCOMPARE(m_sim->commandCount('T'), 1);
        QCOMPARE(bytes(m_sim->received()), QByteArray("\x01TT\x01PP"));
        m_sim->injectFault({Fault::SilenceOnOpen});
        QCOMPARE(call(*m_ctrl, dispid::TakeData).toInt(), 1);
        call(*m_ctrl, dispid::DestroyTerminal);
        QCOMPARE(call(*m_ctrl, dispid::ReconstructData).toInt(), -1);
    }

    void textsRefusedBeforeSending_data()
    {
        QTest::addColumn<int>("member");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("result");
        QTest::newRow("day type of 1001") << int(dispid::TxDayType) << QString(1001, 'd') << -20;
        QTest::newRow("week type of 1000 goes") << int(dispid::TxWeekType) << QString(1000, 'w') << 0;
        QTest::newRow("day type with a zero") << int(dispid::TxDayType) << QString("5D08").insert(2, QChar(0)) << -20;
        QTest::newRow("message with a zero") << int(dispid::SendMessage) << QString("Hi").insert(1, QChar(0)) << 4;
    }

    void textsRefusedBeforeSending()
    {
        QFETCH(int, member);
        QFETCH(QString, text);
        QFETCH(int, result);
        QVERIFY(openControl(false));
        put(*m_ctrl, dispid::TermMessage, text);
        QTEST(call(*m_ctrl, member, {member == dispid::SendMessage ? QVariant(i2('m')) : QVariant(text)}).toInt(), "result");
        if (result != 0)
            QCOMPARE(bytes(m_sim->received()), QByteArray());
        else
            QCOMPARE(m_sim->receivedWeekTypes().at(0).size(), std::size_t(text.size()));
    }

    void receiveTypes_data()
    {
        QTest::addColumn<QString>("record"); // empty: the terminal has none
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("previous"); // IDTPrevRx afterwards
        QTest::newRow("new record") << "5D0800-1600" << -1 << 0 << 0x06 << 5;
        QTest::newRow("sequence number 0 is new") << "0D0800-1600" << -1 << 0 << 0x06 << 0;
        QTest::newRow("none: EOT acknowledged") << "" << -1 << 4 << 0x06 << -1;
        QTest::newRow("bad checksum") << "5D0800-1600" << int(Fault::BadChecksum) << 96 << 0x15 << -1;
    }

    void receiveTypes()
    {
        QFETCH(QString, record);
        QFETCH(int, fault);
        QFETCH(int, result);
        QFETCH(int, answer);
        QVERIFY(openControl(false));
        for (int member : {int(dispid::RxDayType), int(dispid::RxWeekType)}) {
            const bool day = member == dispid::RxDayType;
            put(*m_ctrl, dispid::IDTPrevRx, i2(-1));
            put(*m_ctrl, day ? dispid::CurrDaytype : dispid::CurrWeektype, "old");
            if (!record.isEmpty())
                day ? m_sim->queueDayTypeRecord(record.toStdString()) : m_sim->queueWeekTypeRecord(record.toStdString());
            if (fault >= 0)
                m_sim->injectFault({Fault::Kind(fault), -1, day ? 'v' : 'w'});
            QCOMPARE(call(*m_ctrl, member).toInt(), result);
            // The PC's answer is the last byte it sent.
            QTRY_COMPARE(bytes(m_sim->received()).right(1), QByteArray(1, char(answer)));
            m_sim->clearReceived();
            QCOMPARE(get(*m_ctrl, day ? dispid::CurrDaytype : dispid::CurrWeektype).toString(),
                     result == 0 ? record : "old");
            QTEST(get(*m_ctrl, dispid::IDTPrevRx).toInt(), "previous");
            m_sim->clearFaults();
        }
    }

    void clockCopy_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("dayOfWeek");
        QTest::newRow("Sunday 2003") << QDateTime(QDate(2003, 1, 5), QTime(7, 9)) << "05.01.03007:09" << "Sunday";
        QTest::newRow("Friday 1999") << QDateTime(QDate(1999, 12, 31), QTime(23, 59)) << "31.12.99523:59" << "Friday";
    }

    void clockCopy()
    {
        // The terminal shows the clock it took in its status from then on.
        QFETCH(QDateTime, now);
        QFETCH(QString, sent);
        m_ctrl->setClock([now] { return now; });
        m_ctrl->setLanguage(Language::English);
        QVERIFY(openControl(false));
        QCOMPARE(call(*m_ctrl, dispid::PCTimeCopy).toInt(), 0);
        QCOMPARE(QString::fromStdString(m_sim->lastClockText()), sent);
        QCOMPARE(call(*m_ctrl, dispid::GetStatus).toInt(), 0);
        QTEST(get(*m_ctrl, dispid::DayOfWeek).toString(), "dayOfWeek");
        QCOMPARE(get(*m_ctrl, dispid::RTC).toString(), QString(sent).replace(8, 1, ' '));
    }

    void message_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("result");
        QTest::newRow("default message, padded") << -1 << 0;
        QTest::newRow("NAK") << int(Fault::Nak) << 3;
        QTest::newRow("no answer") << int(Fault::Silence) << 2;
    }

    void message()
    {
        QFETCH(int, fault);
        QFETCH(int, result);
        QVERIFY(openControl(false));
        if (fault >= 0)
            m_sim->injectFault({Fault::Kind(fault)});
        QCOMPARE(call(*m_ctrl, dispid::SendMessage, {i2('m')}).toInt(), result);
        if (result == 0) {
            QCOMPARE(m_sim->lastMessage(), std::string("'Bar dan!               "));
            QCOMPARE(m_sim->lastMessageLetter(), 'm');
            QCOMPARE(bytes(m_sim->received()), "\x01mm" + withChecksum("'Bar dan!               "));
        }
    }

    void textsInTheCodePage_data()
    {
        QTest::addColumn<QString>("setting"); // empty: none in the profile
        QTest::addColumn<QString>("codePage");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("default") << "" << "windows-1250" << QByteArray("Dobro do\x9Ali, \xD5");
        QTest::newRow("ISO-8859-2") << "ISO-8859-2" << "ISO-8859-2" << QByteArray("Dobro do\xB9li, \xD5");
        QTest::newRow("unknown name") << "no-such-page" << "windows-1250" << QByteArray("Dobro do\x9Ali, \xD5");
        QTest::newRow("not one byte a character") << "UTF-16" << "windows-1250" << QByteArray("Dobro do\x9Ali, \xD5");
        QTest::newRow("UTF-8") << "UTF-8" << "windows-1250" << QByteArray("Dobro do\x9Ali, \xD5");
    }

    void textsInTheCodePage()
    {
        QFETCH(QString, setting);
        QFETCH(QByteArray, wire);
        const QString profile = m_env->path("config/Veltrona/RK40COMM.conf");
        QFile::remove(profile);
        if (!setting.isEmpty()) {
            QVERIFY(QDir().mkpath(m_env->path("config/Veltrona")));
            QFile f(profile);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[Settings]\nCodePage=" + setting.toLatin1() + "\n");
        }
        QVERIFY(openControl(false));
        QTEST(m_ctrl->codePage(), "codePage");
        const QString text = QString::fromUtf8("Dobro došli, Ő");
        QCOMPARE(call(*m_ctrl, dispid::TxDayType, {text}).toInt(), 0);
        QCOMPARE(QByteArray::fromStdString(m_sim->receivedDayTypes().at(0)), wire);
        m_sim->queueDayTypeRecord("5" + wire.toStdString());
        QCOMPARE(call(*m_ctrl, dispid::RxDayType).toInt(), 0);
        QCOMPARE(get(*m_ctrl, dispid::CurrDaytype).toString(), "5" + text);
        put(*m_ctrl, dispid::TermMessage, text);
        QCOMPARE(call(*m_ctrl, dispid::SendMessage, {i2('m')}).toInt(), 0);
        QVERIFY(QByteArray::fromStdString(m_sim->lastMessage()).startsWith(wire));
        QFile::remove(profile);
    }

    void blockDecodedIntoArraysAndFile()
    {
        QVERIFY(openControl(true));
        m_sim->sendOnlineBlock('S', {"050130930C0001234A3", "06012101520000ABCD1"});
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 1, 10000);
        QCOMPARE(get(*m_ctrl, dispid::Total).toInt(), 2);
        QCOMPARE(getAt(*m_ctrl, dispid::TimeArr, 0).toString(), QString("09:30"));
        QCOMPARE(getAt(*m_ctrl, dispid::DateArr, 1).toString(), QString("06.01.02"));
        QCOMPARE(getAt(*m_ctrl, dispid::TermNoArr, 1).toString(), QString("01"));
        QCOMPARE(registerFile(), QByteArray("050130930C0001234A3\r\n06012101520000ABCD1\r\n"));

        // The next block is appended; entries beyond it keep their contents.
        m_sim->sendOnlineBlock('V', {"07013120040000FFFF2"});
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 2, 10000);
        QCOMPARE(m_sink.events.back().args, QVariantList({i2(1)}));
        QCOMPARE(getAt(*m_ctrl, dispid::ActionArr, 0).toString(), QString("S1O"));
        QCOMPARE(getAt(*m_ctrl, dispid::CardArr, 1).toString(), QString("0000ABCD"));
        QCOMPARE(registerFile(),
                 QByteArray("050130930C0001234A3\r\n06012101520000ABCD1\r\n07013120040000FFFF2\r\n"));
        QCOMPARE(get(*m_ctrl, dispid::ErrCode).toInt(), 0);

        // Bytes 0x80..0xFF and control bytes inside the records are dropped
        // and stay outside the checksum.
        rk40sim::BlockOptions noisy;
        noisy.highBytes = true;
        noisy.controlBytes = true;
        m_sim->sendOnlineBlock('S', {"08013111500000BEEF4"}, noisy);
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 3, 10000);
        QCOMPARE(getAt(*m_ctrl, dispid::CardArr, 0).toString(), QString("0000BEEF"));
        QVERIFY(registerFile().endsWith("07013120040000FFFF2\r\n08013111500000BEEF4\r\n"));
    }

    void sequenceNumbersAreShared()
    {
        QVERIFY(openControl(false));
        put(*m_ctrl, dispid::IDTPrevRx, i2(12));
        m_sim->queueDayTypeRecord("9D0800-1600");
        QCOMPARE(call(*m_ctrl, dispid::RxDayType).toInt(), 100); // already taken
        QTRY_COMPARE(bytes(m_sim->received()).right(1), QByteArray("\x06"));
        QCOMPARE(get(*m_ctrl, dispid::IDTCurrRx).toInt(), 9);
        QCOMPARE(get(*m_ctrl, dispid::IDTPrevRx).toInt(), 12);
        QVERIFY(get(*m_ctrl, dispid::CurrDaytype).toString().isEmpty());
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<rk40sim::Terminal> m_sim;
    std::unique_ptr<CRK40CommCtrl> m_ctrl;
    RecordingSink m_sink;
    bool openControl(bool online)
    {
        put(*m_ctrl, dispid::AsciiFileName, m_env->path("reg.txt"));
        put(*m_ctrl, dispid::WorkOnLine, online);
        return call(*m_ctrl, dispid::InitTerminal, {i2(0)}).toBool();
    }
    QByteArray registerFile() const { return readAll(m_env->path("reg.txt")); }
};

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"

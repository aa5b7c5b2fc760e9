// Exchanges that run their whole time budget: a confirmed frame whose
// result character never comes waits through 2 + 70 further reads (about
// a minute on a silent line) before it gives -4.

#include "control/ctrl/CRK40CommCtrl.h"
#include "ControlTestSupport.h"
#include "TestEnvironment.h"

#include <rk40sim/Terminal.h>

#include <QElapsedTimer>
#include <QTest>

using namespace rk40;
using namespace testsupport;

class TestSlow : public QObject {
    Q_OBJECT
private slots:
    void resultCharacterNeverComes()
    {
        TestEnvironment env;
        rk40sim::Terminal sim;
        qputenv("RK40_COM1", QByteArray::fromStdString(sim.slavePath()));
        CRK40CommCtrl c;
        put(c, dispid::AsciiFileName, env.path("reg.txt"));
        put(c, dispid::WorkOnLine, false);
        QVERIFY(call(c, dispid::InitTerminal, {i2(0)}).toBool());
        sim.injectFault({rk40sim::Fault::NoResult, -1, 't'});
        QElapsedTimer t;
        t.start();
        QCOMPARE(call(c, dispid::TxDayType, {QString("1D0800-1600")}).toInt(), -4);
        // At least the 70 pauses of 100 ms.
        QVERIFY2(t.elapsed() >= 7000, qPrintable(QString::number(t.elapsed())));
        call(c, dispid::DestroyTerminal);
    }
};

QTEST_MAIN(TestSlow)
#include "tst_slow.moc"

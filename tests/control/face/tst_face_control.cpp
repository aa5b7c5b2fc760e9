// The face as the control shows it: the picture follows the connection's
// status bits, clicks fire Click and DblClick, AboutBox shows the About box.

#include "control/face/CRK40CommAboutBox.h"
#include "RecordingPrompter.h"
#include "control/ctrl/CRK40CommCtrl.h"
#include "control/face/CRK40CommFace.h"
#include "ControlTestSupport.h"
#include "FacePixels.h"
#include "PtyPeer.h"
#include "TestEnvironment.h"
#include "control/ctrl/TypeLibrary.h"

#include <QApplication>
#include <QPointer>
#include <QtTest>

#include <memory>

using namespace rk40;
using namespace testsupport;

class TestFaceControl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_env = std::make_unique<TestEnvironment>(); }

    void cleanup()
    {
        QCOMPARE(CRK40CommCtrl::liveObjects(), 0);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void pictureFollowsTheConnection()
    {
        PtyPeer peer;
        qputenv("RK40_COM1", peer.slavePath().toLocal8Bit());
        QWidget host;
        CRK40CommCtrl c;
        QPointer<QWidget> face = faceOf(c, host);
        QVERIFY(face);
        QCOMPARE(face->parentWidget(), &host);
        CHECK_PICTURE(face->grab().toImage(), 0);

        put(c, dispid::AsciiFileName, m_env->path("reg.txt"));
        put(c, dispid::WorkOnLine, false);
        QCOMPARE(call(c, dispid::InitTerminal, {i2(0)}), QVariant(true));
        CHECK_PICTURE(face->grab().toImage(), 3);

        // The register file is closed too, but the picture shows it open.
        call(c, dispid::DestroyTerminal);
        QCOMPARE(c.statusBits(), 1);
        CHECK_PICTURE(face->grab().toImage(), 1);
    }

    void clicksFireEvents()
    {
        QWidget host;
        CRK40CommCtrl c;
        AdvisedSink sink(c);
        QWidget* face = faceOf(c, host);
        QVERIFY(face);
        QTest::mouseClick(face, Qt::LeftButton);
        QCOMPARE(sink.count(eventid::Click), 1);
        QCOMPARE(sink.count(eventid::DblClick), 0);
        QTest::mousePress(face, Qt::LeftButton);
        QTest::mouseDClick(face, Qt::LeftButton);
        QTest::mouseRelease(face, Qt::LeftButton);
        QCOMPARE(sink.count(eventid::Click), 1);
        QCOMPARE(sink.count(eventid::DblClick), 1);
    }

    void aboutBox()
    {
        testsupport::RecordingPrompter prompter;
        QStringList shown;
        for (int i = 0; i < 2; ++i)
            prompter.dialogHandlers.push_back([&](QDialog& d) {
                shown << d.windowTitle();
                return int(QDialog::Accepted);
            });
        CRK40CommCtrl c;
        // With and without a face.
        QVERIFY(c.invoke(dispid::AboutBox, component::InvokeKind::Method).ok());
        QWidget host;
        QVERIFY(faceOf(c, host));
        QVERIFY(c.invoke(dispid::AboutBox, component::InvokeKind::Method).ok());
        QCOMPARE(shown, (QStringList{"About RK40Comm Control", "About RK40Comm Control"}));
    }

private:
    QWidget* faceOf(CRK40CommCtrl& c, QWidget& host);

    std::unique_ptr<TestEnvironment> m_env;
};

QWidget* TestFaceControl::faceOf(CRK40CommCtrl& c, QWidget& host)
{
    QWidget* face = c.createFace(&host);
    if (face)
        face->resize(96, 96);
    return face;
}

QTEST_MAIN(TestFaceControl)
#include "tst_face_control.moc"

// The component layer: argument checking, dispatch routing, the property
// bag's text form and the registry file.

#include "platform/component/DispatchTable.h"
#include "platform/component/PropertyBag.h"
#include "platform/component/Registry.h"
#include "TestEnvironment.h"
#include "platform/component/TextEscape.h"

#include <QTest>

using namespace component;

namespace {

const InterfaceInfo& sampleInterface()
{
    static const InterfaceInfo iface{
        "_DSample", "{11111111-2222-3333-4444-555555555555}", "sample", {
            {1, "Name", MemberKind::Property, VarType::BStr, {}, 0, ""},
            {2, "Count", MemberKind::Property, VarType::I2, {}, 0, ""},
            {3, "Add", MemberKind::Method, VarType::I4, {{"a", VarType::I2}, {"b", VarType::I4}}, 0, ""},
            {4, "Table", MemberKind::IndexedProperty, VarType::BStr, {{"index", VarType::I2}}, 4, ""},
            {5, "Later", MemberKind::Method, VarType::I2, {}, 0, ""},
            {6, "Flag", MemberKind::Property, VarType::Bool, {}, 0, ""},
        }, {}};
    return iface;
}

// A sink that counts its events and takes another sink back on each.
struct CountingSink : IEventSink {
    void onEvent(int, const QString&, const QVariantList&) override
    {
        ++calls;
        if (sinks)
            sinks->unadvise(takeBack);
    }
    int calls = 0;
    EventSinks* sinks = nullptr;
    IEventSink* takeBack = nullptr;
};

} // namespace

class ComponentTest : public QObject {
    Q_OBJECT
private slots:
    void dispatchChecksArguments_data()
    {
        QTest::addColumn<int>("dispid");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<int>("hr");
        QTest::newRow("good call") << 3 << int(InvokeKind::Method) << QVariantList{qlonglong(2), qlonglong(40)} << int(S_OK);
        QTest::newRow("text for I2") << 3 << int(InvokeKind::Method) << QVariantList{QString("2"), qlonglong(40)} << int(DISP_E_TYPEMISMATCH);
        QTest::newRow("I2 overflow") << 3 << int(InvokeKind::Method) << QVariantList{qlonglong(40000), qlonglong(1)} << int(DISP_E_OVERFLOW);
        QTest::newRow("missing argument") << 3 << int(InvokeKind::Method) << QVariantList{qlonglong(2)} << int(DISP_E_BADPARAMCOUNT);
        QTest::newRow("unknown member") << 99 << int(InvokeKind::Method) << QVariantList{} << int(DISP_E_MEMBERNOTFOUND);
        QTest::newRow("property called as method") << 1 << int(InvokeKind::Method) << QVariantList{} << int(DISP_E_MEMBERNOTFOUND);
        QTest::newRow("index below table") << 4 << int(InvokeKind::PropertyGet) << QVariantList{qlonglong(-1)} << int(DISP_E_BADINDEX);
        QTest::newRow("index past table") << 4 << int(InvokeKind::PropertyPut) << QVariantList{qlonglong(4), QString("x")} << int(DISP_E_BADINDEX);
        QTest::newRow("declared without handler") << 5 << int(InvokeKind::Method) << QVariantList{} << int(E_NOTIMPL);
        QTest::newRow("integer accepted as BOOL") << 6 << int(InvokeKind::PropertyPut) << QVariantList{qlonglong(1)} << int(S_OK);
        QTest::newRow("text refused as BOOL") << 6 << int(InvokeKind::PropertyPut) << QVariantList{QString("yes")} << int(DISP_E_TYPEMISMATCH);
    }
    void dispatchChecksArguments()
    {
        QFETCH(int, dispid);
        QFETCH(int, kind);
        QFETCH(QVariantList, args);
        QFETCH(int, hr);
        QString table[4];
        bool flag = false;
        DispatchTable t(sampleInterface());
        t.onMethod(3, [](const QVariantList& a) {
            // Arguments arrive converted to their declared types.
            Q_ASSERT(a[0].typeId() == QMetaType::Short && a[1].typeId() == QMetaType::Int);
            return QVariant(a[0].toInt() + a[1].toInt());
        });
        t.onIndexed(4, [&](int i) { return QVariant(table[i]); }, [&](int i, const QVariant& v) { table[i] = v.toString(); });
        t.onProperty(6, [&] { return QVariant(flag); }, [&](const QVariant& v) { flag = v.toBool(); });
        const InvokeResult r = t.invoke(dispid, InvokeKind(kind), args);
        QCOMPARE(r.hr, hr);
        if (!r.ok())
            QVERIFY(!r.error.isEmpty());
        if (dispid == 3 && r.ok())
            QCOMPARE(r.value.toInt(), 42);
    }

    void sinkTakenBackDuringAnEventIsNotCalled()
    {
        EventSinks sinks(sampleInterface());
        CountingSink second, first;
        first.sinks = &sinks;
        first.takeBack = &second;
        QVariantList args;
        for (bool byRef : {false, true}) {
            sinks.advise(&first);
            sinks.advise(&second);
            byRef ? sinks.fireByRef(1, args) : sinks.fire(1);
        }
        QCOMPARE(first.calls, 2);
        QCOMPARE(second.calls, 0);
    }

    void consoleTextShowsControlsAsEscapes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("title and clear screen") << QString("\x1b]0;x\x07\x1b[2J") << QString("\\x1b]0;x\\x07\\x1b[2J");
        QTest::newRow("lines and tabs stay") << QString("a\tb\nc\r\n") << QString("a\tb\nc\n");
        QTest::newRow("lone carriage return") << QString("ok\rFAIL") << QString("ok\\x0dFAIL");
        QTest::newRow("DEL and C1 CSI") << QString("a\x7f") + QChar(0x9b) << QString("a\\x7f\\x9b");
        QTest::newRow("right-to-left override") << QString("x") + QChar(0x202e) + "y" << QString("x\\u202ey");
        QTest::newRow("letters beyond ASCII stay") << QString::fromUtf8("Zürich") << QString::fromUtf8("Zürich");
    }
    void consoleTextShowsControlsAsEscapes()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(consoleText(text), shown);
    }

    void propertyBagKeepsOrderAndTypes()
    {
        PropertyBag bag;
        bag.write("AsciiFileName", QString("reg.txt"));
        bag.write("Total", qint32(0));
        bag.write("TermMessage", QString("line one\nback\\slash"));
        bag.write("WorkOnLine", true);
        bag.write("Total", qint32(7));  // replaces in place
        QCOMPARE(bag.names(), (QStringList{"AsciiFileName", "Total", "TermMessage", "WorkOnLine"}));
        bool ok = false;
        const PropertyBag back = PropertyBag::fromText(bag.toText(), &ok);
        QVERIFY(ok);
        QCOMPARE(back.names(), bag.names());
        QVERIFY(back.contains("WorkOnLine") && !back.contains("workonline"));
        QCOMPARE(back.read("TermMessage").toString(), QString("line one\nback\\slash"));
        QCOMPARE(back.read("Total").toInt(), 7);
        QCOMPARE(back.read("WorkOnLine").typeId(), int(QMetaType::Bool));
        PropertyBag::fromText("garbage line\nX=q:1\n", &ok);
        QVERIFY(!ok);
    }

    void registryRegistersAndRemovesExactly()
    {
        testsupport::TestEnvironment env;
        Registry reg;
        QVERIFY(reg.path().startsWith(env.root()));
        const QString before = reg.dump();
        TypeLibInfo lib;
        lib.name = "SampleLib";
        lib.libid = "{AAAAAAAA-0000-0000-0000-000000000001}";
        lib.dispatch = sampleInterface();
        lib.events = InterfaceInfo{"_DSampleEvents", "{AAAAAAAA-0000-0000-0000-000000000002}", "", {}, {{1, "Changed", {}}}};
        lib.coclass = {"Sample", "{AAAAAAAA-0000-0000-0000-000000000003}", ""};
        QCOMPARE(registerTypeLib(reg, lib, "/x/libsample.so"), S_OK);
        ClassRegistration cls{lib.coclass.clsid, "Sample.Thing.1", "Sample Thing", "/x/libsample.so", "Apartment",
                              true, 0x20191, 1, lib.libid, "1.0"};
        QCOMPARE(registerClass(reg, cls), S_OK);

        Registry reread;
        QCOMPARE(reread.value("ProgID/Sample.Thing.1", "CLSID").toString(), cls.clsid);
        QCOMPARE(reread.value("CLSID/" + cls.clsid, "MiscStatus").toString(), QString::number(0x20191));
        QVERIFY(reread.dump().contains("I4 Add(I2 a, I4 b)"));

        QCOMPARE(unregisterClass(reread, cls.clsid, cls.progId), S_OK);
        QCOMPARE(unregisterTypeLib(reread, lib.libid, "1.0"), S_OK);
        QCOMPARE(Registry().dump(), before);
    }
};

QTEST_GUILESS_MAIN(ComponentTest)
#include "tst_component.moc"

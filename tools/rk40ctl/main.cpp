// rk40ctl: a console container for the communication control. It creates
// the control through the component registry and runs calls given one a
// line on standard input or in a script file (see Script.h).

#include "Script.h"

#include "platform/component/Dispatch.h"
#include "platform/component/Registry.h"
#include "platform/component/TextEscape.h"
#include "platform/component/TypeInfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

using component::InvokeKind;

// Values, event arguments and error texts carry what the terminal sent:
// their control characters are printed as escapes.
QString shown(const QString& text) { return component::consoleText(text); }

constexpr int kExitUsage = 2;     // unknown member, wrong or missing argument, bad line
constexpr int kExitFailure = 1;   // the control could not be created or a call failed otherwise

class PrintingSink : public component::IEventSink {
public:
    explicit PrintingSink(QTextStream& out) : m_out(out) {}
    void onEvent(int, const QString& name, const QVariantList& args) override
    {
        QStringList parts;
        for (const auto& a : args)
            parts << shown(rk40ctl::formatValue(a));
        m_out << "event " << name << '(' << parts.join(", ") << ")\n";
        m_out.flush();
    }

private:
    QTextStream& m_out;
};

class Runner {
public:
    Runner(component::IDispatchControl& control, QTextStream& out, QTextStream& err)
        : m_control(control), m_out(out), m_err(err) {}

    // Returns 0 to go on, or the exit status to stop with.
    int run(const QString& line, int lineNo)
    {
        rk40ctl::ScriptLine s;
        QString error;
        if (!rk40ctl::parseLine(line, s, &error))
            return usage(lineNo, error);
        switch (s.kind) {
        case rk40ctl::ScriptLine::Kind::Empty:
            return 0;
        case rk40ctl::ScriptLine::Kind::Wait:
            wait(int(s.args.first().toLongLong()));
            reportFailure(lineNo);
            return 0;
        case rk40ctl::ScriptLine::Kind::Face:
            return saveFace(s, lineNo);
        default: {
            const int status = call(s, lineNo);
            reportFailure(lineNo);
            return status;
        }
        }
    }

    void wait(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

private:
    // Why the control's port failed (an InitTerminal that returned FALSE, a
    // device that went away), once for each new reason.
    void reportFailure(int lineNo)
    {
        const QString reason = m_control.failureReason();
        if (reason == m_lastFailure)
            return;
        m_lastFailure = reason;
        if (reason.isEmpty())
            return;
        m_out.flush();
        m_err << "rk40ctl: line " << lineNo << ": " << reason << "\n";
        m_err.flush();
    }

    int usage(int lineNo, const QString& why)
    {
        m_err << "rk40ctl: line " << lineNo << ": " << shown(why) << "\n";
        m_err.flush();
        return kExitUsage;
    }

    int call(const rk40ctl::ScriptLine& s, int lineNo)
    {
        const auto& iface = m_control.typeLibrary().dispatch;
        const component::MemberInfo* m = iface.member(s.name);
        if (!m)
            return usage(lineNo, QString("%1 is not a member of %2").arg(s.name, iface.name));
        InvokeKind kind = InvokeKind::Method;
        if (s.kind == rk40ctl::ScriptLine::Kind::Get) kind = InvokeKind::PropertyGet;
        if (s.kind == rk40ctl::ScriptLine::Kind::Put) kind = InvokeKind::PropertyPut;
        if (kind == InvokeKind::Method && m->kind != component::MemberKind::Method)
            return usage(lineNo, QString("%1 is a property: use get or put").arg(m->name));
        if (kind != InvokeKind::Method && m->kind == component::MemberKind::Method)
            return usage(lineNo, QString("%1 is a method: call it without get or put").arg(m->name));

        const component::InvokeResult r = m_control.invoke(m->dispid, kind, s.args);
        if (!r.ok()) {
            using namespace component;
            const bool callerFault = r.hr == DISP_E_TYPEMISMATCH || r.hr == DISP_E_BADPARAMCOUNT
                                  || r.hr == DISP_E_OVERFLOW || r.hr == DISP_E_BADINDEX
                                  || r.hr == DISP_E_MEMBERNOTFOUND;
            m_err << "rk40ctl: line " << lineNo << ": " << shown(r.error.isEmpty() ? describeResult(r.hr) : r.error) << "\n";
            m_err.flush();
            return callerFault ? kExitUsage : kExitFailure;
        }
        if (kind == InvokeKind::PropertyPut || (kind == InvokeKind::Method && m->type == component::VarType::Empty))
            return 0;
        QString name = m->name;
        if (m->kind == component::MemberKind::IndexedProperty && !s.args.isEmpty())
            name += QString("[%1]").arg(shown(rk40ctl::formatValue(s.args.first())));
        m_out << name << " = " << shown(rk40ctl::formatValue(r.value)) << "\n";
        m_out.flush();
        return 0;
    }

    int saveFace(const rk40ctl::ScriptLine& s, int lineNo)
    {
        const int w = s.args.size() == 2 ? int(s.args[0].toLongLong()) : 96;
        const int h = s.args.size() == 2 ? int(s.args[1].toLongLong()) : 96;
        if (w <= 0 || h <= 0 || w > 4096 || h > 4096)
            return usage(lineNo, "face size must be 1..4096");
        if (!m_face) {
            m_host = std::make_unique<QWidget>();
            m_face = m_control.createFace(m_host.get());
        }
        if (!m_face) {
            m_err << "rk40ctl: line " << lineNo << ": the control has no face\n";
            return kExitFailure;
        }
        m_face->resize(w, h);
        if (!m_face->grab().save(s.name)) {
            m_err << "rk40ctl: line " << lineNo << ": cannot write " << s.name << "\n";
            return kExitFailure;
        }
        return 0;
    }

    component::IDispatchControl& m_control;
    QTextStream& m_out;
    QTextStream& m_err;
    std::unique_ptr<QWidget> m_host;
    QWidget* m_face = nullptr;
    QString m_lastFailure;
};

void printHelp(QTextStream& out)
{
    out << "usage: rk40ctl [--progid ID] [SCRIPT]\n"
           "Creates the control (default RK40COMM.RK40CommCtrl.1) from the component registry\n"
           "and runs one call a line from SCRIPT or standard input:\n"
           "  NAME ARG...              call a method, e.g. ReadEEPR 10\n"
           "  get NAME [INDEX]         e.g. get EepromLoc 10\n"
           "  put NAME [INDEX] VALUE   e.g. put BaudRate 9600\n"
           "  wait MS                  run the event loop (events are printed)\n"
           "  face FILE.png [W H]      save the control's face\n"
           "  # comment\n"
           "Exit status: 0 done, 1 failure, 2 unknown member, wrong or missing argument.\n";
}

} // namespace

int main(int argc, char** argv)
{
    // The control is a widget-capable component; without a display it still
    // works on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QString progId = "RK40COMM.RK40CommCtrl.1";
    QString scriptPath;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == "--progid" && i + 1 < args.size()) {
            progId = args[++i];
        } else if (args[i] == "-h" || args[i] == "--help") {
            printHelp(out);
            return 0;
        } else if (scriptPath.isEmpty() && !args[i].startsWith("--")) {
            scriptPath = args[i];
        } else {
            err << "rk40ctl: unexpected argument " << args[i] << "\n";
            return kExitUsage;
        }
    }

    QFile input;
    if (scriptPath.isEmpty() || scriptPath == "-") {
        if (!input.open(stdin, QIODevice::ReadOnly | QIODevice::Text))
            return kExitFailure;
    } else {
        input.setFileName(scriptPath);
        if (!input.open(QIODevice::ReadOnly | QIODevice::Text)) {
            err << "rk40ctl: cannot open " << scriptPath << ": " << input.errorString() << "\n";
            return kExitUsage;
        }
    }

    QString error;
    component::HRESULT hr = component::S_OK;
    std::unique_ptr<component::IDispatchControl> control = component::createControl(progId, &hr, &error);
    if (!control) {
        err << "rk40ctl: " << shown(error) << "\n";
        return kExitFailure;
    }
    control->initNew();
    PrintingSink sink(out);
    control->advise(&sink);

    int status = 0;
    {
        Runner runner(*control, out, err);
        int lineNo = 0;
        while (!input.atEnd()) {
            const QString line = QString::fromUtf8(input.readLine());
            ++lineNo;
            status = runner.run(line, lineNo);
            if (status != 0)
                break;
            QCoreApplication::processEvents();
        }
    }
    // The runner (and with it the face) goes before the control.
    control->unadvise(&sink);
    control.reset();
    return status;
}

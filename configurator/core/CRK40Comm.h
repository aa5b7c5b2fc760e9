#pragma once

// The configurator's wrapper around the communication control: every call
// goes through the control's dispatch interface by DISPID, so Termset does
// not link against the control module. The control is created at run time
// from the component registry.

#include "platform/component/Dispatch.h"
#include "core/RegisterImage.h"

#include <QString>
#include <functional>
#include <memory>

class CRK40Comm : public image::IRegisterImage {
public:
    static constexpr const char* kProgId = "RK40COMM.RK40CommCtrl.1";

    // DISPIDs the wrapper uses.
    enum DispId : int {
        kAsciiFileName = 1,
        kFirmware = 6,
        kInBuffer = 11,
        kRtc = 12,
        kWorkOnLine = 15,
        kBaudRate = 17,
        kDestroyTerminal = 19,
        kGetStatus = 21,
        kInitTerminal = 22,
        kReadEEPR = 26,
        kWriteEEPR = 37,
        kEepromLoc = 41,
    };

    CRK40Comm() = default;
    // Takes over a control made elsewhere (tests, other containers).
    explicit CRK40Comm(std::unique_ptr<component::IDispatchControl> control);
    ~CRK40Comm() override;
    CRK40Comm(const CRK40Comm&) = delete;
    CRK40Comm& operator=(const CRK40Comm&) = delete;

    // Creates the control through the registry. Returns false and keeps the
    // reason (errorText) when it is not registered or cannot be loaded.
    bool Create(const QString& progId = QString::fromLatin1(kProgId));

    // The control module that ships with the program (in its program folder),
    // or empty. When the control's class is registered nowhere, creating it
    // first registers this module for the current user, as an installer
    // would, so that an unpacked or freshly installed program runs at once.
    static void setOwnModule(const QString& modulePath);
    // Creates a control by program identifier through the registry, with the
    // registration above when needed. Returns nullptr with the reason in
    // *error when it still cannot be created.
    static std::unique_ptr<component::IDispatchControl> createRegistered(const QString& progId, QString* error);
    bool isCreated() const { return m_control != nullptr; }
    QString errorText() const { return m_error; }
    // Why the control's port failed, in words (open failure or removal);
    // empty when it did not.
    QString failureReason() const { return m_control ? m_control->failureReason() : QString(); }
    component::IDispatchControl* control() const { return m_control.get(); }

    QString GetFirmware() const;
    QString GetInBuffer() const;
    QString GetRtc() const;
    void SetWorkOnLine(bool on);
    // The register file on-line blocks go to; empty: none at all (nothing
    // is opened or created by InitTerminal).
    void SetAsciiFileName(const QString& path);
    void SetBaudRate(qint32 baud);
    // The device InitTerminal opens instead of its COM name's (empty: the
    // mapping); false when the control offers no such choice.
    bool SetDevicePath(const QString& path);
    void DestroyTerminal();
    short GetStatus();
    bool InitTerminal(short portNum);
    short ReadEEPR(short address);
    short WriteEEPR(short address, qint32 contents);
    QString GetEepromLoc(short address) const;
    void SetEepromLoc(short address, const QString& value);

    // Who presents a refused image call (Termset: a stop box; termset-cli: a
    // complaint), once until a call succeeds again and never from within
    // its own presentation. Without one the failure is only recorded.
    using FailureListener = std::function<void(const QString& text)>;
    void setFailureListener(FailureListener listener) { m_listener = std::move(listener); }

    // image::IRegisterImage over EepromLoc. A call the control refuses is
    // recorded (imageFailed) and handed to the failure listener; word then
    // gives "" and setWord leaves the image as it was.
    QString word(int address) const override;
    void setWord(int address, const QString& text) override;
    // setWord that says whether the control took the word.
    bool trySetWord(int address, const QString& text);
    // word without telling the listener: nothing when the control refused the
    // call (whyNot() then says why).
    std::optional<QString> readWord(int address) const override;
    QString whyNot() const override { return m_error; }

    // Whether a word has failed to be read or stored since the last
    // clearImageFailure.
    bool imageFailed() const { return m_imageFailed; }
    void clearImageFailure() { m_imageFailed = false; }

    // The result a command member gives when the call itself could not be
    // made (no control, or the dispatch refused it).
    static constexpr short kCallFailed = -32768;

    // "The communication control could not read (store) configuration word
    // %1: %2", in the program's language.
    static QString wordFailureText(bool storing, int address, const QString& reason);
    static constexpr int kReadFailedText = 61735;
    static constexpr int kStoreFailedText = 61736;

private:
    component::InvokeResult call(int dispid, component::InvokeKind kind, const QVariantList& args = {}) const;
    // Records and reports a refused EepromLoc call.
    void imageCallFailed(bool storing, int address) const;

    std::unique_ptr<component::IDispatchControl> m_control;
    FailureListener m_listener;
    mutable QString m_error;
    mutable bool m_imageFailed = false;
    mutable bool m_failureShown = false;   // until a call succeeds again
    mutable bool m_reporting = false;      // the listener is presenting one
};

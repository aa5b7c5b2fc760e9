#include "control/protocol/Results.h"

namespace rk40::result {

namespace {

const char* opening(int code)
{
    switch (code) {
    case kOk: return "done";
    case kNotReady: return "the terminal did not answer the command opening";
    case kPortClosed: return "no port is open";
    }
    return nullptr;
}

const char* confirmedFrame(int code)
{
    switch (code) {
    case kOk: return "done";
    case kFrameNoAnswer: return "the terminal did not answer the frame";
    case kFrameNak: return "the terminal refused the frame (NAK)";
    case kFrameRefused: return "the terminal could not carry the command out";
    case kFrameNoResult: return "the terminal did not say whether the command was carried out";
    case kFrameOtherResult: return "the terminal answered with an unknown result";
    case kFrameOtherAnswer: return "the terminal answered the frame with neither ACK nor NAK";
    case kFrameWriteFailed: return "the frame could not be sent (or the text is longer than 1000 characters or holds a character the line cannot carry)";
    }
    return nullptr;
}

const char* acknowledgedText(int code)
{
    switch (code) {
    case kOk: return "done";
    case kTextNak: return "the terminal did not acknowledge the text";
    case kTextWriteFailed: return "the text could not be sent";
    case kTextNoAnswer: return "the terminal did not answer the text";
    }
    return nullptr;
}

const char* textLine(int code)
{
    switch (code) {
    case kOk: return "done";
    case kLineSilence: return "the terminal's line did not end";
    }
    return nullptr;
}

const char* onlineBlock(int code)
{
    switch (code) {
    case kOk: return "block accepted";
    case kBlockNoStx: return "no STX after the header byte";
    case kBlockBadHeader: return "header byte neither \"S\" nor \"V\", or missing";
    case kBlockSilence: return "silence inside the block";
    case kBlockTooLong: return "more data than the frame buffer holds";
    case kBlockBadChecksum: return "checksum wrong or missing";
    }
    return nullptr;
}

const char* reg(int code)
{
    switch (code) {
    case kOk: return "done";
    case kRegisterNotReady: return "the terminal did not answer the command opening";
    case kRegisterBadAnswer: return "the terminal refused the word, or its answer was damaged";
    case kRegisterOtherAnswer: return "the terminal answered the word with neither ACK nor NAK";
    case kRegisterLockFailed: return "the port is not open or busy";
    case kRegisterWriteFailed: return "the request could not be sent";
    case kRegisterSilence: return "the terminal did not answer";
    case kRegisterBadArgument: return "address outside 0..255 or value outside 0..65535";
    }
    return nullptr;
}

std::string recordUpload(int code)
{
    switch (code) {
    case kOk: return "done";
    case kRecordNothingToSend: return "the terminal has nothing (more) to send";
    case kRecordMalformed: return "the record is too short or malformed";
    case kRecordBadChecksum: return "the record's checksum is wrong";
    case kRecordAlreadyTaken: return "the record was taken before";
    case kRecordTooLong: return "the record is longer than the frame buffer";
    }
    if (code >= kRecordSilenceBase && code <= kRecordSilenceBase + 1024)
        return "the terminal fell silent after " + std::to_string(code - kRecordSilenceBase) + " bytes of the record";
    return {};
}

} // namespace

std::string describeResult(Family family, int code)
{
    const char* words = nullptr;
    std::string text;
    switch (family) {
    case Family::Opening: words = opening(code); break;
    case Family::ConfirmedFrame: words = confirmedFrame(code); break;
    case Family::AcknowledgedText: words = acknowledgedText(code); break;
    case Family::RecordUpload: text = recordUpload(code); break;
    case Family::TextLine: words = textLine(code); break;
    case Family::OnlineBlock: words = onlineBlock(code); break;
    case Family::Register: words = reg(code); break;
    case Family::Status:
        words = code == kStatusRefused   ? "the terminal refused the status request"
              : code == kStatusNoBlock   ? "the terminal took the status request but sent no status"
                                         : opening(code);
        break;
    case Family::ClockCopy:
        words = code == kClockNotTaken ? "the terminal did not take the clock" : opening(code);
        break;
    case Family::Message:
        words = code == kMessageNotSent ? "the message went unanswered or could not be sent"
              : code == kMessageRefused ? "the terminal refused the message"
              : code == kMessageNotCarried ? "the message holds a character the line cannot carry; nothing was sent"
                                        : opening(code);
        break;
    case Family::IdElement:
        // The lock failure and the unanswered opening share 1; -1 is both a
        // closed port and an unanswered frame.
        words = code == kIdArgumentRefused ? "identifier or access byte refused; nothing was sent"
              : code == kLockFailed        ? "the port is not open or busy, or the terminal did not answer"
              : code == kFrameNoAnswer     ? "no port is open, or the terminal did not answer the frame"
                                           : confirmedFrame(code);
        break;
    }
    if (words)
        text = words;
    if (text.empty())
        text = "unknown result " + std::to_string(code);
    return text;
}

} // namespace rk40::result

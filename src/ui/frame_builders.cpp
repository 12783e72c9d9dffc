// Command frames from the controls. Each builder reads its controls, calls the
// protocol encoders and returns the frame length, 0 when a value cannot be used.
#include "ui/rq_m4t_frame.h"

#include "platform/text_encoding.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/message_text.h"
#include "protocol/numbers.h"
#include "protocol/status.h"
#include "serial/log_line.h"
#include "ui/log_colour.h"

namespace protocol = rq::protocol;

namespace {

std::string Utf8(const wxString& text)
{
    return text.utf8_string();
}

// UTF-16 code units of the text (wxString holds code points here; on Windows
// its characters already are UTF-16 units).
std::u16string Utf16(const wxString& text)
{
    std::u16string units;
    for (wxUniChar c : text) {
        const wxUint32 code = c.GetValue();
        if (code >= 0x10000 && code <= 0x10FFFF) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
    }
    return units;
}

}  // namespace

std::size_t RQ_M4TFrame::BeginFrame(std::uint8_t* frame)
{
    std::optional<std::uint8_t> address;
    if (idAddressing) {
        address = protocol::ParseAddress(Utf8(IdText->GetValue()));
        if (!address) return 0;
    }
    return protocol::BeginEnvelope(frame, address);
}

std::size_t RQ_M4TFrame::FinishFrame(std::uint8_t* frame, std::size_t start, std::size_t checksumPos)
{
    const std::size_t length = protocol::SealEnvelope(frame, start, checksumPos);
    if (length != 0) {
        // Every command is answered by one status byte.
        replyBuffer.reset(new (std::nothrow) std::uint8_t[1]());
        if (replyBuffer) {
            replyLength = 1;
            replyDecoder = &RQ_M4TFrame::DecodeStatus;
        }
    }
    return length;
}

std::size_t RQ_M4TFrame::BuildLedParameters(std::uint8_t* frame)
{
    const auto width = protocol::ParseUnsignedRequired(Utf8(WidthText->GetValue()));
    const auto high = protocol::ParseUnsignedRequired(Utf8(HighText->GetValue()));
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0 || !width || !high) return 0;
    const std::size_t end = protocol::EncodeLedParameters(frame, pos, *width, *high,
                                                          ScanChoice->GetStringSelection() == "P10",
                                                          ScrollLevelChoice->GetSelection(),
                                                          ScrollSpeedChoice->GetSelection());
    return FinishFrame(frame, 0, end);
}

std::size_t RQ_M4TFrame::BuildBrightness(std::uint8_t* frame)
{
    // The brightness comes from the selected list entry, not from typed text.
    const std::uint8_t value =
        protocol::BrightnessByte(protocol::ParseUnsignedRequired(Utf8(BrightCombo->GetStringSelection())));
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0) return 0;
    return FinishFrame(frame, 0, protocol::EncodeBrightness(frame, pos, value));
}

std::size_t RQ_M4TFrame::BuildBlank(std::uint8_t* frame)
{
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0) return 0;
    return FinishFrame(frame, 0, protocol::EncodeBlank(frame, pos));
}

std::size_t RQ_M4TFrame::BuildAlignment(std::uint8_t* frame)
{
    const auto code = protocol::AlignmentCode(AlignChoice->GetSelection());
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0 || !code) return 0;
    return FinishFrame(frame, 0, protocol::EncodeAlignment(frame, pos, *code));
}

std::size_t RQ_M4TFrame::BuildReset(std::uint8_t* frame)
{
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0) return 0;
    return FinishFrame(frame, 0, protocol::EncodeReset(frame, pos));
}

std::size_t RQ_M4TFrame::BuildFactoryDefaults(std::uint8_t* frame)
{
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0) return 0;
    return FinishFrame(frame, 0, protocol::EncodeFactoryDefaults(frame, pos));
}

std::size_t RQ_M4TFrame::BuildBlinking(std::uint8_t* frame)
{
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0) return 0;
    const std::size_t end = protocol::EncodeBlinking(
        frame, pos, BlinkingEnableCheck->IsChecked(), protocol::ParseUnsignedLenient(Utf8(OnIntervalText->GetValue())),
        protocol::ParseUnsignedLenient(Utf8(OffIntervalText->GetValue())));
    return FinishFrame(frame, 0, end);
}

std::size_t RQ_M4TFrame::BuildTimedScroll(std::uint8_t* frame)
{
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0) return 0;
    const std::size_t end =
        protocol::EncodeTimedScroll(frame, pos, protocol::ParseUnsignedLenient(Utf8(ElapsedText->GetValue())),
                                    protocol::ParseUnsignedLenient(Utf8(RollSpeedText->GetValue())));
    return FinishFrame(frame, 0, end);
}

std::size_t RQ_M4TFrame::BuildChangeId(std::uint8_t* frame)
{
    // A new ID goes to one addressed controller, never to whoever listens.
    if (!idAddressing) return 0;
    const auto newIdValue = protocol::ParseAddress(Utf8(NewIdText->GetValue()));
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0 || !newIdValue) return 0;
    return FinishFrame(frame, 0, protocol::EncodeChangeId(frame, pos, *newIdValue));
}

namespace {

// The message text in the encoding the selected choice names; none when a
// character cannot go out in the controller's double-byte code (sending the
// rest would drop it, or a neighbour with it, while the log says "Success").
// `refusal` then says which character.
std::optional<std::vector<std::uint8_t>> MessageBytes(const wxString& text, const wxString& choice, int& encoding,
                                                      wxString& refusal)
{
    encoding = protocol::MessageEncoding(Utf8(choice));
    const std::u16string units = Utf16(text);
    std::string multibyte;
    if (encoding != protocol::kEncodingUtf16) {
        const protocol::MultibyteText converted =
            protocol::ToMultibyteText(units, &rq::platform::ToControllerMultibyte);
        if (converted.refused) {
            refusal = wxString::Format(_("The character %s cannot be sent in GBK: choose UNICODE"),
                                       wxString::FromUTF8(protocol::CharacterName(*converted.refused)));
            return std::nullopt;
        }
        multibyte = converted.bytes;
    }
    return protocol::EncodeMessageText(units, encoding, multibyte);
}

}  // namespace

std::size_t RQ_M4TFrame::BuildMessage(std::uint8_t* frame)
{
    int encoding = 0;
    const auto text = MessageBytes(MessageText->GetValue(), MessageChoice->GetStringSelection(), encoding, refusal);
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0 || !text) return 0;
    // A text too long for one frame is refused: nothing is sent.
    const std::size_t end = protocol::EncodeMessage(frame, pos, encoding, *text);
    if (end == 0) return 0;
    return FinishFrame(frame, 0, end);
}

std::size_t RQ_M4TFrame::BuildDefaultMessage(std::uint8_t* frame)
{
    int encoding = 0;
    const auto text = MessageBytes(MessageText->GetValue(), MessageChoice->GetStringSelection(), encoding, refusal);
    const std::size_t pos = BeginFrame(frame);
    if (pos == 0 || !text) return 0;
    const std::size_t end = protocol::EncodeDefaultMessage(frame, pos, encoding, *text);
    if (end == 0) return 0;
    return FinishFrame(frame, 0, end);
}

void RQ_M4TFrame::DecodeStatus(int /*received*/, const wxString& prefix)
{
    const protocol::StatusMeaning meaning = protocol::DecodeStatusByte(replyBuffer[0]);
    AppendLog(prefix + wxGetTranslation(meaning.text),
              ToColour(meaning.success ? rq::serial::BLUE : rq::serial::RED), false);
}

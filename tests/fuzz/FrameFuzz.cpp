// The broker's frame reader: the Assembler over a byte stream that arrives
// in pieces, then each frame's fields read with the Reader in the layout of
// its kind (Frame.h). The first input byte sets the piece size.
//
// Checked: the pieces give the same frames as the whole stream; a frame
// whose fields read exactly writes back to a body of the same size (the
// header's flag byte reads as 0 or 1) that reads back to itself; log texts escape
// to printable ASCII; a command or reply text goes into an envelope as the
// broker hands it over (refused only with an archive_exception).
#include <algorithm>
#include <string>
#include <vector>

#include <boost/archive/archive_exception.hpp>

#include "CommandData.h"
#include "Frame.h"
#include "FuzzCheck.h"

using hvoframe::Reader;
using hvoframe::Writer;

namespace {

std::vector<std::vector<uint8_t>> frames(const uint8_t* data, size_t size, size_t piece)
{
    hvoframe::Assembler in;
    std::vector<std::vector<uint8_t>> out;
    hvoframe::Span body;
    for (size_t at = 0; at < size; at += piece) {
        in.append(data + at, std::min(piece, size - at));
        hvoframe::Assembler::Result r;
        while ((r = in.next(body)) == hvoframe::Assembler::FRAME) {
            fuzzcheck::check(body.size > 0 && body.size <= hvoframe::kMaxFrame, "a frame body out of bounds");
            out.emplace_back(body.data, body.data + body.size);
        }
        if (r == hvoframe::Assembler::BAD_LENGTH) {
            fuzzcheck::check(in.badLength() == 0 || in.badLength() > hvoframe::kMaxFrame,
                             "length " + std::to_string(in.badLength()) + " refused");
            break; // the connection is dropped
        }
    }
    return out;
}

void escaped(const std::wstring& text)
{
    for (char c : hvoframe::jsonEscape(text))
        fuzzcheck::check(c >= 0x20 && c < 0x7F, "jsonEscape wrote a byte outside printable ASCII");
}

void envelope(bool hasData, const std::wstring& text)
{
    if (!hasData)
        return;
    HVO::CommandData command(1, APP_PROTECTION_HVK_ID, false);
    try {
        HVO::PayloadAccess::setInput(command, text);
    } catch (const boost::archive::archive_exception&) {
    }
}

/// Reads one body by its kind and writes the fields read into `again`
/// (length first); true when the reader ended exactly at the body's end.
bool readBody(const std::vector<uint8_t>& body, std::vector<uint8_t>& again)
{
    Reader r(body.data(), body.size());
    const uint8_t kind = r.u8();
    Writer w(static_cast<hvoframe::Kind>(kind));
    switch (kind) {
    case hvoframe::HELLO:
        w.i32(r.i32()).u8(r.u8());
        break;
    case hvoframe::COMMAND:
    case hvoframe::REPLY: {
        w.header(r.header()).u8(r.u8()); // wait flag, or status
        if (kind == hvoframe::REPLY)
            w.u8(r.u8()); // completed
        const uint8_t hasData = r.u8();
        Reader raw = r; // the hub passes the text on as it stands
        const std::wstring text = r.text();
        const hvoframe::Span span = raw.rawText();
        fuzzcheck::check(raw.ok() == r.ok() && (!r.ok() || span.size == 4 * text.size()),
                         "the raw text and the decoded text disagree");
        w.u8(hasData).text(text);
        envelope(r.ok() && hasData != 0, text);
        break;
    }
    case hvoframe::LOG: {
        w.u8(r.u8()).i32(r.i32()).i32(r.i32()).i32(r.i32());
        for (int i = 0; i < 3; ++i) {
            const std::wstring text = r.text();
            escaped(text);
            w.text(text);
        }
        break;
    }
    case hvoframe::HEALTH_POKE:
        w.u32(r.u32());
        break;
    case hvoframe::HEALTH_ANSWER:
        w.u32(r.u32()).u8(r.u8());
        break;
    case hvoframe::NO_ROUTE:
        w.header(r.header()).u8(r.u8());
        break;
    case hvoframe::CONTROL: {
        const uint8_t op = r.u8();
        w.u8(op);
        if (op == hvoframe::HELLO_REFUSED || op == hvoframe::MODULES_ANSWER || op == hvoframe::LOG_PATH_ANSWER) {
            const std::wstring text = r.text();
            escaped(text);
            w.text(text);
        } else if (op == hvoframe::HEALTH_REQUEST) {
            w.i32(r.i32());
        } else if (op == hvoframe::HEALTH_RESULT) {
            w.i32(r.i32()).u8(r.u8());
        }
        break;
    }
    default:
        return false; // an unknown kind is ignored by every reader
    }
    if (!r.ok()) {
        // After a failed read every further read gives zeros and stays failed.
        fuzzcheck::check(r.u32() == 0 && r.text().empty() && !r.ok(), "a failed reader read on");
        return false;
    }
    again = w.finish();
    return r.atEnd(); // trailing bytes: the hub drops the connection
}

void roundTrip(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> again;
    if (!readBody(body, again))
        return;
    const std::string kind = std::to_string(body[0]);
    fuzzcheck::check(again.size() == body.size() + 4, "a frame of kind " + kind + " writes back another size");
    const std::vector<uint8_t> written(again.begin() + 4, again.end());
    std::vector<uint8_t> third;
    fuzzcheck::check(readBody(written, third) && third == again,
                     "a frame of kind " + kind + " as written reads back other fields");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = 1 + data[0] % 64;
    fuzzcheck::guard([&] {
        const auto whole = frames(data + 1, size - 1, size);
        const auto pieces = frames(data + 1, size - 1, piece);
        fuzzcheck::check(whole == pieces, "pieces of " + std::to_string(piece) + " bytes give other frames");
        for (const auto& body : whole)
            roundTrip(body);
    });
    return 0;
}

void fuzzcheck::writeSeeds(const std::string& dir)
{
    hvoframe::Header h;
    h.commandId = 20004;
    h.word1 = 7;
    h.destinationId = APP_PROTECTION_HVK_ID;
    const std::wstring payload = L"22 serialization::archive 18 0 0 300 1 1 1 0";
    const std::vector<std::vector<uint8_t>> all{
        Writer(hvoframe::HELLO).i32(APP_PROTECTION_HVK_ID).u8(hvoframe::HAS_COMMAND | hvoframe::HAS_LOG).finish(),
        Writer(hvoframe::COMMAND).header(h).u8(1).u8(1).text(payload).finish(),
        Writer(hvoframe::REPLY).header(h).u8(1).u8(1).u8(1).text(payload).finish(),
        Writer(hvoframe::LOG).u8(hvoframe::LOG_MSG).i32(3).i32(1).i32(2).text(L"core").text(L"caf\x00e9").text(L"").finish(),
        Writer(hvoframe::HEALTH_POKE).u32(9).finish(),
        Writer(hvoframe::HEALTH_ANSWER).u32(9).u8(1).finish(),
        Writer(hvoframe::NO_ROUTE).header(h).u8(hvoframe::NO_SUCH_MODULE).finish(),
        Writer(hvoframe::CONTROL).u8(hvoframe::HELLO_REFUSED).text(L"module 3 already registered").finish(),
        Writer(hvoframe::CONTROL).u8(hvoframe::HEALTH_RESULT).i32(4).u8(2).finish(),
    };
    std::string stream(1, '\x07'); // pieces of 8 bytes
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string frame(all[i].begin(), all[i].end());
        writeSeed(dir, "frame-" + std::to_string(i), std::string(1, '\x3f') + frame);
        stream += frame;
    }
    writeSeed(dir, "stream", stream);
}

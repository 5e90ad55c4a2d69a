// A server's byte stream, arbitrary: the decoder reads it the same however the reads cut it, and
// in place; data escaped again decodes to itself; every negotiation gets at most one well-formed
// answer, none when it only repeats what was just said, and an offer is refused only once.
#include "serial/rfc2217codec.h"

#include <array>
#include <cstdlib>

using namespace kirt::telnet;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct Decoded
{
    Bytes data;
    std::vector<Event> events;
};

// The stream in reads of 1..16 bytes as the cuts say, each decoded in place as the port does.
Decoded decodeInReads(const std::uint8_t* in, std::size_t size, std::uint8_t cuts)
{
    Decoder decoder;
    Decoded out;
    std::size_t at = 0;
    for (unsigned read = 0; at < size; ++read) {
        const std::size_t count = std::min<std::size_t>(size - at, 1 + ((cuts + read * 7) & 15));
        Bytes chunk(in + at, in + at + count);
        const std::size_t data = decoder.decode(chunk.data(), count, chunk.data(), out.events);
        check(data <= count);
        out.data.insert(out.data.end(), chunk.begin(), chunk.begin() + static_cast<long>(data));
        at += count;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t cuts = input[0];
    const std::uint8_t* in = input + 1;
    --size;

    Decoded whole;
    whole.data.resize(size);
    Decoder decoder;
    whole.data.resize(decoder.decode(in, size, whole.data.data(), whole.events));
    const Decoded pieces = decodeInReads(in, size, cuts);
    check(pieces.data == whole.data && pieces.events == whole.events);

    Negotiation negotiation;
    negotiation.start();
    const Event* previous = nullptr;
    // An offer is refused once a connection, however often it comes back.
    std::array<std::array<bool, 256>, 2> refused{};
    for (const Event& event : whole.events) {
        if (event.kind == Event::Kind::Subnegotiation) {
            check(event.payload.size() <= Decoder::MaxPayload);
            comReply(event);
        }
        if (event.kind != Event::Kind::Negotiation)
            continue;
        const Bytes answer = negotiation.receive(event.verb, event.code);
        if (!answer.empty()) {
            const bool aboutServer = event.verb == Will || event.verb == Wont;
            check(answer.size() == 3 && answer[0] == Iac && answer[2] == event.code);
            check(aboutServer ? answer[1] == Do || answer[1] == Dont
                              : answer[1] == Will || answer[1] == Wont);
            check(!(previous && *previous == event));
            if (answer[1] == Dont || answer[1] == Wont) {
                const bool offer = event.verb == Will || event.verb == Do;
                bool& once = refused[aboutServer ? 0 : 1][event.code];
                check(!(offer && once));
                once = once || offer;
            }
        }
        previous = &event;
    }

    Bytes escaped;
    appendEscaped(escaped, whole.data.data(), whole.data.size());
    Decoded again;
    again.data.resize(escaped.size());
    Decoder fresh;
    again.data.resize(
        fresh.decode(escaped.data(), escaped.size(), again.data.data(), again.events));
    check(again.data == whole.data && again.events.empty());
    return 0;
}

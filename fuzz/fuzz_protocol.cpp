// A rule's packet text and a stream of received bytes, both arbitrary: the matcher never looks
// outside its packet and completes no more often than the stream allows.
#include "protocol/protocolrule.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    kirt::ProtocolRule rule;
    rule.setFormat(data[0] & 1 ? kirt::DataFormat::Asc : kirt::DataFormat::Hex);
    // The packet text runs to the first 0xFF byte; what follows is received, with re-parses of
    // a shorter text mixed in to move the packet under a partial match.
    std::size_t split = 1;
    while (split < size && data[split] != 0xFF)
        ++split;
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data + 1),
                                             static_cast<qsizetype>(split - 1));
    rule.parse(text);
    std::uint32_t completed = 0;
    std::size_t fed = 0;
    for (std::size_t i = split + 1; i < size; ++i) {
        if (data[i] == 0xFE && i + 1 < size) {
            rule.parse(text.left(data[++i] % (text.size() + 1)));
            continue;
        }
        if (rule.match(data[i]))
            ++completed;
        ++fed;
        if (rule.length() > 0 && rule.progress() >= rule.length())
            std::abort();
        if (rule.length() > kirt::ProtocolRule::PacketCapacity)
            std::abort();
    }
    if (completed != rule.responseCount() || completed > fed)
        std::abort();
    return 0;
}

// Any bytes as what the robot simulator reads from the line: however the bytes arrive (at once or in two
// pieces), the same messages come out, each starting with its command byte, and every other byte is counted
// as skipped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode.h"

namespace {

struct Decoded {
    std::vector<zanth::sim::Message> messages;
    std::size_t skipped = 0;
};

Decoded Run(const std::uint8_t* data, std::size_t size, std::size_t cut) {
    Decoded d;
    zanth::sim::MessageReader reader;
    zanth::sim::Message m;
    reader.Feed(data, cut);
    while (reader.Next(m)) d.messages.push_back(m);
    d.skipped += reader.TakeSkipped();
    reader.Feed(data + cut, size - cut);
    while (reader.Next(m)) d.messages.push_back(m);
    d.skipped += reader.TakeSkipped();
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Decoded whole = Run(data, size, 0);
    const Decoded split = Run(data, size, size ? data[0] % (size + 1) : 0);
    if (whole.messages != split.messages || whole.skipped != split.skipped) std::abort();
    if (whole.skipped + whole.messages.size() * sizeof(zanth::sim::Message) > size) std::abort();
    for (const zanth::sim::Message& m : whole.messages) {
        if (m[0] != 'k' && m[0] != 'K') std::abort();
        const std::string line = zanth::sim::DescribeMessage(m);
        if (line.empty() || line[0] != static_cast<char>(m[0])) std::abort();
    }
    return 0;
}

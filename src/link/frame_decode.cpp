#include "link/frame_decode.h"

namespace zanth {
namespace {

// The frame's bytes that carry bits: the two button bytes and the flags.
constexpr int kBitBytes[] = {1, 2, 7};

ControllerModel Untouched(const ControllerModel& model) {
    ControllerModel m = model;
    m.invalidate = nullptr;
    for (ControllerItem& item : m.items)
        item.keyDown = item.mouseDown = item.padDown = item.remoteDown = item.latched = 0;
    return m;
}

}  // namespace

FrameDecoder::FrameDecoder(const ControllerModel& model) {
    ControllerModel m = Untouched(model);
    const ControllerFrame rest = BuildFrame(m);
    for (const ControllerItem& item : model.items) names_.push_back(item.displayName);
    for (int i = 0; i < kInputItemCount; ++i) {
        m.item(i).keyDown = 1;
        const ControllerFrame pressed = BuildFrame(m);
        m.item(i).keyDown = 0;
        for (int b : kBitBytes) {
            const auto cleared = static_cast<std::uint8_t>(rest[b] & ~pressed[b]);
            if (cleared != 0) bits_.push_back({i, b, cleared});
        }
    }
    m.ledItem().latched = 1;
    ledMask_ = static_cast<std::uint8_t>(rest[7] & ~BuildFrame(m)[7]);
}

DecodedFrame FrameDecoder::Decode(const ControllerFrame& frame) const {
    DecodedFrame d;
    for (const Bit& bit : bits_)
        if ((frame[static_cast<std::size_t>(bit.byte)] & bit.mask) == 0) d.held |= 1u << bit.item;
    d.rightX = frame[3];
    d.rightY = frame[4];
    d.leftX = frame[5];
    d.leftY = frame[6];
    d.led = ledMask_ != 0 && (frame[7] & ledMask_) == 0;
    d.startByteOk = frame[0] == 0xFF;
    return d;
}

std::string FrameDecoder::HeldNames(std::uint32_t held) const {
    std::string out;
    for (std::size_t i = 0; i < names_.size() && i < 32; ++i) {
        if ((held & (1u << i)) == 0) continue;
        if (!out.empty()) out += ", ";
        out += names_[i];
    }
    return out.empty() ? "-" : out;
}

}  // namespace zanth

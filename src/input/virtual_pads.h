#pragma once
// TEST SEAM. Gamepads that exist only inside this process, for end-to-end runs of the whole program on
// machines without real pads or /dev/uinput. Never set in normal use.
//
//   ZANTH_VIRTUAL_PADS="NAME@VVVV:PPPP;NAME@VVVV:PPPP"   pads to plug in at start (USB vendor and product in
//                                                        hex: they make the pad's GUID), numbered from 0
//   ZANTH_VIRTUAL_PAD_INPUT=FIFO                         lines that work them, one command per line:
//       N button B 0|1      N axis A -32768..32767      N hat H 0..15 (SDL's hat bits)
//       N unplug            N plug                      (plugged in again, at the end of SDL's list)
//
// Each pad is a raw joystick of 6 axes, 1 hat and 20 buttons, with rumble motors. Written to stderr: each
// pad plugged in, "virtual pad N: GUID NAME", and each pulse, "virtual pad N: rumble LOW HIGH".
#include <cstdint>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zanth {

class VirtualPads {
  public:
    struct Description {
        std::string name;
        std::uint16_t vendor = 0, product = 0;
    };
    // The pads of ZANTH_VIRTUAL_PADS, plugged in; nullptr when it is not set (or names none).
    static std::unique_ptr<VirtualPads> FromEnvironment();
    // "NAME@VVVV:PPPP;..." read as pads; entries that do not read so are left out.
    static std::vector<Description> ParseDescriptions(std::string_view text);

    explicit VirtualPads(std::vector<Description> descriptions);
    ~VirtualPads();
    VirtualPads(const VirtualPads&) = delete;
    VirtualPads& operator=(const VirtualPads&) = delete;

    // Applies one command line; false when it does not read as one.
    bool Apply(std::string_view line);
    // Reads what `fd` holds now (non-blocking) and applies every whole line.
    void Feed(int fd);
    // The FIFO of ZANTH_VIRTUAL_PAD_INPUT, opened non-blocking for reading and writing (so that it never
    // reads as ended when a writer closes); -1 when not set or not openable.
    static int OpenInput();

  private:
    struct Pad;
    bool Plug(Pad& pad);
    void Unplug(Pad& pad);

    std::vector<std::unique_ptr<Pad>> pads_;
    std::string pending_;  // a line not yet whole
    bool sdl_ = false;
};

}  // namespace zanth

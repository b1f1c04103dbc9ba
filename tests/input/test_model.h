#pragma once
#include <utility>
#include <vector>

#include "model/controller_model.h"

namespace zanth::test {

// A model with the factory key and gamepad bindings of the 23 input items, built by hand so that the input
// rules are tested without a settings file. Repaint requests are recorded as item indices.
struct TestModel {
    ControllerModel model;
    std::vector<int> invalidated;

    TestModel() {
        static constexpr int kKeys[kInputItemCount] = {23, 24, 38, 37, 63, 64, 67, 65, 66, 16, 44, 31,
                                                       22, 50, 35, 21, 36, 49, 34, 17, 32, 45, 30};
        static constexpr int kPadButtons[kButtonCount] = {2, 0, 1, 3, -1, -1, -999, 8, 9, 4, 5, 10, 6, 7, 11};
        for (int i = 0; i < kInputItemCount; ++i) model.item(i).keyCode = kKeys[i];
        for (int i = 0; i < kButtonCount; ++i) model.item(i).padButton = kPadButtons[i];
        model.item(kItemMode).togglesLed = 1;
        model.ledItem().latched = 1;
        const int axes[4] = {0, 1, 2, 5};
        for (int i = 0; i < 4; ++i) model.axisBindings[static_cast<std::size_t>(i)].axisIndex = axes[i];
        model.gamepadReady = 1;
        model.invalidate = [this](const ControllerItem& it) {
            invalidated.push_back(static_cast<int>(&it - model.items.data()));
        };
    }
    TestModel(const TestModel&) = delete;
    TestModel& operator=(const TestModel&) = delete;

    ControllerItem& item(int i) { return model.item(i); }
    // Returns what was invalidated since the last call.
    std::vector<int> TakeInvalidated() { return std::exchange(invalidated, {}); }
};

}  // namespace zanth::test

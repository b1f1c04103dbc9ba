#pragma once
#include <utility>
#include <vector>

#include "base/app_context.h"
#include "model/controller_model.h"
#include "model/settings.h"

namespace zanth::test {

// The model as a first run builds it (factory bindings, no settings file), in the state the window's
// set-up leaves it: LED lit, gamepad ready. Repaint requests are recorded as item indices.
struct TestModel {
    AppContext app{StartupInfo{"English", false, "", {}, {}}};
    ControllerModel model;
    std::vector<int> invalidated;

    TestModel() {
        BuildModel(model, app, Settings{});
        model.ledItem().latched = 1;
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

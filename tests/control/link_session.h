#pragma once
// A session connected to the robot simulator on a pseudo-terminal, ticked as the window would tick it, with
// every message and reply the link reported.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../link/sim_process.h"
#include "control/link_traffic.h"
#include "control/session.h"
#include "fakes.h"
#include "input/apply.h"
#include "link/link_worker.h"

namespace zanth::test {

using namespace std::chrono_literals;

class LinkSessionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    std::string PathOf(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }

    // Starts the simulator with `options` and connects a new session (COM3) to it.
    void Connect(const std::vector<std::string>& options) {
        session_.reset();
        sim_ = std::make_unique<SimProcess>(options);
        ASSERT_FALSE(sim_->path().empty());
        app_ = std::make_unique<AppContext>(StartupInfo{"English", false, dir_.path().toStdString(), {}, {}});
        Settings settings;
        settings.ports["COM3"] = sim_->path();
        SessionParts parts;
        auto keyboard = std::make_unique<FakeKeyboard>();
        keyboard_ = keyboard.get();
        parts.keyboard = std::move(keyboard);
        auto gamepad = std::make_unique<FakeGamepad>();
        gamepad_ = gamepad.get();
        parts.gamepad = std::move(gamepad);
        parts.sound = std::make_unique<FakeSound>();
        parts.listDevices = [] { return std::vector<std::string>{}; };
        session_ = std::make_unique<ControlSession>(*app_, settings, std::move(parts));
        session_->Open([] { return true; });
        sent_.clear();
        replies_.clear();
        // Queued to this thread, as the window gets them.
        QObject::connect(&session_->link(), &LinkWorker::messageSent, session_.get(),
                         [this](const SentMessage& m) { sent_.push_back(m); });
        QObject::connect(&session_->link(), &LinkWorker::replyRead, session_.get(),
                         [this](const ReplyRead& r) { replies_.push_back(r); });
        ASSERT_EQ(session_->ToggleConnection(2).outcome, ConnectResult::Outcome::kConnected);
    }

    // Ticks every 50 ms and lets the link's signals in, until `done` or `limit`; `beforeTick` may change
    // what the devices read.
    bool Drive(const std::function<bool()>& done, std::chrono::milliseconds limit,
               const std::function<void()>& beforeTick = {}) {
        const auto start = std::chrono::steady_clock::now();
        auto next = start;
        while (!done()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - start > limit) return false;
            if (now >= next) {
                if (beforeTick) beforeTick();
                session_->Tick(inputs_);
                next += 50ms;
            }
            QEventLoop loop;
            QTimer::singleShot(2, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }

    // Lets the link's signals in without ticking, until `done` or `limit`: only the samples taken for the
    // messages read the devices meanwhile.
    bool Await(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            QEventLoop loop;
            QTimer::singleShot(1, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }

    // Holds (or lets go of) the key bound to `item`.
    void Key(int item, bool down) {
        keyboard_->down[static_cast<std::size_t>(session_->model().item(item).keyCode)] =
            down ? kKeyDownByte : 0;
    }

    LinkTraffic& traffic() { return session_->traffic(); }

    QTemporaryDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<AppContext> app_;
    std::unique_ptr<ControlSession> session_;
    FakeKeyboard* keyboard_ = nullptr;
    FakeGamepad* gamepad_ = nullptr;
    PanelInputs inputs_;
    std::vector<SentMessage> sent_;
    std::vector<ReplyRead> replies_;
};

}  // namespace zanth::test

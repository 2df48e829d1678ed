#pragma once
// A control on scripted doubles, as most core tests need it.

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "control/video_cntl.hpp"
#include "doubles/memory_engine.hpp"
#include "doubles/scripted_channel.hpp"
#include "doubles/scripted_host.hpp"

namespace strovia::test {

class ControlTest : public ::testing::Test {
protected:
    Trace trace;
    ScriptedHost host{trace};
    ScriptedChannel channel{trace};
    MemoryEngine* engine = nullptr;  // owned by the holder, made on first opening
    int engines_made = 0;
    EngineHolder holder{[this] {
        ++engines_made;
        auto e = std::make_unique<MemoryEngine>(trace);
        engine = e.get();
        if (prepare_engine) prepare_engine(*e);
        return e;
    }};
    std::function<void(MemoryEngine&)> prepare_engine;
    VideoCntl control{host, channel, holder};
};

}  // namespace strovia::test

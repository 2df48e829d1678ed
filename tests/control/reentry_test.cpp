// A host that misuses the control or calls back into it at awkward moments:
// before any property is set, from inside the end handler, and a control
// destroyed under its own event (calls twice in a row and inside the start
// yields are left to the fault harness). Each must end in an error value or
// the normal outcome, never in a second end, a timer left ticking or (under
// the sanitizers) a touch of freed memory.

#include <gtest/gtest.h>

#include <memory>

#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

class Reentry : public ControlTest {
protected:
    Reentry() {
        posture("Tadasana", std::int64_t{7}, std::string("Video"));
        segments(7, {{"one", 0}, {"two", 30}, {"three", 60}});
        posture("Vrksasana", std::int64_t{12}, std::string("Photo"));
        photos(12, {{std::string("p1"), std::string("one.bmp")},
                    {std::string("p2"), std::string("two.bmp")}});
        narration("stopped");
        video_at(1000);
        channel.answer("status video mode", std::string("stopped") + '\0');
    }

    // Delivers ticks as the host's loop would, until both timers are off or
    // `limit` ticks have gone by.
    void run(int limit = 50) {
        for (int n = 0; n < limit && (host.timer1().enabled() || host.timer2().enabled()); ++n) {
            if (host.timer1().enabled()) control.Timer1_Timer();
            if (host.timer2().enabled()) control.Timer2_Timer();
        }
    }
    void expect_idle() { EXPECT_FALSE(host.timer1().enabled() || host.timer2().enabled()); }
};

TEST_F(Reentry, MethodsOfAFreshControlFailWithANumberOrDoNothing) {
    VideoCntl fresh{host, channel, holder};
    // fileOpen reports nothing by design; it must not play or end either.
    ASSERT_TRUE(fresh.fileOpen());
    EXPECT_EQ(channel.commands, std::vector<std::string>{"close all"});
    // The previews fail with the engine's number; the transport has nothing to do.
    for (const auto& [id, ok] : {std::pair{dispid::kPreview, false},
                                 {dispid::kPpreview, false},
                                 {dispid::kPause, true},
                                 {dispid::kStart, true},
                                 {dispid::kStopPlay, true}}) {
        EXPECT_EQ(static_cast<bool>(fresh.invoke(id, InvokeKind::Method)), ok) << id;
    }
    // Ticks the host delivers anyway find no run to act for.
    channel.commands.clear();
    fresh.Timer1_Timer();
    fresh.Timer2_Timer();
    EXPECT_TRUE(channel.commands.empty());
    EXPECT_EQ(host.video_ends, 0);
    expect_idle();
}

TEST_F(Reentry, TheEndHandlerStartsTheNextProgramme) {
    int ends = 0;
    host.on_video_end = [&] {
        if (++ends == 1) {
            control.AsanaNaME("Vrksasana");
            ASSERT_TRUE(control.fileOpen());
        }
    };
    ASSERT_TRUE(control.fileOpen());
    run();
    EXPECT_EQ(ends, 2) << "the video programme's end, then the photo programme's";
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\two.bmp");
    expect_idle();
}

TEST_F(Reentry, ANestedLoopInTheEndHandlerRaisesNoSecondEnd) {
    // The handler runs the host's loop itself, ticks included, and the user
    // presses Start in it.
    host.on_video_end = [&] {
        host.on_video_end = nullptr;
        (void)control.Start();
        run(10);
    };
    for (const char* name : {"Tadasana", "Vrksasana"}) {
        SCOPED_TRACE(name);
        host.video_ends = 0;
        control.AsanaNaME(name);
        ASSERT_TRUE(control.fileOpen());
        run();
        EXPECT_EQ(host.video_ends, 1);
        // Start brought the ended programme's timer back: its ticks find no run.
        channel.commands.clear();
        run(10);
        EXPECT_TRUE(channel.commands.empty());
        EXPECT_EQ(host.video_ends, 1);
        ASSERT_TRUE(control.StopPlay());
    }
}

// (Destroyed in the middle of a programme: the fault harness ends with that.)
TEST_F(Reentry, DestroyedByItsEndHandler) {
    const std::pair<const char*, DispId> cases[] = {{"Tadasana", dispid::kFileOpen},
                                                    {"Vrksasana", dispid::kFileOpen},
                                                    {"Tadasana", dispid::kPreview},
                                                    {"Vrksasana", dispid::kPpreview}};
    for (const auto& [name, method] : cases) {
        SCOPED_TRACE(name);
        auto owned = std::make_unique<VideoCntl>(host, channel, holder);
        ASSERT_TRUE(owned->UserControl_InitProperties());
        owned->Resourcedir(kRoot);
        owned->AsanaNaME(name);
        host.video_ends = 0;
        host.on_video_end = [&] { owned.reset(); };
        ASSERT_TRUE(owned->invoke(method, InvokeKind::Method));
        for (int i = 0; i < 50 && owned; ++i) {
            if (host.timer1().enabled()) owned->Timer1_Timer();
            if (owned && host.timer2().enabled()) owned->Timer2_Timer();
        }
        EXPECT_EQ(owned, nullptr) << "the programme ended";
        EXPECT_EQ(host.video_ends, 1);
        expect_idle();
    }
}

}  // namespace
}  // namespace strovia::test

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "control/property_store.hpp"
#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;

// A property store that keeps defaults out, as a host's store may, and can
// be told to fail on a key.
class MemoryStore : public PropertyStore {
public:
    Result<std::string> read(std::string_view key, std::string_view default_value) override {
        if (fail_key == key) return Error{380, "Invalid property value"};
        auto it = values.find(std::string(key));
        return it == values.end() ? std::string(default_value) : it->second;
    }
    Status write(std::string_view key, std::string_view value,
                 std::string_view default_value) override {
        if (fail_key == key) return Error{383, "Property is read-only"};
        if (value == default_value) {
            values.erase(std::string(key));
        } else {
            values[std::string(key)] = std::string(value);
        }
        return {};
    }
    std::map<std::string, std::string> values;
    std::string fail_key;
};

class ControlShell : public ControlTest {};

TEST_F(ControlShell, PropertiesRoundTripThroughTheStoreAndItsErrorsEndTheHandler) {
    MemoryStore store;
    control.Resourcedir("/srv/course");
    control.AsanaNaME("Vṛkṣāsana");
    ASSERT_TRUE(control.UserControl_WriteProperties(store));
    VideoCntl loaded(host, channel, holder);
    ASSERT_TRUE(loaded.UserControl_ReadProperties(store));
    EXPECT_EQ(loaded.Resourcedir(), "/srv/course");
    EXPECT_EQ(loaded.AsanaNaME(), "Vṛkṣāsana");

    store.fail_key = "Resourcedir";
    VideoCntl failed(host, channel, holder);
    auto read = failed.UserControl_ReadProperties(store);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().number, 380);
    EXPECT_EQ(failed.StoredAsanaNaME, "") << "the handler ended before the second key";
    control.AsanaNaME("x");
    auto write = control.UserControl_WriteProperties(store);
    ASSERT_FALSE(write);
    EXPECT_EQ(store.values.at("AsanaNaME"), "Vṛkṣāsana")
        << "nothing after the failing key is written";
}

TEST_F(ControlShell, EveryWriteSignalsItsPropertyAndDispatchRefusesWhatIsNotThere) {
    ASSERT_TRUE(control.UserControl_InitProperties());
    EXPECT_EQ(control.AsanaNaME(), "0");
    control.AsanaNaME("Trikonasana");
    auto put = std::vector<Variant>{std::string("Trikonasana")};
    ASSERT_TRUE(control.invoke(dispid::kAsanaNaME, InvokeKind::PropertyPut, put));
    auto got = control.invoke(dispid::kAsanaNaME, InvokeKind::PropertyGet);
    ASSERT_TRUE(got);
    EXPECT_EQ(std::get<std::string>(*got), "Trikonasana");
    auto dir = std::vector<Variant>{std::string(" C:\\course\\ ")};
    ASSERT_TRUE(control.invoke(dispid::kResourcedir, InvokeKind::PropertyPut, dir));
    EXPECT_EQ(control.StoredResourcedir, " C:\\course\\ ") << "stored unchanged, not trimmed";
    EXPECT_EQ(control.StoredAsanaNaME, "Trikonasana") << "ids are not swapped";
    // Unchanged values signal too; the handlers never do; a write starts nothing.
    EXPECT_THAT(host.changes, ElementsAre("AsanaNaME", "AsanaNaME", "Resourcedir"));
    EXPECT_TRUE(channel.commands.empty());

    auto unknown = control.invoke(0x60030005, InvokeKind::Method);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(static_cast<std::uint32_t>(unknown.error().number), 0x80020003u);
    EXPECT_NE(unknown.error().text.find("0x60030005"), std::string::npos);

    EXPECT_FALSE(control.invoke(dispid::kVideoEnd, InvokeKind::Method)) << "an event is no method";
    EXPECT_FALSE(control.invoke(dispid::kStopPlay, InvokeKind::PropertyGet));
    EXPECT_FALSE(control.invoke(dispid::kAsanaNaME, InvokeKind::Method));

    auto extra = std::vector<Variant>{std::string("x")};
    auto bad = control.invoke(dispid::kPause, InvokeKind::Method, extra);
    ASSERT_FALSE(bad);
    EXPECT_EQ(static_cast<std::uint32_t>(bad.error().number), 0x8002000Eu);
    EXPECT_FALSE(control.invoke(dispid::kAsanaNaME, InvokeKind::PropertyPut));
    EXPECT_EQ(host.changes.size(), 3u) << "a refused write signals nothing";
}

// A host that misuses the control or calls back into it at awkward moments:
// before any property is set, from inside the end handler, and a control
// destroyed under its own event. Each must end in an error value or the
// normal outcome, never in a second end, a timer left ticking or (under the
// sanitizers) a touch of freed memory.
class Reentry : public ControlTest {
protected:
    Reentry() {
        video_posture({{"one", 0}, {"two", 30}, {"three", 60}});
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

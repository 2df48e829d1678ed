#pragma once
// A control on scripted doubles, with a catalogue in memory under the
// content folder C:\course, as most core tests need it.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/video_cntl.hpp"
#include "doubles/memory_engine.hpp"
#include "doubles/scripted_channel.hpp"
#include "doubles/scripted_host.hpp"

namespace strovia::test {

// A segment row; its EndPos is StartPos + 9 and its Filelen 2.5.
struct Segment {
    std::string filename;
    int start_pos;
};

struct Photo {
    FieldValue mp2name;
    FieldValue image;
};

class ControlTest : public ::testing::Test {
protected:
    static constexpr const char* kRoot = "C:\\course";
    static constexpr const char* kCatalogue = "C:\\course\\video\\AVPelmo.mdb";

    ControlTest() {
        control.UserControl_InitProperties().ok();
        control.Resourcedir(kRoot);
        control.AsanaNaME("Tadasana");
        host.changes.clear();
        trace.take();
    }

    // Tadasana's video opened into Picture1.
    static constexpr const char* kVideoOpen =
        "mci open C:\\course\\video\\tada.mpg  alias video type mpegVideo  style child parent  "
        "4242";

    // The catalogue is made with its password, so every opening checks it.
    void posture(const std::string& name, FieldValue id, FieldValue type,
                 FieldValue video = std::string("tada.mpg")) {
        db.files[kCatalogue].password = "Mint3laneKK";
        auto& t = db.table(kCatalogue, "Asanas", {"AsanaID", "name", "Disp_Type", "VideoName"});
        t.rows.push_back({std::move(id), name, std::move(type), std::move(video)});
    }
    void segments(int id, const std::vector<Segment>& rows) {
        auto& t = db.table(kCatalogue, "Audio_Asana" + std::to_string(id),
                           {"Filename", "Action", "StartPos", "EndPos", "Filelen"});
        for (const auto& s : rows) {
            t.rows.push_back({s.filename, std::string("act"), std::int64_t{s.start_pos},
                              std::int64_t{s.start_pos + 9}, 2.5});
        }
    }
    // Tadasana as a video posture (AsanaID 7) of these segments.
    void video_posture(const std::vector<Segment>& rows) {
        posture("Tadasana", std::int64_t{7}, std::string("Video"));
        segments(7, rows);
    }
    void photos(int id, const std::vector<Photo>& rows) {
        auto& t =
            db.table(kCatalogue, "Photo_Asana" + std::to_string(id), {"Mp2name", "ImageName"});
        for (const auto& p : rows) t.rows.push_back({p.mp2name, p.image});
    }

    // A tick as the host delivers it: only while the timer is enabled.
    void tick1() {
        ASSERT_TRUE(host.timer1().enabled()) << "Timer1 ticked while disabled";
        control.Timer1_Timer();
    }
    void tick2() {
        ASSERT_TRUE(host.timer2().enabled()) << "Timer2 ticked while disabled";
        control.Timer2_Timer();
    }

    void narration(const std::string& mode) { channel.answer("status sound mode", mode + '\0'); }
    void video_at(int frame) {
        channel.answer("status video Position", std::to_string(frame) + '\0');
    }

    // The effects since the last call, without the catalogue's openings and queries.
    std::vector<std::string> effects() {
        std::vector<std::string> out;
        for (auto& l : trace.take()) {
            if (l.rfind("query ", 0) != 0 && l.rfind("db open ", 0) != 0) out.push_back(l);
        }
        return out;
    }
    static std::string sound_open(const std::string& name) {
        return "mci open C:\\course\\sound\\mp2\\" + name + ".mp2 alias Sound type mpegVideo";
    }

    Trace trace;
    ScriptedHost host{trace};
    ScriptedChannel channel{trace};
    std::unique_ptr<MemoryEngine> owned_engine = std::make_unique<MemoryEngine>(trace);
    MemoryEngine& db = *owned_engine;
    EngineHolder holder{[this] { return std::move(owned_engine); }};
    VideoCntl control{host, channel, holder};
};

}  // namespace strovia::test

#include "export/programme.hpp"

#include <algorithm>

#include "catalogue/posture_rows.hpp"
#include "catalogue/rules.hpp"
#include "playback/commands.hpp"

namespace strovia::exporting {
namespace {

constexpr std::int32_t kNotPlayable = 9201;

Error unplayable(std::string text) { return Error{kNotPlayable, std::move(text)}; }

std::string why(const Error& e) { return "error " + std::to_string(e.number) + ": " + e.text; }

namespace field = catalogue::field;

Result<std::string> text_of(const Recordset& rs, std::string_view field) {
    auto v = rs.field(field);
    if (!v) return v.error();
    return field_as_text(*v);
}

}  // namespace

std::int64_t frames_to_ns(std::int64_t frames, int fps_n, int fps_d) {
    return frames * 1000000000LL * fps_d / fps_n;
}

Result<std::vector<std::string>> posture_names(CatalogueEngine& engine,
                                               const std::string& content) {
    const std::string path = catalogue::catalogue_path(content);
    auto db = engine.default_workspace().open_database(path, false, true, catalogue::kConnect);
    if (!db) return Error{db.error().number, "the catalogue cannot be opened: " + db.error().text};
    auto rs = (*db)->open_recordset(catalogue::all_postures());
    if (!rs) {
        (void)(*db)->close();
        return Error{rs.error().number, "the postures cannot be read: " + rs.error().text};
    }
    std::vector<std::string> names;
    for (Status s = (*rs)->move_first(); s && !(*rs)->eof(); s = (*rs)->move_next()) {
        if (auto n = text_of(**rs, field::kName)) names.push_back(*n);
    }
    (void)(*rs)->close();
    (void)(*db)->close();
    return names;
}

Result<ExportPosture> read_posture(CatalogueEngine& engine, const std::string& content,
                                   const std::string& library_folder, const std::string& name) {
    const std::string path = catalogue::catalogue_path(content);
    // Read without the exclusive lock, so a player holding the course does
    // not stop an export.
    auto db = engine.default_workspace().open_database(path, false, true, catalogue::kConnect);
    if (!db) return unplayable("the catalogue cannot be opened (" + why(db.error()) + ")");
    struct Closer {
        std::shared_ptr<Database> db;
        ~Closer() { (void)db->close(); }
    } closer{*db};

    // fileOpen: the first row the lookup finds, then its display type.
    auto found = catalogue::look_up_posture(**db, name);
    if (!found) {
        if (found.error().number == engine_error::kNoCurrentRecord) {
            return unplayable("not in the catalogue");
        }
        return unplayable("the lookup fails (" + why(found.error()) + ")");
    }
    if (!found->asana_id) return unplayable("no AsanaID (" + why(found->asana_id.error()) + ")");
    ExportPosture p;
    p.name = name;
    p.video = catalogue::file_open_shows(found->disp_type) == catalogue::Shows::Video;
    std::string video_name;
    if (p.video) {
        auto v = found->video_name ? field_as_text(*found->video_name)
                                   : Result<std::string>(found->video_name.error());
        if (!v) return unplayable("no VideoName (" + why(v.error()) + ")");
        video_name = *v;
    }

    const auto rows = catalogue::read_programme_rows(**db, *found->asana_id, p.video);
    if (rows.unreadable)
        return unplayable("its table cannot be read (" + why(*rows.unreadable) + ")");
    if (rows.rows() == 0) return unplayable("its table holds no rows: nothing plays");
    p.source = {name, content, library_folder, *found, rows};

    if (p.video) {
        p.video_path = commands::video_path(content, video_name);
        // The first two rows are loaded whole by the start, and a field that
        // fails there ends it; later rows keep the value before for a field
        // that cannot be read, as the tick does.
        ExportPosture::Row current;
        for (std::size_t i = 0; i < rows.segments.size(); ++i) {
            const auto& row = rows.segments[i];
            if (i < 2) {
                if (auto s = row.whole(); !s) {
                    return unplayable("segment row " + std::to_string(i + 1) + ": " +
                                      s.error().text + ": the start of the programme fails there");
                }
            }
            if (auto f = row.narration())
                current.narration = commands::narration_path(content, library_folder, *f);
            if (auto n = row.start()) current.start_pos = *n;
            current.action.clear();
            if (row.action) {
                if (auto a = field_as_text(*row.action)) current.action = *a;
            }
            p.rows.push_back(current);
        }
    } else {
        for (std::size_t i = 0; i < rows.photos.size(); ++i) {
            const auto& row = rows.photos[i];
            auto mp2 = row.narration();
            auto image = row.picture();
            if (i == 0 && (!mp2 || !image)) {
                return unplayable("photo row 1: " + why(!mp2 ? mp2.error() : image.error()) +
                                  ": the start of the programme fails there");
            }
            // Later rows without a narration name are passed over; one
            // without a picture name shows an empty box.
            if (i == 0 || row.shown_after_first()) {
                p.rows.push_back({commands::narration_path(content, library_folder, *mp2),
                                  0,
                                  image && !image->empty() ? commands::picture_path(content, *image)
                                                           : std::string(),
                                  {}});
            }
        }
    }
    return p;
}

Result<Schedule> derive_schedule(const ExportPosture& posture, const MediaLengths& lengths) {
    sim::Media media;
    if (posture.video) {
        media[posture.video_path] = {
            frames_to_ns(lengths.video_frames, lengths.fps_n, lengths.fps_d), lengths.video_frames,
            lengths.fps_n, lengths.fps_d};
    }
    for (const auto& [path, ns] : lengths.narration_ns) media[path] = {ns, 0, 0, 1};
    auto run = sim::run_programme(posture.source, media);
    if (!run) return run.error();

    Schedule s;
    if (posture.video) {
        s.fps_n = lengths.fps_n;
        s.fps_d = lengths.fps_d;
    }
    using Kind = sim::Happening::Kind;
    for (const auto& h : run->happenings) {
        switch (h.kind) {
            case Kind::NarrationStart:
                s.narrations.push_back({h.path, h.at_ns, h.length_ns});
                break;
            case Kind::VideoPlays:
                s.shots.push_back({Schedule::Shot::Kind::Play, h.at_ns, h.value, {}});
                break;
            case Kind::VideoHeld:
                s.shots.push_back({Schedule::Shot::Kind::Hold, h.at_ns, h.value, {}});
                break;
            case Kind::Picture:
                // The video is drawn over Picture1, which fileOpen cleared.
                if (!posture.video)
                    s.shots.push_back({Schedule::Shot::Kind::Picture, h.at_ns, 0, h.path});
                break;
            case Kind::Part:
            case Kind::End: break;
        }
    }
    const auto parts = run->parts();
    for (std::size_t k = 0; k < parts.size(); ++k) {
        s.chapters.push_back({posture.name + " " + std::to_string(k + 1), parts[k].from_ns,
                              parts[k].from_ns + parts[k].length_ns});
    }
    s.end_ns = run->end_ns;
    // A shot of no length (a hold that ends where it starts, the start's
    // play and pause) says nothing.
    std::vector<Schedule::Shot> shots;
    for (std::size_t i = 0; i < s.shots.size(); ++i) {
        if (i + 1 < s.shots.size() && s.shots[i + 1].from_ns <= s.shots[i].from_ns) continue;
        shots.push_back(s.shots[i]);
    }
    s.shots = std::move(shots);
    if (s.shots.empty() || s.shots.front().from_ns != 0) {
        return unplayable("the programme shows nothing at its start");
    }
    return s;
}

const Schedule::Shot& Schedule::shot_at(std::int64_t t_ns) const {
    auto it = std::upper_bound(shots.begin(), shots.end(), t_ns,
                               [](std::int64_t t, const Shot& shot) { return t < shot.from_ns; });
    return it == shots.begin() ? shots.front() : *std::prev(it);
}

int Schedule::frame_at(std::int64_t t_ns, int video_frames) const {
    const Shot& shot = shot_at(t_ns);
    switch (shot.kind) {
        case Shot::Kind::Picture: return -1;
        case Shot::Kind::Hold: return shot.frame;
        case Shot::Kind::Play: break;
    }
    // The frame whose time has come, counted as the device counts its
    // position; a video that has run out shows its last frame.
    const std::int64_t ran = (t_ns - shot.from_ns) * fps_n / (1000000000LL * fps_d);
    return static_cast<int>(std::min<std::int64_t>(shot.frame + ran, video_frames - 1));
}

}  // namespace strovia::exporting

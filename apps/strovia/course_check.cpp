#include "strovia/course_check.hpp"

#include <algorithm>
#include <map>
#include <optional>

#include "catalogue/rules.hpp"
#include "platform/paths.hpp"
#include "playback/commands.hpp"

namespace strovia::cli {
namespace {

std::string error_text(const Error& e) {
    return "error " + std::to_string(e.number) + ": " + e.text;
}

std::string text_or(const FieldValue& v, std::string fallback) {
    auto t = field_as_text(v);
    return t ? *t : fallback;
}

std::string upper_ascii(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

class Walker {
public:
    Walker(CatalogueEngine& engine, MediaProbe* probe, std::string content, std::string library)
        : engine_(engine),
          probe_(probe),
          content_(std::move(content)),
          library_(std::move(library)) {}

    CourseReport run();

private:
    struct AsanaRow {
        int row = 0;
        Result<FieldValue> name, id, disp, video;
    };

    void add(const std::string& posture, const std::string& place, std::string text,
             bool warning = false) {
        report_.findings.push_back({posture, place, std::move(text), warning});
    }

    // The field as text, or a finding saying why it cannot be read.
    std::optional<std::string> text_field(const Result<FieldValue>& v, const char* field,
                                          const std::string& posture, const std::string& place,
                                          const std::string& consequence) {
        if (!v) {
            add(posture, place,
                std::string("no field ") + field + " (" + error_text(v.error()) + ")" +
                    consequence);
            return std::nullopt;
        }
        auto t = field_as_text(*v);
        if (!t) {
            add(posture, place, std::string(field) + " is null" + consequence);
            return std::nullopt;
        }
        return *t;
    }

    void blanks(const std::string& posture, const std::string& place, const std::string& path) {
        if (path.find(' ') != std::string::npos) {
            add(posture, place,
                "path with a blank: " + platform::map_path(path) +
                    " (quoted in the open command by this build; unquoted it would not open)",
                true);
        }
    }

    // Probes each file once, however many rows name it.
    template <class Probe>
    bool media(const std::string& posture, const std::string& place, const char* what,
               const std::string& path, Probe probe) {
        blanks(posture, place, path);
        if (!probe_) return true;
        auto [it, fresh] = probed_.try_emplace(path, Status{});
        if (fresh) it->second = probe();
        if (!it->second) {
            add(posture, place,
                std::string(what) + " " + platform::map_path(path) + ": " +
                    it->second.error().text);
        }
        return it->second.ok();
    }

    // Walks a posture's table row by row; the row count, -1 when the table
    // cannot be read.
    template <class Row>
    int walk(const std::string& posture, const std::string& table, const std::string& query,
             const char* kind, Row row) {
        auto rs = db_->open_recordset(query);
        if (!rs) {
            add(posture, table, std::string("no ") + kind + " table: " + error_text(rs.error()));
            return -1;
        }
        int count = 0;
        for (Status s = (*rs)->move_first(); s && !(*rs)->eof(); s = (*rs)->move_next()) {
            ++count;
            row(**rs, table + " row " + std::to_string(count), count);
        }
        (void)(*rs)->close();
        return count;
    }

    void lookup(const AsanaRow& a, const std::string& name, const std::string& place);
    std::optional<int> video(const std::string& posture, const std::string& place,
                             const std::string& video_name);
    int segments(const std::string& posture, const FieldValue& id, std::optional<int> frames);
    int pictures(const std::string& posture, const FieldValue& id);
    void narration(const std::string& posture, const std::string& place, const std::string& name) {
        const std::string path = commands::narration_path(content_, library_, name);
        if (!media(posture, place, "narration", path, [&] { return probe_->narration(path); }) &&
            name == "mt") {
            add(posture, place,
                "the narration \"mt\" is taken from beside the library, in " +
                    platform::map_path(library_));
        }
    }

    CatalogueEngine& engine_;
    MediaProbe* probe_;
    std::string content_, library_;
    std::shared_ptr<Database> db_;
    std::map<std::string, Status> probed_;
    std::map<std::string, int> frames_;
    CourseReport report_;
};

CourseReport Walker::run() {
    const std::string path = catalogue::catalogue_path(content_);
    auto db = engine_.default_workspace().open_database(path, false, true, catalogue::kConnect);
    if (!db) {
        add("", "catalogue",
            platform::map_path(path) + " cannot be opened: " + error_text(db.error()));
        return report_;
    }
    db_ = *db;
    std::vector<AsanaRow> rows;
    {
        auto rs = db_->open_recordset("select * from Asanas");
        if (!rs) {
            add("", "Asanas", "cannot be read: " + error_text(rs.error()));
            (void)db_->close();
            return report_;
        }
        Status s = (*rs)->move_first();
        if (!s) add("", "Asanas", "holds no posture");
        for (int row = 1; s && !(*rs)->eof(); ++row) {
            rows.push_back({row, (*rs)->field("name"), (*rs)->field("AsanaID"),
                            (*rs)->field("Disp_Type"), (*rs)->field("VideoName")});
            s = (*rs)->move_next();
        }
        (void)(*rs)->close();
    }

    for (const auto& a : rows) {
        const std::string place = "Asanas row " + std::to_string(a.row);
        PostureSummary summary;
        const auto name = text_field(a.name, "name", "", place, ": no lookup finds this posture");
        summary.name = name.value_or("");
        const std::string posture = name ? *name : "(" + place + ")";
        if (name) lookup(a, *name, place);

        const auto id = text_field(a.id, "AsanaID", posture, place, ": its tables have no name");
        summary.asana_id = id.value_or("");
        const auto disp = text_field(a.disp, "Disp_Type", posture, place,
                                     ": fileOpen shows it as pictures, Preview fails");
        summary.disp_type = disp.value_or("");
        summary.plays_video = disp && *disp == "Video";
        summary.previews_photo = disp && upper_ascii(*disp) == "PHOTO";
        if (disp && !summary.plays_video && !summary.previews_photo) {
            add(posture, place,
                "Disp_Type \"" + *disp +
                    "\": fileOpen shows pictures but Preview plays the video (only \"Video\" "
                    "exactly is a video posture for fileOpen)",
                true);
        }

        // What each method needs: a video to preview, or pictures; a video
        // posture's segments for fileOpen.
        std::optional<int> frames;
        if (disp && !summary.previews_photo) {
            if (auto v =
                    text_field(a.video, "VideoName", posture, place, ": the video cannot play"))
                frames = video(posture, place, *v);
        }
        if (id) {
            if (summary.plays_video) {
                summary.parts = segments(posture, *a.id, frames);
            } else if (disp) {
                summary.parts = pictures(posture, *a.id);
            } else {
                (void)pictures(posture, *a.id);
            }
        }
        report_.postures.push_back(std::move(summary));
    }
    (void)db_->close();
    return report_;
}

void Walker::lookup(const AsanaRow& a, const std::string& name, const std::string& place) {
    if (name.find('"') != std::string::npos) {
        add(name, place,
            "name holds a double quote (doubled in the lookup by this build; unmended the lookup "
            "fails)",
            true);
    }
    auto rs = db_->open_recordset(catalogue::posture_lookup(name));
    if (!rs) {
        add(name, place, "the lookup of this name fails: " + error_text(rs.error()));
        return;
    }
    if (auto s = (*rs)->move_first(); !s) {
        add(name, place, "the lookup of this name finds nothing: " + error_text(s.error()));
    } else if (auto found = (*rs)->field("AsanaID"); found && a.id && *found != *a.id) {
        add(name, place,
            "the lookup finds another posture of this name first (AsanaID " +
                text_or(*found, "null") + "); names are compared without regard to case");
    }
    (void)(*rs)->close();
}

std::optional<int> Walker::video(const std::string& posture, const std::string& place,
                                 const std::string& video_name) {
    const std::string path = commands::video_path(content_, video_name);
    std::optional<int> frames;
    const bool ok = media(posture, place, "video", path, [&]() -> Status {
        auto f = probe_->video_frames(path);
        if (!f) return f.error();
        if (*f <= 0) return Error{0, "has no video frames"};
        frames_[path] = *f;
        return {};
    });
    if (ok && frames_.contains(path)) frames = frames_[path];
    return frames;
}

int Walker::segments(const std::string& posture, const FieldValue& id, std::optional<int> frames) {
    const std::string table = "Audio_Asana" + text_or(id, "");
    std::optional<std::int16_t> previous_start;
    const int count = walk(
        posture, table, catalogue::segment_rows(id), "segment",
        [&](Recordset& rs, const std::string& place, int row) {
            if (auto f = text_field(rs.field("Filename"), "Filename", posture, place,
                                    ": the segment has no narration")) {
                narration(posture, place, *f);
            }
            (void)text_field(rs.field("Action"), "Action", posture, place, "");
            std::optional<std::int16_t> start, end;
            for (const char* field : {"StartPos", "EndPos"}) {
                auto v = rs.field(field);
                auto n = v ? field_as_int16(*v) : Result<std::int16_t>(v.error());
                if (!n) {
                    add(posture, place,
                        std::string(field) +
                            " cannot be read as a 16-bit whole number: " + error_text(n.error()));
                } else {
                    (std::string_view(field) == "StartPos" ? start : end) = *n;
                }
            }
            auto len = rs.field("Filelen");
            if (auto d = len ? field_as_double(*len) : Result<double>(len.error()); !d) {
                add(posture, place, "Filelen cannot be read as a number: " + error_text(d.error()));
            }
            // The first row's StartPos is never used: the video starts at its
            // beginning; every later one is where the segment before ends.
            if (row > 1 && start) {
                if (frames && *start >= *frames) {
                    add(posture, place,
                        "StartPos " + std::to_string(*start) +
                            " lies past the video's last frame (" + std::to_string(*frames - 1) +
                            "): the video never reaches it");
                } else if (*start < 0) {
                    add(posture, place,
                        "StartPos " + std::to_string(*start) +
                            " is negative: the video is never held for this segment",
                        true);
                } else if (previous_start && *start <= *previous_start) {
                    add(posture, place,
                        "StartPos " + std::to_string(*start) +
                            " is not above the row before: the segment before shows no video",
                        true);
                }
            }
            if (start && end && *end < *start) {
                add(posture, place, "EndPos lies before StartPos (EndPos is not used in playing)",
                    true);
            }
            if (row > 1 && start) previous_start = start;
            if (row == 1 && start) previous_start = std::int16_t{0};
        });
    if (count == 0) {
        add(posture, table, "no segment rows: fileOpen plays nothing");
    } else if (count == 1) {
        add(posture, table,
            "one row only (played here as one segment; unmended, VideoEnd would never come)", true);
    }
    return count;
}

int Walker::pictures(const std::string& posture, const FieldValue& id) {
    const std::string table = "Photo_Asana" + text_or(id, "");
    const int count = walk(posture, table, catalogue::photo_rows(id), "photo",
                           [&](Recordset& rs, const std::string& place, int) {
                               if (auto f = text_field(rs.field("Mp2name"), "Mp2name", posture,
                                                       place, ": the picture has no narration")) {
                                   narration(posture, place, *f);
                               }
                               if (auto f = text_field(rs.field("ImageName"), "ImageName", posture,
                                                       place, ": no picture can be shown")) {
                                   const std::string path = commands::picture_path(content_, *f);
                                   (void)media(posture, place, "picture", path,
                                               [&] { return probe_->picture(path); });
                               }
                           });
    if (count == 0) add(posture, table, "no photo rows: fileOpen shows nothing");
    return count;
}

}  // namespace

int CourseReport::errors() const {
    return static_cast<int>(std::count_if(findings.begin(), findings.end(),
                                          [](const Finding& f) { return !f.warning; }));
}

int CourseReport::warnings() const { return static_cast<int>(findings.size()) - errors(); }

CourseReport check_course(CatalogueEngine& engine, MediaProbe* probe, const std::string& content,
                          const std::string& library_folder) {
    return Walker(engine, probe, content, library_folder).run();
}

std::string finding_line(const Finding& f) {
    std::string line = f.posture.empty() ? "" : f.posture + " ";
    line += "[" + f.place + "]: ";
    if (f.warning) line += "warning: ";
    return line + f.text;
}

}  // namespace strovia::cli

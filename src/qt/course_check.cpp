#include "qt/course_check.hpp"

#include <filesystem>
#include <map>
#include <set>
#include <type_traits>

#include "catalogue/posture_rows.hpp"
#include "catalogue/rules.hpp"
#include "platform/paths.hpp"
#include "playback/commands.hpp"

namespace strovia::course {
namespace {

std::string error_text(const Error& e) {
    return "error " + std::to_string(e.number) + ": " + e.text;
}

std::string text_or(const FieldValue& v, std::string fallback) {
    auto t = field_as_text(v);
    return t ? *t : fallback;
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
    std::optional<std::string> text_field(const Result<FieldValue>& v, std::string_view field,
                                          const std::string& posture, const std::string& place,
                                          const std::string& consequence) {
        if (!v) {
            add(posture, place,
                "no field " + std::string(field) + " (" + error_text(v.error()) + ")" +
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

    // A file that lies outside the course folder once links are followed
    // (the narration library counts as inside), said once a posture.
    void outside(const std::string& posture, const std::string& place, const std::string& path) {
        namespace fs = std::filesystem;
        std::error_code ec;
        auto real = [&](const std::string& p) {
            return fs::weakly_canonical(fs::absolute(p, ec), ec);
        };
        auto under = [](const fs::path& file, const fs::path& folder) {
            auto f = file.begin();
            for (auto d = folder.begin(); d != folder.end(); ++d, ++f) {
                if (!d->empty() && (f == file.end() || *f != *d)) return false;
            }
            return true;
        };
        const fs::path file = real(platform::map_path(path));
        if (under(file, real(content_)) || under(file, real(platform::map_path(library_))) ||
            !outside_.insert(posture + '\n' + file.string()).second) {
            return;
        }
        add(posture, place,
            platform::map_path(path) + " lies outside the course folder (" + file.string() +
                "); strovia export skips this posture unless --allow-outside is given",
            true);
    }

    // Probes each file once, however many rows name it.
    template <class Probe>
    bool media(const std::string& posture, const std::string& place, const char* what,
               const std::string& path, Probe probe) {
        blanks(posture, place, path);
        outside(posture, place, path);
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

    // A posture's table as the one row reader gives it, each row with its
    // place; the parts its programme plays, -1 when the table cannot be read.
    template <class Row>
    int walk(const std::string& posture, const FieldValue& id, Row row) {
        constexpr bool video =
            std::is_invocable_v<Row, const catalogue::SegmentRow&, const std::string&, int>;
        const auto rows = catalogue::read_programme_rows(*db_, id, video);
        if (rows.unreadable) {
            add(posture, rows.table,
                std::string("no ") + (video ? "segment" : "photo") +
                    " table: " + error_text(*rows.unreadable));
            return -1;
        }
        for (int n = 1; n <= rows.rows(); ++n) {
            const std::string place = rows.table + " row " + std::to_string(n);
            const auto i = static_cast<std::size_t>(n - 1);
            if constexpr (video) {
                row(rows.segments[i], place, n);
            } else {
                row(rows.photos[i], place, n);
            }
        }
        return rows.parts();
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
    std::set<std::string> outside_;
    std::shared_ptr<Database> db_;
    std::map<std::string, Status> probed_;
    std::map<std::string, int> frames_;
    CourseReport report_;
};

CourseReport Walker::run() {
    namespace field = catalogue::field;
    const std::string path = catalogue::catalogue_path(content_);
    // Shared: the course is only read, and closed again before returning.
    auto db = engine_.default_workspace().open_database(path, false, true, catalogue::kConnect);
    if (!db) {
        report_.unreadable = db.error();
        add("", "catalogue",
            platform::map_path(path) + " cannot be opened: " + error_text(db.error()));
        return report_;
    }
    db_ = *db;
    const std::string asanas(catalogue::kPostureTable);
    std::vector<AsanaRow> rows;
    {
        auto rs = db_->open_recordset(catalogue::all_postures());
        if (!rs) {
            report_.unreadable = rs.error();
            add("", asanas, "cannot be read: " + error_text(rs.error()));
            (void)db_->close();
            return report_;
        }
        Status s = (*rs)->move_first();
        if (!s) add("", asanas, "holds no posture");
        for (int row = 1; s && !(*rs)->eof(); ++row) {
            rows.push_back({row, (*rs)->field(field::kName), (*rs)->field(field::kAsanaID),
                            (*rs)->field(field::kDispType), (*rs)->field(field::kVideoName)});
            s = (*rs)->move_next();
        }
        (void)(*rs)->close();
    }

    for (const auto& a : rows) {
        const std::string place = asanas + " row " + std::to_string(a.row);
        PostureSummary summary;
        summary.row = a.row;
        const auto name =
            text_field(a.name, field::kName, "", place, ": no lookup finds this posture");
        summary.name = name.value_or("");
        const std::string posture = name ? *name : "(" + place + ")";
        if (name) lookup(a, *name, place);

        const auto id =
            text_field(a.id, field::kAsanaID, posture, place, ": its tables have no name");
        summary.asana_id = id.value_or("");

        // What each method does with the display type, by the control's own rules.
        summary.file_open = catalogue::file_open_shows(a.disp);
        const auto preview = catalogue::preview_shows(a.disp);
        if (preview) {
            summary.preview = *preview;
        } else {
            summary.preview_error = preview.error();
        }
        summary.disp_type_null = a.disp && std::holds_alternative<Null>(*a.disp);
        const auto disp = text_field(a.disp, field::kDispType, posture, place,
                                     ": fileOpen shows it as pictures, Preview fails");
        summary.disp_type = disp.value_or("");
        const bool plays_video = summary.file_open == catalogue::Shows::Video;
        const bool previews_video = preview && *preview == catalogue::Shows::Video;
        if (!plays_video && previews_video) {
            add(posture, place,
                "Disp_Type \"" + *disp +
                    "\": fileOpen shows pictures but Preview plays the video " + "(only \"" +
                    std::string(catalogue::kVideoType) +
                    "\" exactly is a video posture for fileOpen)",
                true);
        }

        // What each method needs: a video to play or preview, the pictures,
        // a video posture's segments.
        std::optional<int> frames;
        if (plays_video || previews_video) {
            if (auto v = text_field(a.video, field::kVideoName, posture, place,
                                    ": the video cannot play"))
                frames = video(posture, place, *v);
        }
        if (id) {
            summary.parts =
                plays_video ? segments(posture, *a.id, frames) : pictures(posture, *a.id);
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
    } else if (auto found = (*rs)->field(catalogue::field::kAsanaID);
               found && a.id && *found != *a.id) {
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
    namespace field = catalogue::field;
    const std::string table = catalogue::segment_table(id);
    std::optional<std::int16_t> previous_start;
    const int count =
        walk(posture, id, [&](const catalogue::SegmentRow& rs, const std::string& place, int row) {
            if (auto f = text_field(rs.filename, field::kFilename, posture, place,
                                    ": the segment has no narration")) {
                narration(posture, place, *f);
            }
            (void)text_field(rs.action, field::kAction, posture, place, "");
            std::optional<std::int16_t> start, end;
            for (std::string_view name : {field::kStartPos, field::kEndPos}) {
                const auto& v = name == field::kStartPos ? rs.start_pos : rs.end_pos;
                auto n = v ? field_as_int16(*v) : Result<std::int16_t>(v.error());
                if (!n) {
                    add(posture, place,
                        std::string(name) +
                            " cannot be read as a 16-bit whole number: " + error_text(n.error()));
                } else {
                    (name == field::kStartPos ? start : end) = *n;
                }
            }
            const auto& len = rs.filelen;
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
    namespace field = catalogue::field;
    const std::string table = catalogue::photo_table(id);
    const int count =
        walk(posture, id, [&](const catalogue::PhotoRow& rs, const std::string& place, int) {
            if (auto f = text_field(rs.mp2name, field::kMp2name, posture, place,
                                    ": the picture has no narration")) {
                narration(posture, place, *f);
            }
            if (auto f = text_field(rs.image_name, field::kImageName, posture, place,
                                    ": no picture can be shown")) {
                const std::string path = commands::picture_path(content_, *f);
                (void)media(posture, place, "picture", path, [&] { return probe_->picture(path); });
            }
        });
    if (count == 0) add(posture, table, "no photo rows: fileOpen shows nothing");
    return count;
}

}  // namespace

CourseReport check_course(CatalogueEngine& engine, MediaProbe* probe, const std::string& content,
                          const std::string& library_folder) {
    return Walker(engine, probe, content, library_folder).run();
}

}  // namespace strovia::course

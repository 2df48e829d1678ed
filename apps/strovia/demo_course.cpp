#include "strovia/demo_course.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "catalogue/rules.hpp"
#include "jet/writer.hpp"
#include "qt/qt_host.hpp"

extern char** environ;

namespace strovia::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kFps = 25;
constexpr int kSegmentFrames = 50;  // two seconds of video per segment
constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kStampName = "strovia-demo.stamp";
// Generation errors: a tool failed, or a file could not be written.
constexpr std::int32_t kToolFailed = 9101;
constexpr std::int32_t kCannotWrite = 9102;

struct Narration {
    std::string name;  // base name, in sound/mp2/ (or "mt", beside the library)
    std::string text;  // what is spoken
};

struct Segment {
    Narration narration;
    std::string action;
    int start = 0, end = 0;  // frames
};

struct Picture {
    Narration narration;
    std::string file;  // in video/
    std::string caption;
};

struct Posture {
    int id = 0;
    std::string name;
    std::string video;  // file in video/, for video postures
    int frames = 0;
    std::vector<Segment> segments;
    std::vector<Picture> pictures;
};

std::vector<Posture> course(int segments) {
    static const char* kSteps[] = {
        "Tadasana, the mountain pose. Stand with your feet together.",
        "Spread the toes and press them evenly into the floor.",
        "Lift the chest and lengthen the spine.",
        "Breathe in slowly, and breathe out.",
        "Let the arms hang beside the body.",
        "Keep the gaze soft and straight ahead.",
    };
    Posture tadasana{1, "Tadasana", "tadasana.mpg", segments * kSegmentFrames, {}, {}};
    for (int i = 0; i < segments; ++i) {
        const std::string text =
            i < 6 ? kSteps[i] : "Step " + std::to_string(i + 1) + ". Hold the pose and breathe.";
        tadasana.segments.push_back({{"tadasana" + std::to_string(i + 1), text},
                                     "Step " + std::to_string(i + 1),
                                     i * kSegmentFrames,
                                     (i + 1) * kSegmentFrames - 1});
    }
    // A first stretch of one second under a narration several times longer:
    // the video waits at its end.
    Posture utkatasana{2, "Utkatasana", "utkatasana.mpg", 75, {}, {}};
    utkatasana.segments = {
        {{"utkatasana1",
          "Utkatasana, the chair pose. Bend the knees as if you were sitting on a chair, "
          "and raise the arms above the head."},
         "Bend",
         0,
         24},
        {{"mt", "Relax."}, "Rest", 25, 74},
    };
    Posture vrksasana{3, "Vrksasana", "", 0, {}, {}};
    vrksasana.pictures = {
        {{"vrksasana1", "Vrksasana, the tree pose. Stand on the left leg."},
         "vrksasana1.bmp",
         "Vrksasana 1"},
        {{"vrksasana2", "Place the right foot on the inner left thigh."},
         "vrksasana2.jpg",
         "Vrksasana 2"},
        {{"vrksasana3", "Join the palms in front of the chest."}, "vrksasana3.bmp", "Vrksasana 3"},
    };
    Posture arbol{4, "\xC3\x81rbol", "", 0, {}, {}};  // a name beyond ASCII
    arbol.pictures = {{{"arbol", "The tree, seen from the side."}, "arbol.jpg", "\xC3\x81rbol"}};
    return {tadasana, utkatasana, vrksasana, arbol};
}

std::string stamp_text(const DemoSpec& spec) {
    return "strovia demo course " + std::to_string(kDemoVersion) + " segments " +
           std::to_string(spec.segments) + "\n";
}

// Runs a program without a shell; its output goes to `log`, whose end
// becomes the error text on failure.
Status run(const std::vector<std::string>& args, const fs::path& log) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return Error{kToolFailed, args[0] + " cannot be started (is it installed?)"};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    std::string out = text.str();
    if (out.size() > 400) out = "..." + out.substr(out.size() - 400);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return Error{kToolFailed, args[0] + " failed: " + out};
}

std::vector<std::string> ffmpeg(std::vector<std::string> args) {
    args.insert(args.begin(), {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"});
    return args;
}

std::string drawtext(const std::string& text, int size, const std::string& y) {
    return "drawtext=fontfile=" + std::string(kFont) + ":text='" + text +
           "':fontcolor=white:fontsize=" + std::to_string(size) + ":x=(w-tw)/2:y=" + y;
}

// Seconds of a wave file espeak-ng wrote (16-bit mono), from its data size.
double wave_seconds(const fs::path& wav) {
    std::ifstream in(wav, std::ios::binary);
    char header[44];
    if (!in.read(header, sizeof header)) return 0;
    auto u32 = [&](int at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(header[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(header[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(header[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(header[at + 3])) << 24;
    };
    const std::uint32_t rate = u32(24);
    const auto bytes = fs::file_size(wav) - 44;
    return rate ? static_cast<double>(bytes) / (2.0 * rate) : 0;
}

struct Maker {
    const DemoSpec& spec;
    const std::function<void(const std::string&)>& progress;
    fs::path log;
    int done = 0, total = 0;

    void step(const fs::path& file) {
        progress("[" + std::to_string(++done) + "/" + std::to_string(total) + "] " + file.string());
    }

    // Spoken text, encoded as MPEG-1 audio layer II; returns its seconds.
    Result<double> narration(const Narration& n) {
        const fs::path out = n.name == "mt"
                                 ? fs::path(spec.mt_folder) / "mt.mp2"
                                 : fs::path(spec.dir) / "sound" / "mp2" / (n.name + ".mp2");
        step(out);
        const fs::path wav = fs::path(spec.dir) / (n.name + ".wav");
        if (auto s = run({"espeak-ng", "-w", wav.string(), n.text}, log); !s) return s.error();
        const double seconds = wave_seconds(wav);
        auto s = run(ffmpeg({"-i", wav.string(), "-ar", "44100", "-c:a", "mp2", "-b:a", "128k",
                             out.string()}),
                     log);
        fs::remove(wav);
        if (!s) return s.error();
        return seconds;
    }

    Status video(const Posture& p) {
        const fs::path out = fs::path(spec.dir) / "video" / p.video;
        step(out);
        const std::string source = "color=c=0x2d5f8a:size=352x288:rate=" + std::to_string(kFps) +
                                   ":duration=" + std::to_string(p.frames / double(kFps));
        return run(ffmpeg({"-f", "lavfi", "-i",
                           source + "," + drawtext(p.name, 40, "90") + "," +
                               drawtext("frame %{frame_num}", 30, "160"),
                           "-frames:v", std::to_string(p.frames), "-c:v", "mpeg1video", "-b:v",
                           "1500k", "-f", "mpeg", out.string()}),
                   log);
    }

    Status picture(const Picture& pic) {
        const fs::path out = fs::path(spec.dir) / "video" / pic.file;
        step(out);
        return run(ffmpeg({"-f", "lavfi", "-i",
                           "color=c=0x3c7a3c:size=320x240," + drawtext(pic.caption, 36, "100"),
                           "-frames:v", "1", out.string()}),
                   log);
    }
};

json text_column(const char* name, int size) {
    return {{"name", name}, {"type", "Text"}, {"size", size}};
}

}  // namespace

std::vector<DemoPosture> demo_postures(const DemoSpec& spec) {
    std::vector<DemoPosture> out;
    for (const auto& p : course(spec.segments)) {
        const bool video = !p.video.empty();
        out.push_back(
            {p.name, video, static_cast<int>(video ? p.segments.size() : p.pictures.size())});
    }
    return out;
}

std::string default_demo_dir() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".cache";
    } else {
        base = fs::temp_directory_path();
    }
    return (base / "strovia" / ("demo-" + std::to_string(kDemoVersion))).string();
}

bool demo_course_complete(const DemoSpec& spec) {
    const fs::path dir(spec.dir);
    std::ifstream stamp(dir / kStampName);
    std::stringstream text;
    text << stamp.rdbuf();
    if (!stamp || text.str() != stamp_text(spec)) return false;
    std::error_code ec;
    if (!fs::exists(dir / "video" / "AVPelmo.mdb", ec)) return false;
    for (const auto& p : course(spec.segments)) {
        if (!p.video.empty() && !fs::exists(dir / "video" / p.video, ec)) return false;
        for (const auto& s : p.segments) {
            const auto file = s.narration.name == "mt"
                                  ? fs::path(spec.mt_folder) / "mt.mp2"
                                  : dir / "sound" / "mp2" / (s.narration.name + ".mp2");
            if (!fs::exists(file, ec)) return false;
        }
        for (const auto& pic : p.pictures) {
            if (!fs::exists(dir / "video" / pic.file, ec) ||
                !fs::exists(dir / "sound" / "mp2" / (pic.narration.name + ".mp2"), ec))
                return false;
        }
    }
    return true;
}

Status make_demo_course(const DemoSpec& spec,
                        const std::function<void(const std::string&)>& progress) {
    if (spec.segments < 3) return Error{jet::writer_error::kInvalidManifest, "at least 3 segments"};
    const fs::path dir(spec.dir);
    std::error_code ec;
    fs::remove(dir / kStampName, ec);
    for (const auto& sub : {dir / "video", dir / "sound" / "mp2", fs::path(spec.mt_folder)}) {
        fs::create_directories(sub, ec);
        if (ec)
            return Error{kCannotWrite,
                         "cannot make the folder " + sub.string() + ": " + ec.message()};
    }
    const auto postures = course(spec.segments);
    Maker make{spec, progress, dir / "make.log"};
    for (const auto& p : postures) {
        make.total +=
            static_cast<int>(p.segments.size() + 2 * p.pictures.size()) + (p.video.empty() ? 0 : 1);
    }
    make.total += 1;  // the catalogue

    json asanas = {{"name", catalogue::kPostureTable},
                   {"columns",
                    {{{"name", "AsanaID"}, {"type", "Long"}},
                     text_column("name", 50),
                     text_column("Disp_Type", 10),
                     text_column("VideoName", 50)}},
                   {"rows", json::array()}};
    json tables = json::array();
    for (const auto& p : postures) {
        const bool video = !p.video.empty();
        asanas["rows"].push_back({p.id, p.name,
                                  video ? catalogue::kVideoType : catalogue::kPhotoType,
                                  video ? json(p.video) : json(nullptr)});
        json table;
        if (video) {
            if (auto s = make.video(p); !s) return s;
            table = {{"name", catalogue::segment_table(std::int64_t{p.id})},
                     {"columns",
                      {text_column("Filename", 50),
                       text_column("Action", 50),
                       {{"name", "StartPos"}, {"type", "Integer"}},
                       {{"name", "EndPos"}, {"type", "Integer"}},
                       {{"name", "Filelen"}, {"type", "Double"}}}},
                     {"rows", json::array()}};
            for (const auto& s : p.segments) {
                auto seconds = make.narration(s.narration);
                if (!seconds) return seconds.error();
                table["rows"].push_back({s.narration.name, s.action, s.start, s.end, *seconds});
            }
        } else {
            table = {{"name", catalogue::photo_table(std::int64_t{p.id})},
                     {"columns", {text_column("Mp2name", 50), text_column("ImageName", 50)}},
                     {"rows", json::array()}};
            for (const auto& pic : p.pictures) {
                if (auto s = make.picture(pic); !s) return s;
                if (auto seconds = make.narration(pic.narration); !seconds) return seconds.error();
                table["rows"].push_back({pic.narration.name, pic.file});
            }
        }
        tables.push_back(std::move(table));
    }
    tables.insert(tables.begin(), asanas);

    const fs::path catalogue = dir / "video" / "AVPelmo.mdb";
    make.step(catalogue);
    auto manifest = jet::manifest_from_json({{"tables", tables}});
    if (!manifest) return manifest.error();
    if (auto s =
            jet::write_catalogue(*manifest, catalogue.string(), std::string(catalogue::kPassword));
        !s)
        return s;
    fs::remove(make.log, ec);

    std::ofstream stamp(dir / kStampName);
    stamp << stamp_text(spec);
    stamp.close();
    if (!stamp) return Error{kCannotWrite, "cannot write " + (dir / kStampName).string()};
    return {};
}

std::string demo_mt_folder(const std::string& course_dir) {
    const fs::path here = qt::library_folder_of_this_code();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(here, ec)) {
        if (entry.path().filename().string().starts_with("libstrovia.so")) return here.string();
    }
    return (fs::path(course_dir) / "sound" / "mp2").string();
}

Status ensure_demo_course(const DemoSpec& spec, bool remake) {
    if (!remake && demo_course_complete(spec)) {
        std::cout << "Demo course in " << spec.dir << " (already made)\n";
        return {};
    }
    std::cout << "Making the demo course in " << spec.dir << "\n";
    auto made = make_demo_course(spec, [](const std::string& line) {
        std::cout << "  " << line << "\n" << std::flush;
    });
    return made;
}

}  // namespace strovia::cli

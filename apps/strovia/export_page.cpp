#include "strovia/export_page.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace strovia::cli {
namespace {

std::string vtt_time(std::int64_t ns) {
    const std::int64_t ms = (ns + 500000) / 1000000;
    char out[32];
    std::snprintf(out, sizeof out, "%02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return out;
}

// Cue text and HTML text alike: markup characters written as entities.
// Line breaks become spaces: in a cue a blank line ends it, and a title
// is one line anyway.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\r':
            case '\n': out += ' '; break;
            default: out += c;
        }
    }
    return out;
}

// JSON that may stand anywhere in a script element: with no '<' at all,
// neither "</script" nor "<!--" can change how the HTML parser reads it.
// '>' and '&' go too, for good measure with "-->" and entities.
std::string script_json(const nlohmann::json& data) {
    const std::string json = data.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    std::string out;
    out.reserve(json.size());
    for (char c : json) {
        switch (c) {
            case '<': out += "\\u003c"; break;
            case '>': out += "\\u003e"; break;
            case '&': out += "\\u0026"; break;
            default: out += c;
        }
    }
    return out;
}

constexpr const char* kPageHead = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>@TITLE@</title>
@SCRIPTS@<style>
html, body { height: 100%; }
body { font-family: sans-serif; margin: 0; background: #111; color: #eee; }
main { display: flex; flex-wrap: wrap; gap: 1em; padding: 1em; box-sizing: border-box; }
/* Fits the window or a platform's frame: the video gives way, long lists
   scroll in place, and the page itself scrolls only when narrow. */
#stage { flex: 3 1 24em; display: flex; flex-direction: column; max-height: calc(100vh - 2em); }
#stage h1 { margin: 0 0 0.3em; }
video { width: 100%; min-height: 6em; flex: 0 1 auto; background: #000; }
#chapters { overflow-y: auto; flex: 0 1 auto; min-height: 2.5em; }
nav { flex: 1 1 12em; max-height: calc(100vh - 2em); overflow-y: auto; }
nav ol { padding-left: 1.5em; }
button { font: inherit; margin: 0.15em 0; padding: 0.3em 0.6em; cursor: pointer; }
.current { background: #2d5f8a; color: #fff; }
.skipped { color: #999; }
#chapters button { display: block; width: 100%; text-align: left; }
</style>
</head>
<body>
<main>
<section id="stage">
<h1 id="title"></h1>
<video id="player" controls playsinline preload="metadata"></video>
<p><button id="play-all">Play all</button></p>
<div id="chapters"></div>
</section>
<nav><h2>Postures</h2><ol id="postures"></ol></nav>
</main>
<script>
)HTML";

// Chapters come from the page's own data: browsers refuse text tracks from
// file:// pages, so the .vtt files serve other players and servers.
constexpr const char* kPageScript = R"HTML(
const video = document.getElementById("player");
const list = document.getElementById("postures");
const chaptersBox = document.getElementById("chapters");
let current = -1, playAll = false, announced = -1, segment = -1;
const playable = postures.map((p, i) => p.file ? i : -1).filter(i => i >= 0);
// What happens, for scripts that report it elsewhere.
const announce = (what, detail) =>
  document.dispatchEvent(new CustomEvent("strovia:" + what, {detail}));
const chapterAt = t =>
  Math.max(0, postures[current].chapterList.filter(c => t >= c.start).length - 1);

function show(i, play) {
  current = i;
  announced = segment = -1;
  const p = postures[i];
  document.getElementById("title").textContent = p.name;
  video.src = encodeURIComponent(p.file);
  video.querySelectorAll("track").forEach(t => t.remove());
  if (location.protocol !== "file:") {
    const track = document.createElement("track");
    track.kind = "chapters"; track.src = encodeURIComponent(p.chapters); track.default = true;
    video.appendChild(track);
  }
  chaptersBox.replaceChildren();
  p.chapterList.forEach(c => {
    const b = document.createElement("button");
    b.className = "chapter";
    b.textContent = c.title;
    b.dataset.start = c.start;
    b.onclick = () => { video.currentTime = c.start; video.play(); };
    chaptersBox.appendChild(b);
  });
  list.querySelectorAll("li").forEach((li, k) => li.classList.toggle("current", k === i));
  if (play) video.play();
}

postures.forEach((p, i) => {
  const li = document.createElement("li");
  if (p.file) {
    const b = document.createElement("button");
    b.textContent = p.name;
    b.onclick = () => { playAll = false; show(i, true); };
    li.appendChild(b);
  } else {
    li.className = "skipped";
    li.textContent = p.name + " (not exported)";
  }
  list.appendChild(li);
});

video.addEventListener("timeupdate", () => {
  chaptersBox.querySelectorAll("button").forEach((b, k, all) => {
    const next = k + 1 < all.length ? Number(all[k + 1].dataset.start) : Infinity;
    b.classList.toggle("current",
        video.currentTime >= Number(b.dataset.start) && video.currentTime < next);
  });
  const k = chapterAt(video.currentTime);
  if (announced === current && k !== segment) {
    segment = k;
    announce("segment", {index: current, segment});
  }
});
video.addEventListener("play", () => {
  if (announced === current) return;
  announced = current;
  segment = chapterAt(video.currentTime);
  announce("posturestart", {index: current, segment});
});
video.addEventListener("ended", () => {
  announce("postureend", {index: current});
  const next = playable.find(i => i > current);
  if (playAll && next !== undefined) show(next, true); else playAll = false;
});
document.getElementById("play-all").onclick = () => {
  if (!playable.length) return;
  playAll = true;
  show(playable[0], true);
};
if (playable.length) show(playable[0], false);
window.stroviaStartAt = i => {
  if (!playable.includes(i)) return false;
  playAll = true;
  show(i, true);
  return true;
};
announce("ready", {playable});
</script>
</body>
</html>
)HTML";

}  // namespace

std::string chapters_vtt(const Schedule& schedule) {
    std::string out = "WEBVTT\n";
    int n = 0;
    for (const auto& c : schedule.chapters) {
        out += "\n" + std::to_string(++n) + "\n" + vtt_time(c.from_ns) + " --> " +
               vtt_time(c.to_ns) + "\n" + escaped(c.title) + "\n";
    }
    return out;
}

std::string course_page(const std::string& title, const std::vector<PageEntry>& entries,
                        const std::vector<std::string>& scripts) {
    nlohmann::json data = nlohmann::json::array();
    for (const auto& e : entries) {
        nlohmann::json chapters = nlohmann::json::array();
        for (const auto& c : e.chapter_list) {
            chapters.push_back(
                {{"title", c.title}, {"start", static_cast<double>(c.from_ns) / 1e9}});
        }
        data.push_back({{"name", e.name},
                        {"file", e.file},
                        {"chapters", e.chapters},
                        {"chapterList", chapters},
                        {"seconds", e.seconds},
                        {"skipped", e.skipped}});
    }
    const std::string json = script_json(data);
    std::string head = kPageHead;
    head.replace(head.find("@TITLE@"), 7, escaped(title));
    std::string tags;
    for (const auto& file : scripts) tags += "<script src=\"" + escaped(file) + "\"></script>\n";
    head.replace(head.find("@SCRIPTS@"), 9, tags);
    return head + "const postures = " + json + ";" + kPageScript;
}

}  // namespace strovia::cli

#include "export/page.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace strovia::exporting {
namespace {

// Rests between postures under "Play all", as long as the player's.
constexpr int kRestSeconds = 5;
// Longer Action texts are sentences of the narration, not titles.
constexpr std::size_t kLongestTitle = 60;

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

// The Action text as a chapter title: blanks and control characters
// folded to single spaces; empty when it reads as no title (no two letters,
// or a sentence rather than a name).
std::string readable_title(const std::string& action) {
    std::string out;
    int letters = 0;
    for (unsigned char c : action) {
        if (c < 0x20 || c == 0x7f || c == ' ') {
            if (!out.empty() && out.back() != ' ') out += ' ';
            continue;
        }
        // Bytes beyond ASCII are letters of other scripts, counted once
        // at the first byte of each.
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0xc0) ++letters;
        out += static_cast<char>(c);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (letters < 2 || out.size() > kLongestTitle) return {};
    return out;
}

constexpr const char* kPageHead = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>@TITLE@</title>
@SCRIPTS@<style>
* { box-sizing: border-box; }
html, body { height: 100%; }
body { font-family: sans-serif; margin: 0; background: #111; color: #eee; }
main { display: grid; height: 100vh; height: 100dvh; gap: 0.75rem; padding: 0.75rem;
       grid-template-columns: minmax(0, 1fr) minmax(14rem, 22rem);
       grid-template-rows: minmax(0, 1fr); }
#stage { display: flex; flex-direction: column; min-height: 0; gap: 0.5rem; }
#stage h1 { font-size: 1.3rem; margin: 0; }
#screen { flex: 1 1 auto; min-height: 0; display: flex; }
video { width: 100%; height: 100%; min-height: 0; background: #000; object-fit: contain; }
#bar { display: flex; flex-wrap: wrap; align-items: center; gap: 0.5rem; }
#side { display: flex; flex-direction: column; min-height: 0; gap: 0.5rem; }
#side h2 { font-size: 1rem; margin: 0.25rem 0; }
#chapters, #postures { list-style: none; margin: 0; padding: 0; overflow-y: auto; }
#chapters { flex: 0 1 auto; min-height: 2.6rem; }
#postures { flex: 1 1 auto; min-height: 0; }
button { font: inherit; margin: 0.1rem 0; padding: 0.35rem 0.7rem; cursor: pointer;
         background: #2a2a2a; color: #eee; border: 1px solid #666; border-radius: 0.25rem; }
li button { display: block; width: 100%; text-align: left; border-left: 0.4rem solid transparent; }
li button[aria-current] { background: #2d5f8a; color: #fff; border-left-color: #ffb000;
                          font-weight: bold; }
li button[aria-current]::before { content: "\25B6\FE0E  "; }
:focus-visible { outline: 3px solid #ffb000; outline-offset: 2px; }
#rest[hidden] { display: none; }
#rest { display: flex; flex-wrap: wrap; align-items: center; gap: 0.5rem; margin: 0; }
@media (max-width: 44rem) {
  main { display: block; height: auto; }
  #screen { display: block; }
  video { height: auto; max-height: 45vh; }
  #chapters { max-height: 12rem; }
  #side { margin-top: 0.75rem; }
}
</style>
</head>
<body>
<main>
<section id="stage" aria-label="Player">
<h1 id="title"></h1>
<div id="screen"><video id="player" controls playsinline preload="metadata"></video></div>
<div id="bar">
<button id="play-all" type="button">Play all</button>
<p id="rest" role="status" aria-live="polite" hidden><span id="rest-text"></span>
<button id="rest-skip" type="button">Start now</button>
<button id="rest-stop" type="button">Stop</button></p>
</div>
</section>
<section id="side">
<h2 id="chapters-head">Chapters</h2>
<ol id="chapters" aria-labelledby="chapters-head"></ol>
<h2 id="postures-head">Postures</h2>
<ol id="postures" aria-labelledby="postures-head"></ol>
</section>
</main>
<script>
)HTML";

// Chapters come from the page's own data: browsers refuse text tracks from
// file:// pages, so the .vtt files serve other players and servers.
constexpr const char* kPageScript = R"HTML(
const video = document.getElementById("player");
const list = document.getElementById("postures");
const chaptersBox = document.getElementById("chapters");
const rest = document.getElementById("rest");
let current = -1, playAll = false, restTimer = 0, announced = -1, segment = -1;
// What happens, for scripts that report it elsewhere.
const announce = (what, detail) =>
  document.dispatchEvent(new CustomEvent("strovia:" + what, {detail}));
const chapterAt = t =>
  Math.max(0, postures[current].chapterList.filter(c => t >= c.start).length - 1);

function mark(button, on, kind) {
  if (on) button.setAttribute("aria-current", kind); else button.removeAttribute("aria-current");
}

function markChapter() {
  const buttons = [...chaptersBox.querySelectorAll("button")];
  buttons.forEach((b, k) => {
    const next = k + 1 < buttons.length ? Number(buttons[k + 1].dataset.start) : Infinity;
    const on = video.currentTime >= Number(b.dataset.start) && video.currentTime < next;
    if (on !== b.hasAttribute("aria-current")) {
      mark(b, on, "step");
      if (on) b.scrollIntoView({block: "nearest"});
    }
  });
}

function endRest() {
  clearInterval(restTimer);
  restTimer = 0;
  rest.hidden = true;
}

function show(i, play) {
  endRest();
  current = i;
  announced = segment = -1;
  const p = postures[i];
  document.getElementById("title").textContent = p.name;
  video.setAttribute("aria-label", "Video: " + p.name);
  video.src = encodeURIComponent(p.file);
  video.querySelectorAll("track").forEach(t => t.remove());
  if (location.protocol !== "file:") {
    const track = document.createElement("track");
    track.kind = "chapters"; track.src = encodeURIComponent(p.chapters); track.default = true;
    video.appendChild(track);
  }
  chaptersBox.replaceChildren();
  p.chapterList.forEach(c => {
    const li = document.createElement("li");
    const b = document.createElement("button");
    b.type = "button";
    b.textContent = c.title;
    b.dataset.start = c.start;
    b.onclick = () => { video.currentTime = c.start; video.play(); };
    li.appendChild(b);
    chaptersBox.appendChild(li);
  });
  list.querySelectorAll("button").forEach((b, k) => mark(b, k === i, "true"));
  markChapter();
  if (play) video.play();
}

postures.forEach((p, i) => {
  const li = document.createElement("li");
  const b = document.createElement("button");
  b.type = "button";
  b.textContent = p.name;
  b.onclick = () => { playAll = false; show(i, true); };
  li.appendChild(b);
  list.appendChild(li);
});

video.addEventListener("timeupdate", () => {
  markChapter();
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
video.addEventListener("seeked", markChapter);
video.addEventListener("ended", () => {
  announce("postureend", {index: current});
  if (!playAll || current + 1 >= postures.length) { playAll = false; return; }
  const next = current + 1;
  let left = restSeconds;
  const say = () => {
    document.getElementById("rest-text").textContent =
        "Rest: " + postures[next].name + " in " + left + " s";
  };
  say();
  rest.hidden = false;
  restTimer = setInterval(() => {
    if (--left <= 0) show(next, true); else say();
  }, 1000);
});
document.getElementById("rest-skip").onclick = () => {
  if (!rest.hidden) show(current + 1, true);
};
document.getElementById("rest-stop").onclick = () => { playAll = false; endRest(); };
document.getElementById("play-all").onclick = () => {
  if (!postures.length) return;
  playAll = true;
  show(0, true);
};
if (postures.length) show(0, false);
else document.getElementById("title").textContent = "No posture of this course was exported.";
window.stroviaStartAt = i => {
  if (!(i >= 0 && i < postures.length)) return false;
  playAll = true;
  show(i, true);
  return true;
};
announce("ready", {playable: postures.map((p, i) => i)});
</script>
</body>
</html>
)HTML";

}  // namespace

void title_chapters(const ExportPosture& posture, Schedule& schedule) {
    for (std::size_t k = 0; k < schedule.chapters.size(); ++k) {
        std::string title = k < posture.rows.size() ? readable_title(posture.rows[k].action) : "";
        schedule.chapters[k].title = title.empty() ? "Step " + std::to_string(k + 1) : title;
    }
}

std::string chapters_vtt(const std::string& posture, const Schedule& schedule) {
    std::string out = "WEBVTT\n";
    int n = 0;
    for (const auto& c : schedule.chapters) {
        out += "\n" + std::to_string(++n) + "\n" + vtt_time(c.from_ns) + " --> " +
               vtt_time(c.to_ns) + "\n" + escaped(posture + ": " + c.title) + "\n";
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
                        {"seconds", e.seconds}});
    }
    std::string head = kPageHead;
    head.replace(head.find("@TITLE@"), 7, escaped(title));
    std::string tags;
    for (const auto& file : scripts) tags += "<script src=\"" + escaped(file) + "\"></script>\n";
    head.replace(head.find("@SCRIPTS@"), 9, tags);
    return head + "const postures = " + script_json(data) +
           ";\nconst restSeconds = " + std::to_string(kRestSeconds) + ";" + kPageScript;
}

}  // namespace strovia::exporting

// Routines whose bodies are still to be built. Each reports that plainly
// instead of pretending to have run.

#include "control/video_cntl.hpp"

namespace strovia {
namespace {
Error not_built(const char* name) {
    return {static_cast<std::int32_t>(0x80004001u), std::string("Not implemented: ") + name};
}
}  // namespace

Status VideoCntl::fileOpen() { return not_built("fileOpen"); }
Status VideoCntl::InitAudio() { return not_built("InitAudio"); }
Status VideoCntl::InitVideo() { return not_built("InitVideo"); }
Result<Variant> VideoCntl::StopPlay() { return not_built("StopPlay"); }
Result<Variant> VideoCntl::Preview() { return not_built("Preview"); }
Result<Variant> VideoCntl::Pause() { return not_built("Pause"); }
Result<Variant> VideoCntl::Start() { return not_built("Start"); }
Result<Variant> VideoCntl::Ppreview() { return not_built("Ppreview"); }
void VideoCntl::Timer1_Timer() {}
void VideoCntl::Timer2_Timer() {}

}  // namespace strovia

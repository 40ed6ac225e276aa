// sd_kal against speech-dispatcher's own eSpeak NG module, in one
// speech-dispatcher with both modules, on one private PulseAudio null sink:
// from a client's speak request to the first audio at the sink, and from a
// client's cancel to silence there; and from a cancel followed at once by the
// next speak request to that text's begin event at the client. Rounds
// alternate between the modules; medians are printed side by side.
//   usage: sd_kal_bench [ROUNDS]   (scripts/bench-sdmodule.sh builds and runs it;
//   SD_KAL_BENCH_KEEP=1 keeps its folder under /tmp with the logs)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sdmodule/harness.h"

namespace {
constexpr int kDefaultRounds = 10;
// How long speech plays before the cancel.
constexpr auto kSpeakBeforeStop = std::chrono::milliseconds(800);
// Quiet this long at the sink counts as silence.
constexpr auto kQuiet = std::chrono::milliseconds(300);
constexpr auto kSoundLimit = std::chrono::seconds(5);
constexpr auto kQuietLimit = std::chrono::seconds(10);
constexpr auto kEventLimit = std::chrono::seconds(10);
const char* kText = "The quick brown fox jumps over the lazy dog, again and again, until the sun goes down.";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Figures {
    std::vector<double> firstAudio, stopToSilence, interrupt;
    int failures = 0;
};

// Waits for the end of the message in hand (702, 703 or 704).
void WaitForDone(SsipClient& client) {
    for (;;) {
        const SsipMessage event = client.NextEvent(std::chrono::duration_cast<std::chrono::milliseconds>(kEventLimit));
        if (!event.code || (event.code >= 702 && event.code <= 704)) return;
    }
}

bool Round(SpeechWorld& world, SsipClient& client, const std::string& module, Figures& figures) {
    if (client.Command("SET self OUTPUT_MODULE " + module).code / 100 != 2) return false;
    Clock::time_point last;
    world.monitor.WaitForQuiet(kQuiet, Clock::now() + kQuietLimit, last);
    client.DropEvents();
    const Clock::time_point asked = Clock::now();
    if (client.Speak(kText).code != 225) return false;
    Clock::time_point heard;
    if (!world.monitor.WaitForSound(asked, asked + kSoundLimit, heard)) return false;
    std::this_thread::sleep_for(kSpeakBeforeStop);
    const Clock::time_point stopped = Clock::now();
    if (client.Command("CANCEL self").code != 213) return false;
    if (!world.monitor.WaitForQuiet(kQuiet, stopped + kQuietLimit, last)) return false;
    WaitForDone(client);
    figures.firstAudio.push_back(Ms(heard - asked));
    figures.stopToSilence.push_back(std::max(0.0, Ms(last - stopped)));

    // A screen reader's usual case: cancel what is spoken and speak the next
    // text at once. Measured to the new text's begin event at the client (its
    // audio cannot be told from the old text's at the sink).
    world.monitor.WaitForQuiet(kQuiet, Clock::now() + kQuietLimit, last);
    client.DropEvents();
    if (client.Speak(kText).code != 225) return false;
    if (!world.monitor.WaitForSound(Clock::now(), Clock::now() + kSoundLimit, heard)) return false;
    std::this_thread::sleep_for(kSpeakBeforeStop);
    const Clock::time_point interrupted = Clock::now();
    if (client.Command("CANCEL self").code != 213) return false;
    const SsipMessage queued = client.Speak(kText);
    if (queued.code != 225 || queued.lines.empty()) return false;
    for (;;) {
        const SsipMessage event = client.NextEvent(std::chrono::duration_cast<std::chrono::milliseconds>(kEventLimit));
        if (!event.code) return false;
        if (event.code == 701 && !event.lines.empty() && event.lines[0] == queued.lines[0]) {
            figures.interrupt.push_back(Ms(event.arrived - interrupted));
            break;
        }
    }
    if (client.Command("CANCEL self").code != 213) return false;
    WaitForDone(client);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultRounds;
    const std::string product = SD_KAL_PRODUCT_DIR;
    const std::string folder = "/tmp/sd_kal_bench-" + std::to_string(getpid()) + "/";
    SpeechWorld world;
    std::string error;
    // speech-dispatcher's own eSpeak NG module as Debian installs it.
    if (!world.Start(folder,
                     {{"kal", product + "/sd_kal", product + "/kal.conf"},
                      {"espeak-ng", "sd_espeak-ng", "/etc/speech-dispatcher/modules/espeak-ng.conf"}},
                     error)) {
        fprintf(stderr, "sd_kal_bench: %s\n", error.c_str());
        return 1;
    }
    SsipClient client;
    if (!client.Connect(world.ssipSocket, error)) {
        fprintf(stderr, "sd_kal_bench: %s\n", error.c_str());
        return 1;
    }
    for (const char* line : {"SET self CLIENT_NAME bench:sd_kal:main", "SET self NOTIFICATION all on",
                             "SET self LANGUAGE en-US", "SET self RATE 0"})
        client.Command(line);

    const std::vector<std::string> modules = {"kal", "espeak-ng"};
    std::vector<Figures> figures(modules.size());
    // One warm-up round each: the first speech of a module loads its voice.
    for (size_t m = 0; m < modules.size(); ++m) {
        Figures warm;
        Round(world, client, modules[m], warm);
    }
    for (int round = 0; round < rounds; ++round)
        for (size_t k = 0; k < modules.size(); ++k) {
            // Alternate which module goes first in a round.
            const size_t m = (k + static_cast<size_t>(round)) % modules.size();
            if (!Round(world, client, modules[m], figures[m])) ++figures[m].failures;
        }
    client.Command("QUIT");
    world.Stop();

    printf("speech-dispatcher 0.11, private PulseAudio null sink, %d interleaved rounds, medians in ms\n", rounds);
    printf("%-34s %12s %12s\n", "", "sd_kal", "espeak-ng");
    printf("%-34s %12.1f %12.1f\n", "speak request -> first audio", Median(figures[0].firstAudio),
           Median(figures[1].firstAudio));
    printf("%-34s %12.1f %12.1f\n", "cancel -> silence", Median(figures[0].stopToSilence), Median(figures[1].stopToSilence));
    printf("%-34s %12.1f %12.1f\n", "cancel + speak -> new begin event", Median(figures[0].interrupt),
           Median(figures[1].interrupt));
    printf("%-34s %12d %12d\n", "rounds that failed", figures[0].failures, figures[1].failures);
    if (!getenv("SD_KAL_BENCH_KEEP")) std::filesystem::remove_all(folder);
    return figures[0].failures || figures[1].failures ? 1 : 0;
}

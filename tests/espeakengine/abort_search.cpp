// Looks for texts on which eSpeak NG itself ends the process (an abort such as
// "stack smashing detected", a fault): it speaks generated texts as the engine
// does (synchronous synthesis, UTF-8, the product's voices) each in a forked
// child, and prints every text whose child died of a signal, as a C string.
// Not part of the product; the texts it finds go into the isolated-mode tests.
//   usage: kal_espeak_abort_search [SECONDS] [SEED]
//          kal_espeak_abort_search --shortest VOICE UNIT   (the fewest repeats of UNIT that end it)
#include <espeak-ng/speak_lib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {
// A child that has not finished by then counts as hung, not as an abort.
constexpr int kChildSeconds = 10;
constexpr int kDefaultSeconds = 60;
constexpr int kMostRepeats = 400;

int Discard(short*, int, espeak_EVENT*) { return 0; }

// Pieces the texts are made of: abbreviations, initials, numbers, punctuation
// runs, the kinds of text a web page can put in front of a screen reader.
const char* const kPieces[] = {"A.", "B.", "A.B.", "Dr.", "z.B.", "1.", "12.", "3,5", "-", "--", "...", "!", "?",
                               ":", ";", ",", "'", "\"", "(", ")", "[", "]", "#", "$", "%", "&", "*", "+", "/",
                               "\\", "x", "ab", "Zz", "U.S.", "e.g.", "I.", "IV.", "0", "007", "1.2.3.", " ", "  ",
                               "\xc3\xa4.", "\xc3\x9f", "\xe2\x80\xa6", "a-b", "A-B.", "www.", ".de", "@"};
const char* const kVoices[] = {"de", "en-gb", "en-us"};

std::string Generate(std::mt19937& random) {
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const int unitPieces = 1 + pick(4);
    std::string unit;
    for (int i = 0; i < unitPieces; ++i) unit += kPieces[pick(sizeof kPieces / sizeof *kPieces)];
    if (pick(2)) unit += " ";
    const int repeats = 5 + pick(120);
    std::string text;
    for (int i = 0; i < repeats && text.size() < 4000; ++i) text += unit;
    return text;
}

// 1 when the child died of a signal, 0 when it returned, -1 when it hung.
int SpeakInChild(const std::string& text, const char* voice) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(kChildSeconds);
        espeak_SetVoiceByName(voice);
        espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return 0;
    if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGALRM ? -1 : 1;
    return 0;
}

void PrintCString(const std::string& text, const char* voice, int how) {
    printf("%s %s \"", how > 0 ? "abort" : "hang", voice);
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') printf("\\%c", c);
        else if (c < 0x20 || c >= 0x7F) printf("\\x%02x\"\"", c);
        else putchar(c);
    }
    printf("\"\n");
    fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
    const bool shortest = argc == 4 && strcmp(argv[1], "--shortest") == 0;
    const int seconds = argc > 1 ? atoi(argv[1]) : kDefaultSeconds;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(atoi(argv[2])) : 1;
    // Started once: each child inherits a ready library (no threads in synchronous mode).
    if (espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 20, nullptr, espeakINITIALIZE_DONT_EXIT) <= 0) {
        fprintf(stderr, "eSpeak NG does not start\n");
        return 1;
    }
    espeak_SetSynthCallback(Discard);
    if (shortest) {
        std::string text;
        for (int repeats = 1; repeats <= kMostRepeats; ++repeats) {
            text += argv[3];
            if (SpeakInChild(text, argv[2]) > 0) {
                printf("%d\n", repeats);
                return 0;
            }
        }
        printf("none\n");
        return 0;
    }
    std::mt19937 random(seed);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    long tried = 0, found = 0;
    while (std::chrono::steady_clock::now() < end) {
        const std::string text = Generate(random);
        const char* voice = kVoices[random() % 3];
        ++tried;
        if (const int how = SpeakInChild(text, voice)) {
            ++found;
            PrintCString(text, voice, how);
        }
    }
    fprintf(stderr, "abort-search: %ld texts, %ld ended the process or hung\n", tried, found);
    return 0;
}

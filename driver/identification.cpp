#include "driver/driver.h"

namespace {
constexpr char kWording[] =
    "kal_drv - Sprachausgabe-Treiber fuer den Screenreader-Sprachkanal, "
    "Version 1.0. Hergestellt vom kal-Treiberteam (c) 2026, "
    "https://kal-drv.invalid/ ";

constexpr int TextLength(const char* s) {
    int n = 0;
    while (s[n]) ++n;
    return n;
}

struct Identification {
    char text[sizeof kWording + 64];
};

// Built at compile time, so the text lives in static storage for the process's life.
constexpr Identification MakeIdentification() {
    Identification id{};
    int at = 0;
    auto put = [&](const char* s) {
        for (int i = 0; s[i]; ++i) id.text[at++] = s[i];
    };
    put(kWording);
    put("Date: ");
    char date[12] = {};
    BuildStampDate(__DATE__, date);
    put(date);
    put(" Time: ");
    put(__TIME__);
    id.text[at] = '\0';
    return id;
}

constexpr Identification kIdentification = MakeIdentification();
static_assert(TextLength(kIdentification.text) == TextLength(kWording) + 6 + 11 + 7 + 8,
              "the stamp is Date: Mmm dd yyyy Time: hh:mm:ss");
}  // namespace

const char* const IdentificationString = kIdentification.text;

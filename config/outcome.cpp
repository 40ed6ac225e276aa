#include "config/outcome.h"

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
#define KAL_OUTCOME_TEXT(name, text) \
    case Outcome::name:              \
        return text;
        KAL_OUTCOMES(KAL_OUTCOME_TEXT)
#undef KAL_OUTCOME_TEXT
    }
    return "unknown outcome";
}

/* A Linux host built from the installed native package alone: lists the
 * voices, then speaks one text and exits 0 only when its callback saw that
 * text begin and end. Linked with -lkal_drv, so the driver is found in the
 * library path at start, and it finds its engine and kal.ini in its own folder. */
#define _POSIX_C_SOURCE 199309L /* nanosleep */
#include <stdio.h>
#include <time.h>

#include <kal_drv.h>

/* How long the end event may take after kal_Synchronize returns, in 10 ms steps. */
#define END_WAIT_STEPS 500

static int begins;
static int ends;
static int beginMark = -1;
static int endMark = -1;

static int on_event(const KalSynthEvent* event) {
    /* The record is rewritten by the next notification: read it once. */
    int message = event->message;
    int mark = event->mark;
    if (message == KAL_MSG_BEGIN) {
        __atomic_store_n(&beginMark, mark, __ATOMIC_SEQ_CST);
        __atomic_add_fetch(&begins, 1, __ATOMIC_SEQ_CST);
    } else if (message == KAL_MSG_END) {
        __atomic_store_n(&endMark, mark, __ATOMIC_SEQ_CST);
        __atomic_add_fetch(&ends, 1, __ATOMIC_SEQ_CST);
    }
    return 0;
}

int main(void) {
    static const kal_char16 text[] = {'H', 'e', 'l', 'l', 'o', ' ', 'f', 'r', 'o', 'm', ' ',
                                      't', 'h', 'e', ' ', 'p', 'a', 'c', 'k', 'a', 'g', 'e', 0};
    const struct timespec tick = {0, 10 * 1000 * 1000};
    KalVoiceDescriptor** voices;
    int count = 0;
    int rate;
    int step;
    kal_SetSynthCallback(on_event);
    rate = kal_Initialize();
    printf("rate=%d\n", rate);
    if (rate == -1) return 2;
    voices = kal_ListVoices(NULL);
    for (; voices && voices[count]; ++count) printf("voice %s %s\n", voices[count]->identifier, voices[count]->name);
    printf("voices=%d\n", count);
    kal_SetVoiceByName("English");
    printf("current=%s\n", kal_GetCurrentVoice()->identifier);
    kal_Synth(text, 5);
    kal_Synchronize();
    /* The driver is idle just before it calls back with the end. */
    for (step = 0; step < END_WAIT_STEPS && __atomic_load_n(&ends, __ATOMIC_SEQ_CST) == 0; ++step) nanosleep(&tick, NULL);
    printf("begins=%d ends=%d begin_mark=%d end_mark=%d\n", begins, ends, beginMark, endMark);
    kal_Terminate();
    return (count > 0 && begins == 1 && ends == 1 && beginMark == 5 && endMark == 5) ? 0 : 3;
}

/* A host built from the release alone: lists the voices, then speaks one text
 * and exits 0 only when its callback saw that text begin and end. Linked with
 * the import library, so the driver must be beside it at start. */
#include <stdio.h>
#include <windows.h>

#include <kal_drv.h>

/* How long the end event may take after kal_Synchronize returns, in 10 ms steps. */
#define END_WAIT_STEPS 500

static volatile LONG begins;
static volatile LONG ends;
static volatile LONG beginMark = -1;
static volatile LONG endMark = -1;

static int KAL_CDECL on_event(const KalSynthEvent* event) {
    /* The record is rewritten by the next notification: read it once. */
    int message = event->message;
    int mark = event->mark;
    if (message == KAL_MSG_BEGIN) {
        InterlockedExchange(&beginMark, mark);
        InterlockedIncrement(&begins);
    } else if (message == KAL_MSG_END) {
        InterlockedExchange(&endMark, mark);
        InterlockedIncrement(&ends);
    }
    return 0;
}

int main(void) {
    static const wchar_t text[] = L"Hallo aus dem Paket";
    KalVoiceDescriptor** voices;
    int count = 0;
    int rate;
    int step;
    kal_SetSynthCallback(on_event);
    rate = kal_Initialize();
    printf("pointer=%u rate=%d\n", (unsigned)(sizeof(void*) * 8), rate);
    if (rate == -1) return 2;
    voices = kal_ListVoices(NULL);
    for (; voices && voices[count]; ++count) printf("voice %s %s\n", voices[count]->identifier, voices[count]->name);
    printf("voices=%d\n", count);
    kal_SetVoiceByName("Anna");
    kal_Synth(text, 5);
    kal_Synchronize();
    /* The driver is idle just before it calls back with the end. */
    for (step = 0; step < END_WAIT_STEPS && ends == 0; ++step) Sleep(10);
    printf("begins=%ld ends=%ld begin_mark=%ld end_mark=%ld\n", (long)begins, (long)ends, (long)beginMark, (long)endMark);
    kal_Terminate();
    return (count > 0 && begins == 1 && ends == 1 && beginMark == 5 && endMark == 5) ? 0 : 3;
}

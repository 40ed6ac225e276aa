/* A minimal host in plain C, built against the installed header and import
 * library: speaks one text and exits 0 only when its callback saw the begin
 * and the end of it. */
#include <stdio.h>
#include <windows.h>

#include <kal_drv.h>

static volatile LONG begins;
static volatile LONG ends;
static volatile LONG lastMark = -1;

static int KAL_CDECL on_event(const KalSynthEvent* event) {
    /* The record is rewritten by the next notification: read it once. */
    int message = event->message;
    InterlockedExchange(&lastMark, event->mark);
    if (message == KAL_MSG_BEGIN) InterlockedIncrement(&begins);
    if (message == KAL_MSG_END) InterlockedIncrement(&ends);
    return 0;
}

int main(void) {
    static const wchar_t text[] = L"Hallo aus C";
    int rate;
    int waited;
    kal_SetSynthCallback(on_event);
    rate = kal_Initialize();
    if (rate == -1) {
        printf("engine did not start\n");
        return 2;
    }
    kal_Synth(text, 7);
    kal_Synchronize();
    /* The driver is idle just before it calls back with the end. */
    for (waited = 0; waited < 5000 && ends == 0; waited += 10) Sleep(10);
    printf("rate=%d begins=%ld ends=%ld mark=%ld\n", rate, (long)begins, (long)ends, (long)lastMark);
    kal_Terminate();
    return (begins == 1 && ends == 1 && lastMark == 7) ? 0 : 3;
}

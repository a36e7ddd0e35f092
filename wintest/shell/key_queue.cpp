/*
 * The keyboard queue and the message pumping that runs while a test draws. The tests have
 * no message loop of their own: KeyAvailable and GetKey are the only places where the
 * thread's messages are retrieved and dispatched while a test runs.
 */
#include "shell.h"

/* Codes of WM_KEYDOWN waiting for the test. Pushed by TestWindowProc (PushKey) during a
 * dispatch inside KeyAvailable or GetKey; taken by GetKey. Empty when the indices are equal. */
KeyQueueState KeyQueue;

#define KEY_QUEUE_MASK 0xFF

static int KeyQueueEmpty(void) {
    return KeyQueue.writeIndex == KeyQueue.readIndex;
}

/***********************************************************************
 *           PushKey
 *
 * Queues a key code. With 255 codes unread the queue is full: the new code is dropped, so
 * the codes already waiting are kept (advancing the write index onto the read index would
 * make the queue read as empty and lose all of them).
 */
void PushKey(DWORD code) {
    unsigned next = (KeyQueue.writeIndex + 1) & KEY_QUEUE_MASK;
    if (next == KeyQueue.readIndex)
        return;
    KeyQueue.slots[KeyQueue.writeIndex] = code;
    KeyQueue.writeIndex = next;
}

/* Takes the oldest code; the queue must not be empty. */
static signed char TakeKey(void) {
    DWORD code = KeyQueue.slots[KeyQueue.readIndex];
    KeyQueue.readIndex = (KeyQueue.readIndex + 1) & KEY_QUEUE_MASK;
    return (signed char)(code & 0xFF);
}

/***********************************************************************
 *           KeyAvailable
 *
 * Returns 1 when a key code is waiting, 0 when none is. Dispatches pending messages until a
 * key arrives or none is left; never blocks.
 */
int KeyAvailable(void) {
    if (!KeyQueueEmpty())
        return 1;
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        if (!KeyQueueEmpty())
            return 1;
    }
    return 0;
}

/***********************************************************************
 *           GetKey
 *
 * Returns the low 8 bits of the oldest key code as a signed character and removes it;
 * waits for messages until one arrives. Returns 0 when the message retrieval reports
 * WM_QUIT.
 */
signed char GetKey(void) {
    if (!KeyQueueEmpty())
        return TakeKey();
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        if (!KeyQueueEmpty())
            return TakeKey();
    }
    return 0;
}

#pragma once
// One-shot timers keyed by (owner, timer id), measured on the injectable clock. A due timer is
// removed before its owner hears of it, so the owner may start it again from TimerEvent.

#include <cstdint>

class TimerOwner
{
public:
    virtual void TimerEvent(int TimerID) = 0;

protected:
    ~TimerOwner() = default;
};

// (Re)starts timer (Owner, TimerID) to expire Elapse milliseconds from now. Returns a non-zero
// handle.
long StartTimer(TimerOwner* Owner, long Elapse, int TimerID);
// Stops and forgets the timer; nothing happens when there is none.
void StopTimer(int TimerID, TimerOwner* Owner);
// Forgets every timer of Owner (an owner that goes away must call this).
void StopAllTimers(TimerOwner* Owner);
// Milliseconds until the earliest deadline (0 when one is due), -1 when no timer is pending.
std::int64_t MsUntilNextTimer();
// Runs the owners of all timers that are due on the clock now, earliest first. Called by the
// event loop after each pass; tests call it after moving a FakeClock.
void RunDueTimers();
// Number of pending timers (for tests).
std::size_t PendingTimerCount();

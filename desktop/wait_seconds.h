// The wait that paces the advertisement window: a number of seconds spent
// on a named waitable timer while the thread's window messages keep being
// handed to the caller, so every other window stays usable meanwhile.
// Win32 only; uses the platform alone.
//
// The timer is named after the program's executable ("orvantarunTimer"),
// so two running copies share one timer: a copy that finds it existing
// does not arm it the first time and re-arms it for its own wait.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// The timer's name: the executable's file name without folder and
// extension, followed by "Timer".
std::string waitTimerName();

// Returns true once `seconds` have passed. Every message taken from the
// thread's queue meanwhile goes to dispatch, which translates and
// dispatches it as the caller's own loop would (accelerators, dialog
// keys); dispatch returns false to end the wait early.
//
// Returns false without waiting out the time when dispatch asked to stop,
// when the timer cannot be made or armed, or when the program is ending: a
// WM_QUIT taken from the queue is posted again for the caller's own loop.
// timerExisted, when given, tells whether the named timer already existed.
bool WaitSeconds(int32_t seconds, const std::function<bool(MSG&)>& dispatch, bool* timerExisted = nullptr);

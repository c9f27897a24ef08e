#pragma once

namespace docuflume {

// Lets the window handle what is waiting: repaints, clicks, a close.
void YieldToWindow();

// While the program waits for the word processor on Windows: the window repaints, can be
// moved and can be closed, and nothing more. Clicks and keys made meanwhile are dropped, as
// a busy window drops them, so that no handler (and no dialog of one) runs in the middle of
// a call. (Elsewhere the input, and a close with it, waits until the next yield.)
void YieldWhileWaiting();

// The same for loops that yield very often (a folder walk): the window is served at most
// every few milliseconds, so that it stays alive without the walk paying a repaint per
// folder.
void YieldToWindowThrottled();

} // namespace docuflume
